// Palette files are recognised by their content, not their name: the text
// formats by their first line, a PNG by its signature, and the binary dumps
// by their length (32 and 512 bytes are SNES colour words, 772 bytes the
// Adobe table with its trailer, any other multiple of 3 up to 768 RGB
// triplets). No length is claimed by two of the binary formats.
#include "gfx/palette.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "common/resources.h"
#include "gfx/png_io.h"

namespace tilvex {

namespace {

// Palette files are small, but a PNG whose palette is taken may be a picture.
constexpr std::size_t kMostPaletteBytes = std::size_t{64} << 20;

bool starts_with(const std::uint8_t* bytes, std::size_t size, const char* text) {
  const std::size_t length = std::strlen(text);
  return size >= length && std::memcmp(bytes, text, length) == 0;
}

// The colour in a line of three decimal numbers 0-255; false otherwise.
bool parse_rgb_line(const std::string& line, Colour* colour) {
  std::istringstream in(line);
  int r = -1, g = -1, b = -1;
  if (!(in >> r >> g >> b)) return false;
  if (r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255) return false;
  *colour = {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
             static_cast<std::uint8_t>(b)};
  return true;
}

std::vector<std::string> text_lines(const std::uint8_t* bytes, std::size_t size) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

bool parse_jasc(const std::uint8_t* bytes, std::size_t size, std::vector<Colour>* colours,
                std::string* problem) {
  const std::vector<std::string> lines = text_lines(bytes, size);
  int count = -1;
  if (lines.size() < 3 || std::sscanf(lines[2].c_str(), "%d", &count) != 1 || count < 1 ||
      count > 256 || lines.size() < 3 + static_cast<std::size_t>(count)) {
    *problem = "JASC-PAL palette without a colour count and that many colours";
    return false;
  }
  for (int i = 0; i < count; ++i) {
    Colour colour;
    if (!parse_rgb_line(lines[3 + i], &colour)) {
      *problem = "JASC-PAL line " + std::to_string(4 + i) + " is not three numbers 0-255";
      return false;
    }
    colours->push_back(colour);
  }
  return true;
}

bool parse_gimp(const std::uint8_t* bytes, std::size_t size, std::vector<Colour>* colours,
                std::string* problem) {
  const std::vector<std::string> lines = text_lines(bytes, size);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#' || line.compare(0, 5, "Name:") == 0 ||
        line.compare(0, 8, "Columns:") == 0) {
      continue;
    }
    Colour colour;
    if (!parse_rgb_line(line, &colour) || colours->size() == 256) {
      *problem = "GIMP palette line " + std::to_string(i + 1) + " is not a colour";
      return false;
    }
    colours->push_back(colour);
  }
  return true;
}

}  // namespace

Palette grey_palette() {
  Palette palette;
  for (std::uint32_t i = 0; i < kPaletteColours; ++i) {
    const auto level = static_cast<std::uint8_t>(i * 17);
    palette[i] = {level, level, level};
  }
  return palette;
}

bool parse_palette(const std::uint8_t* bytes, std::size_t size, std::vector<Colour>* colours,
                   PaletteFormat* format, std::string* problem) {
  colours->clear();
  if (is_png(bytes, size)) {
    *format = PaletteFormat::Png;
    PngPicture picture;
    if (!decode_png(bytes, size, true, &picture, problem)) return false;
    if (picture.palette.empty()) {
      *problem = "PNG without a palette (only indexed pictures have one)";
      return false;
    }
    *colours = std::move(picture.palette);
    return true;
  }
  if (starts_with(bytes, size, "JASC-PAL")) {
    *format = PaletteFormat::JascPal;
    return parse_jasc(bytes, size, colours, problem);
  }
  if (starts_with(bytes, size, "GIMP Palette")) {
    *format = PaletteFormat::Gimp;
    if (!parse_gimp(bytes, size, colours, problem)) return false;
    if (colours->empty()) {
      *problem = "GIMP palette without colours";
      return false;
    }
    return true;
  }
  if (size == 32 || size == 512) {
    *format = PaletteFormat::Snes;
    for (std::size_t i = 0; i < size; i += 2)
      colours->push_back(snes_colour(bytes[i] | std::uint32_t{bytes[i + 1]} << 8));
    return true;
  }
  if (size == 772 || (size % 3 == 0 && size >= 3 && size <= 768)) {
    *format = size == 772 ? PaletteFormat::Act : PaletteFormat::RawRgb;
    std::size_t count = size == 772 ? 256 : size / 3;
    if (size == 772) {
      // The trailer's count, when set, says how many entries are used.
      const std::uint32_t used = std::uint32_t{bytes[768]} << 8 | bytes[769];
      if (used >= 1 && used <= 256) count = used;
    }
    for (std::size_t i = 0; i < count; ++i)
      colours->push_back({bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]});
    return true;
  }
  *problem = "not a palette this program reads (" + std::to_string(size) +
             " bytes: none of SNES colours, JASC-PAL, GIMP, ACT, RGB triplets or an indexed PNG)";
  return false;
}

bool load_palette(const std::string& path, std::uint32_t row, Palette* palette,
                  std::string* problem) {
  std::vector<std::uint8_t> bytes;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *problem = "cannot read palette " + path + ": " + std::strerror(errno);
    return false;
  }
  std::uint8_t chunk[16384];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > kMostPaletteBytes) {
      *problem = "palette " + path + " is too large for a palette file";
      return false;
    }
  }
  if (std::ferror(file.get())) {
    *problem = "cannot read palette " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<Colour> colours;
  PaletteFormat format;
  std::string why;
  if (!parse_palette(bytes.data(), bytes.size(), &colours, &format, &why)) {
    *problem = "palette " + path + ": " + why;
    return false;
  }
  const std::size_t first = std::size_t{row} * kPaletteColours;
  if (first + kPaletteColours > colours.size()) {
    *problem = "palette " + path + " has " + std::to_string(colours.size()) + " colours; row " +
               std::to_string(row) + " needs colours " + std::to_string(first) + " to " +
               std::to_string(first + kPaletteColours - 1);
    return false;
  }
  for (std::uint32_t i = 0; i < kPaletteColours; ++i) (*palette)[i] = colours[first + i];
  return true;
}

}  // namespace tilvex
