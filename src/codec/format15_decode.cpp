// Format 15 decoder: rebuilds the 128-pixel-wide picture row by row from the
// bit stream, then converts it into 4bpp planar tiles.
//
// The stream is read straight out of the cartridge image with rom_seek and
// rom_read. Bytes are consumed in order and the bits of each byte from bit 0
// upwards, so the stream is one little-endian bit string: the reader fetches
// the image in chunks and keeps a 64-bit window whose bit 0 is the next stream
// bit. Bytes at or past the end of the image read as 0. The number of bytes the
// decoder has consumed follows from the number of bits taken (a byte counts
// once its first bit is taken), so the look-ahead never shows: the end position
// counts consumed bytes only, and the image's position is put back where
// byte-by-byte reads would have left it.
//
// Every row starts as a copy of the row above (zeros for the first row) and is
// rewritten in place by its commands, from the right end to the left.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "codec/format15.h"
#include "common/resources.h"

namespace tilvex {
namespace {

constexpr std::uint32_t kWidth = 128;
constexpr std::uint32_t kWorkSize = 0x10000;  // picture followed by its tile data

// The stream's bytes after its header, fetched from the cartridge image in
// chunks with rom_read; bytes the image no longer delivers read as 0.
class ChunkSource {
 public:
  ChunkSource(RomHandle image, std::uint32_t offset)
      : image_(image), offset_(offset), stored_size_(image->data ? image->size : 0) {
    rom_seek(image_, static_cast<std::int32_t>(offset_), kRomSeekSet);
  }

  ChunkSource(const ChunkSource&) = delete;
  ChunkSource& operator=(const ChunkSource&) = delete;

  // The stream header; bytes missing at the image end read as 0.
  std::uint32_t read_header() {
    std::uint8_t header[4] = {0, 0, 0, 0};
    rom_read(header, 4, 1, image_);
    return std::uint32_t{header[0]} | std::uint32_t{header[1]} << 8 |
           std::uint32_t{header[2]} << 16 | std::uint32_t{header[3]} << 24;
  }

  // The next eight bytes when they lie in the current chunk.
  bool has_word() const { return used_ + 8 <= kChunkSize; }
  std::uint64_t word() const {
    std::uint64_t word;
    std::memcpy(&word, chunk_ + used_, 8);
    return word;
  }
  void advance(unsigned bytes) { used_ += bytes; }

  std::uint8_t next_byte() {
    if (used_ == kChunkSize) {
      std::memset(chunk_, 0, kChunkSize);
      rom_read(chunk_, 1, kChunkSize, image_);
      used_ = 0;
    }
    return chunk_[used_++];
  }

  // Leaves the image's position where byte-by-byte reads would have left
  // it: just past the last byte consumed, or where the reads stopped
  // delivering.
  void settle(std::uint64_t read_position) {
    std::uint32_t position = offset_;
    if (offset_ < stored_size_) {
      position = static_cast<std::uint32_t>(std::min<std::uint64_t>(stored_size_, read_position));
    }
    rom_seek(image_, static_cast<std::int32_t>(position), kRomSeekSet);
  }

 private:
  static constexpr std::uint32_t kChunkSize = 64;

  RomHandle image_;
  std::uint32_t offset_;
  std::uint64_t stored_size_;
  std::uint8_t chunk_[kChunkSize] = {};
  std::uint32_t used_ = kChunkSize;
};

// The stream bits, in a 64-bit window whose bit 0 is the next bit. Kept apart
// from the chunk buffer, whose address goes to rom_read, so that the window
// can stay in registers.
class BitReader {
 public:
  BitReader(ChunkSource& source, std::uint32_t offset, std::uint32_t header)
      : source_(source), offset_(offset), window_(header >> 28), available_(4) {}

  // Makes at least 57 bits visible; every read below takes at most 25 bits
  // between two refills.
  void refill() {
    if (available_ > 56) return;
    if (source_.has_word() && std::endian::native == std::endian::little) {
      window_ |= source_.word() << available_;
      // Whole bytes only; the bits of a partly loaded byte are loaded again,
      // unchanged, by the next refill.
      const unsigned bytes = (64 - available_) >> 3;
      source_.advance(bytes);
      available_ += bytes * 8;
      return;
    }
    while (available_ <= 56) {
      window_ |= std::uint64_t{source_.next_byte()} << available_;
      available_ += 8;
    }
  }

  std::uint64_t peek() const { return window_; }

  void skip(unsigned bits) {
    window_ >>= bits;
    available_ -= bits;
    taken_ += bits;
  }

  // An n-bit field, most significant bit first.
  unsigned field(unsigned bits) {
    static constexpr std::uint8_t kReversed[16] = {0, 8, 4, 12, 2, 10, 6, 14,
                                                   1, 9, 5, 13, 3, 11, 7, 15};
    const unsigned raw = static_cast<unsigned>(window_ & ((1u << bits) - 1));
    skip(bits);
    return kReversed[raw] >> (4 - bits);
  }

  // The read position: the stream start plus the header plus every byte
  // fetched so far (a byte is fetched when its first bit is taken).
  std::uint64_t read_position() const {
    const std::uint64_t fetched = taken_ <= 4 ? 0 : (taken_ - 4 + 7) / 8;
    return std::uint64_t{offset_} + 4 + fetched;
  }

 private:
  ChunkSource& source_;
  std::uint32_t offset_;
  std::uint64_t window_;
  unsigned available_;
  std::uint64_t taken_ = 0;  // stream bits taken, the four in the header included
};

// Reads a count code: pairs "1 b" add the weight when b is 1, a single 0 adds
// the weight and ends the code. Returns 0 for a code of more than seven pairs,
// after taking the eighth pair.
unsigned read_count(BitReader& reader) {
  const std::uint64_t bits = reader.peek();
  if ((bits & 1) == 0) {
    reader.skip(1);
    return 1;
  }
  unsigned count = 0;
  unsigned weight = 1;
  unsigned used = 0;
  while ((bits >> used) & 1) {
    if ((bits >> (used + 1)) & 1) count += weight;
    weight <<= 1;
    used += 2;
    if (weight > 128) {
      reader.skip(used);
      return 0;
    }
  }
  reader.skip(used + 1);
  return count + weight;
}

// The first column left of c whose pixel differs from row[c], or -1.
int left_neighbour(const std::uint8_t* row, int c) {
  const std::uint8_t colour = row[c];
  int s = c - 1;
  while (s >= 0 && row[s] == colour) --s;
  return s;
}

enum Command : unsigned { KeepRuns = 0, Fill = 1, ExtendRun = 2, CutRun = 3 };

// Most commands are short: a table indexed by the next kLookahead stream bits
// gives the whole command (its length in bits, count, command code, colour
// index and explicit colour) in one step. Entries are 0 where the command does
// not fit in those bits; those, malformed count codes among them, take the
// bit-by-bit path.
constexpr unsigned kLookahead = 10;
using CommandTable = std::array<std::uint32_t, 1u << kLookahead>;

constexpr std::uint32_t pack_command(unsigned length, unsigned count, unsigned command,
                                     unsigned index, unsigned colour) {
  return length | count << 5 | command << 13 | index << 15 | colour << 18;
}

constexpr CommandTable make_command_table(bool reference_mode) {
  CommandTable table{};
  for (unsigned bits = 0; bits < table.size(); ++bits) {
    unsigned used = 0;
    bool fits = true;
    auto next = [&]() -> unsigned {
      if (used == kLookahead) fits = false;
      return fits ? (bits >> used++) & 1u : 0u;
    };
    auto field = [&](unsigned length) {
      unsigned value = 0;
      while (length-- > 0) value = value << 1 | next();
      return value;
    };
    unsigned count = 0, weight = 1;
    while (fits && next() == 1) {
      if (next() == 1) count += weight;
      weight <<= 1;
    }
    count += weight;
    const unsigned command = reference_mode ? field(2) : unsigned{Fill};
    const unsigned index = command == Fill ? field(3) : 0;
    const unsigned colour = index == 7 ? field(4) : 0;
    if (fits) table[bits] = pack_command(used, count, command, index, colour);
  }
  return table;
}

constexpr CommandTable kFillRowCommands = make_command_table(false);
constexpr CommandTable kReferenceRowCommands = make_command_table(true);

// Decodes one row in place over its reference row. False on a malformed command.
bool decode_row(BitReader& reader, std::uint8_t* row, const std::uint8_t* table) {
  reader.refill();
  const bool reference_mode = reader.field(1) != 0;
  const CommandTable& commands = reference_mode ? kReferenceRowCommands : kFillRowCommands;
  int c = static_cast<int>(kWidth) - 1;
  while (c >= 0) {
    reader.refill();
    unsigned count, command, index, explicit_colour;
    const std::uint32_t step = commands[reader.peek() & ((1u << kLookahead) - 1)];
    if (step != 0) {
      reader.skip(step & 31);
      count = (step >> 5) & 0xFF;
      command = (step >> 13) & 3;
      index = (step >> 15) & 7;
      explicit_colour = (step >> 18) & 15;
    } else {
      count = read_count(reader);
      if (count == 0) return false;
      command = reference_mode ? reader.field(2) : unsigned{Fill};
      index = 0;
      explicit_colour = 0;
      if (command == Fill) {
        index = reader.field(3);
        if (index == 7) explicit_colour = reader.field(4);
      }
    }
    const int n = static_cast<int>(count);
    switch (command) {
      case Fill: {
        // The colour fields come before the length check, so a failing fill
        // has consumed them.
        if (n > c + 1) return false;
        const std::uint8_t colour =
            static_cast<std::uint8_t>(index == 7 ? explicit_colour : table[index]);
        if (n == 1) {
          row[c] = colour;
        } else {
          std::memset(row + c - n + 1, colour, static_cast<std::size_t>(n));
        }
        c -= n;
        break;
      }
      case KeepRuns:
        for (int i = 0; i < n; ++i) {
          if (c < 0) return false;
          c = left_neighbour(row, c);
        }
        break;
      case ExtendRun: {
        const std::uint8_t colour = row[c];
        const int s = left_neighbour(row, c);
        if (s < 0 || n > s + 1) return false;
        const std::uint8_t covered = row[s];
        std::memset(row + s - n + 1, colour, static_cast<std::size_t>(n));
        c = s - n;
        if (c >= 0) row[c] = covered;
        break;
      }
      case CutRun: {
        const int s = left_neighbour(row, c);
        const std::uint8_t neighbour = s >= 0 ? row[s] : 0;
        c = s + n;
        if (c > static_cast<int>(kWidth) - 1) return false;
        row[c] = neighbour;
        break;
      }
    }
  }
  return true;
}

// The eight pixels at pixels[0..7] as one word, the leftmost in the low byte.
std::uint64_t load_pixels(const std::uint8_t* pixels) {
  std::uint64_t word = 0;
  for (unsigned x = 0; x < 8; ++x) word |= std::uint64_t{pixels[x]} << (8 * x);
  return word;
}

// Bit k of each of the eight pixels of a word, as one plane byte with the
// leftmost pixel in bit 7. The multiplication moves bit 0 of byte x to bit
// 63 - x; all other partial products land on distinct lower bits, so no carry
// reaches the top byte.
std::uint8_t plane_byte(std::uint64_t pixels, unsigned k) {
  const std::uint64_t bits = (pixels >> k) & 0x0101010101010101u;
  return static_cast<std::uint8_t>((bits * 0x8040201008040201u) >> 56);
}

// Converts the picture of `rows` pixel rows into tiles, 16 to a band.
void picture_to_tiles(const std::uint8_t* picture, std::uint32_t rows, std::uint8_t* tiles) {
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint32_t band = y >> 3;
    const std::uint32_t r = y & 7;
    for (std::uint32_t column = 0; column < 16; ++column) {
      const std::uint64_t pixels = load_pixels(picture + y * kWidth + column * 8);
      std::uint8_t* tile = tiles + (band * 16 + column) * 32;
      tile[2 * r] = plane_byte(pixels, 0);
      tile[2 * r + 1] = plane_byte(pixels, 1);
      tile[16 + 2 * r] = plane_byte(pixels, 2);
      tile[17 + 2 * r] = plane_byte(pixels, 3);
    }
  }
}

}  // namespace

std::uint32_t format15_decode(RomHandle image, std::uint8_t* destination, std::uint32_t file_offset,
                              std::uint32_t max_size, std::uint32_t tile_rows,
                              std::uint32_t* end_position) {
  if (image == nullptr) return 0;
  // The picture and its tile data share the work buffer: at most 42 tile rows.
  // The row count itself is compared, so no product can overflow.
  if (tile_rows > kFormat15MaxDecodeRows) return 0;
  const std::uint32_t rows = 8 * tile_rows;
  const std::uint32_t picture_size = kWidth * rows;
  const std::uint32_t tile_size = picture_size / 2;

  ByteBuffer work = allocate_bytes(kWorkSize);
  if (!work) return 0;
  std::uint8_t* picture = work.get();

  bool ok = true;
  std::uint64_t read_position = 0;
  {
    ChunkSource source(image, file_offset);
    const std::uint32_t header = source.read_header();
    BitReader reader(source, file_offset, header);
    // Entries 0 to 6 of the colour table; index 7 brings its own colour.
    std::uint8_t table[8] = {};
    for (unsigned i = 0; i < 7; ++i) table[i] = (header >> (4 * i)) & 0xF;

    std::memset(picture, 0, kWidth);
    for (std::uint32_t y = 0; y < rows && ok; ++y) {
      std::uint8_t* row = picture + y * kWidth;
      if (y > 0) std::memcpy(row, row - kWidth, kWidth);
      ok = decode_row(reader, row, table);
    }
    read_position = reader.read_position();
    source.settle(read_position);
  }

  std::uint32_t decoded = 0;
  if (ok) {
    picture_to_tiles(picture, rows, picture + picture_size);
    decoded = tile_size;
    if (destination != nullptr) {
      std::memcpy(destination, picture + picture_size, std::min(decoded, max_size));
    }
  }

  if (end_position != nullptr) *end_position = static_cast<std::uint32_t>(read_position);
  return decoded;
}

}  // namespace tilvex
