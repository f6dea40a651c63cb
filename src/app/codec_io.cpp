// INPUT is opened with the standard library: a regular file is measured and
// seeked, anything else (standard input, a FIFO, a device) is read as a
// stream, in order, never further than asked. OUTPUT goes through the
// platform's one file replacement.
#include "app/codec_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

namespace tilvex {

namespace {

std::string reason() { return std::strerror(errno); }

}  // namespace

std::string input_label(const std::string& path) { return path == "-" ? "standard input" : path; }

std::string output_label(const std::string& path) { return path == "-" ? "standard output" : path; }

bool open_input(const std::string& path, CodecInput* input, std::string* problem) {
  *input = CodecInput{};
  input->label = input_label(path);
  if (path == "-") {
    input->file = stdin;
    return true;
  }
  input->owned.reset(std::fopen(path.c_str(), "rb"));
  if (!input->owned) {
    *problem = "cannot read " + path + ": " + reason();
    return false;
  }
  input->file = input->owned.get();
  std::error_code error;
  if (std::filesystem::is_regular_file(path, error)) {
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error) {
      input->size_known = true;
      input->size = size;
    }
  }
  return true;
}

bool skip_input(CodecInput* input, std::uint64_t offset, bool* inside, std::string* problem) {
  if (input->size_known && offset <= static_cast<std::uint64_t>(LONG_MAX)) {
    *inside = offset < input->size;
    if (!*inside) return true;
    if (std::fseek(input->file, static_cast<long>(offset), SEEK_SET) != 0) {
      *problem = "cannot read " + input->label + ": " + reason();
      return false;
    }
    input->position = offset;
    return true;
  }
  std::uint8_t chunk[65536];
  while (input->position < offset) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, offset - input->position));
    const std::size_t got = std::fread(chunk, 1, want, input->file);
    input->position += got;
    if (got < want) break;
  }
  if (std::ferror(input->file)) {
    *problem = "cannot read " + input->label + ": " + reason();
    return false;
  }
  // A stream must still deliver a byte at the offset.
  const int next = std::fgetc(input->file);
  if (next == EOF) {
    if (std::ferror(input->file)) {
      *problem = "cannot read " + input->label + ": " + reason();
      return false;
    }
    input->at_end = true;
    *inside = false;
    return true;
  }
  std::ungetc(next, input->file);
  *inside = true;
  return true;
}

bool read_input(CodecInput* input, std::size_t count, std::vector<std::uint8_t>* bytes,
                std::string* problem) {
  const std::size_t start = bytes->size();
  try {
    bytes->resize(start + count);
  } catch (const std::bad_alloc&) {
    bytes->resize(start);
    *problem = "not enough memory to read " + input->label;
    return false;
  }
  std::size_t filled = 0;
  while (filled < count && !input->at_end) {
    const std::size_t got =
        std::fread(bytes->data() + start + filled, 1, count - filled, input->file);
    filled += got;
    if (got == 0) input->at_end = true;
  }
  bytes->resize(start + filled);
  input->position += filled;
  if (std::ferror(input->file)) {
    *problem = "cannot read " + input->label + ": " + reason();
    return false;
  }
  return true;
}

bool write_output(const std::string& path, const std::uint8_t* data, std::size_t size,
                  std::FILE* standard_output, std::string* problem) {
  if (path == "-") {
    if (std::fwrite(data, 1, size, standard_output) != size || std::fflush(standard_output) != 0) {
      *problem = "cannot write standard output: " + reason();
      return false;
    }
    return true;
  }
  // The shared replacement: a file is replaced atomically (a symbolic link's
  // target, the link kept); a device, FIFO or socket is written directly.
  platform::FileReplacement replacement;
  std::string why;
  if (!replacement.begin(path.c_str(), &why) || !replacement.write(data, size, &why) ||
      !replacement.commit(&why)) {
    *problem = "cannot write " + path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace tilvex
