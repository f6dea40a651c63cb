// INPUT is opened with the standard library: a regular file is measured and
// seeked, anything else (standard input, a FIFO, a device) is read as a
// stream, in order, never further than asked.
#include "app/codec_io.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

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
  namespace fs = std::filesystem;
  const auto stamp =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::string temp;
  FilePtr file;
  for (unsigned attempt = 0; attempt < 100 && !file; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".tmp-%llx-%u", stamp, attempt);
    temp = path + suffix;
    file.reset(std::fopen(temp.c_str(), "wbx"));  // never an existing file
    if (!file && errno != EEXIST) break;
  }
  if (!file) {
    *problem = "cannot write " + path + ": " + reason();
    return false;
  }
  const bool written =
      std::fwrite(data, 1, size, file.get()) == size && std::fflush(file.get()) == 0;
  const int saved_errno = errno;
  const bool closed = std::fclose(file.release()) == 0;
  std::error_code error;
  if (!written || !closed) {
    *problem = "cannot write " + path + ": " + std::strerror(written ? errno : saved_errno);
    fs::remove(temp, error);
    return false;
  }
  fs::rename(temp, path, error);
  if (error) {
    *problem = "cannot write " + path + ": " + error.message();
    fs::remove(temp, error);
    return false;
  }
  return true;
}

}  // namespace tilvex
