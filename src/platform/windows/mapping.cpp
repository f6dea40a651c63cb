// Read-only views of files on Windows: a file mapping object with
// PAGE_READONLY and one view of the whole file with FILE_MAP_READ.
#include "platform/mapping.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <limits>
#include <string>
#include <utility>

namespace tilvex::platform {

namespace {

// A non-null address for the view of an empty file; never read.
const std::uint8_t kEmpty[1] = {0};

// The system's words for the last error, as one line.
bool fail_last_error(std::string* reason) {
  const DWORD code = ::GetLastError();
  if (reason == nullptr) return false;
  char text[256] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
  std::string line(text, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == '.'))
    line.pop_back();
  *reason = line.empty() ? "error " + std::to_string(code) : line;
  return false;
}

}  // namespace

FileMapping::~FileMapping() { unmap(); }

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      section_(std::exchange(other.section_, 0)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    section_ = std::exchange(other.section_, 0);
  }
  return *this;
}

bool FileMapping::map(const OpenFile& file, std::string* reason) {
  unmap();
  if (!file.is_open()) {
    if (reason != nullptr) *reason = "no file is open";
    return false;
  }
  if (file.size() > std::numeric_limits<std::size_t>::max()) {
    if (reason != nullptr) *reason = "File too large";
    return false;
  }
  const auto length = static_cast<std::size_t>(file.size());
  if (length == 0) {
    data_ = kEmpty;
    return true;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(file.native());
  HANDLE section = ::CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (section == nullptr) return fail_last_error(reason);
  void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, length);
  if (view == nullptr) {
    const bool failed = fail_last_error(reason);
    ::CloseHandle(section);
    return failed;
  }
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = length;
  section_ = reinterpret_cast<std::intptr_t>(section);
  return true;
}

void FileMapping::unmap() {
  if (data_ != nullptr && size_ != 0) ::UnmapViewOfFile(data_);
  if (section_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(section_));
  data_ = nullptr;
  size_ = 0;
  section_ = 0;
}

}  // namespace tilvex::platform
