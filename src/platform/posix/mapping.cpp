// Read-only views of files on POSIX systems: mmap with MAP_PRIVATE and
// PROT_READ, read ahead as one sequential run.
#include "platform/mapping.h"

#include <sys/mman.h>

#include <cerrno>
#include <limits>

#include "platform/posix/file_util.h"

namespace tilvex::platform {

namespace {
// A non-null address for the view of an empty file; never read.
const std::uint8_t kEmpty[1] = {0};
}  // namespace

bool FileMapping::map(const OpenFile& file, std::string* reason) {
  unmap();
  if (!file.is_open()) return posix::fail(reason, "no file is open");
  if (file.size() > std::numeric_limits<std::size_t>::max()) return posix::fail_code(reason, EFBIG);
  const auto length = static_cast<std::size_t>(file.size());
  if (length == 0) {
    data_ = kEmpty;
    return true;
  }
  void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, posix::fd_of(file.native()), 0);
  if (view == MAP_FAILED) return posix::fail_code(reason, errno);
  // Only a hint: the pages a reader touches come in larger runs.
  ::madvise(view, length, MADV_SEQUENTIAL);
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = length;
  return true;
}

void FileMapping::unmap() {
  if (data_ != nullptr && size_ != 0) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
  section_ = 0;
}

}  // namespace tilvex::platform
