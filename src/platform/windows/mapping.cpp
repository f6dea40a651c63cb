// Read-only views of files on Windows: a file mapping object with
// PAGE_READONLY and one view of the whole file with FILE_MAP_READ.
#include "platform/mapping.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <limits>

#include "platform/windows/file_util.h"

namespace tilvex::platform {

namespace {

// A non-null address for the view of an empty file; never read.
const std::uint8_t kEmpty[1] = {0};

}  // namespace

bool FileMapping::map(const OpenFile& file, std::string* reason) {
  unmap();
  if (!file.is_open()) return windows::fail(reason, "no file is open");
  if (file.size() > std::numeric_limits<std::size_t>::max()) {
    return windows::fail(reason, "File too large");
  }
  const auto length = static_cast<std::size_t>(file.size());
  if (length == 0) {
    data_ = kEmpty;
    return true;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(file.native());
  HANDLE section = ::CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (section == nullptr) return windows::fail_last(reason);
  void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, length);
  if (view == nullptr) {
    const bool failed = windows::fail_last(reason);
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
