// Files on POSIX systems: descriptors opened with O_NONBLOCK and checked with
// fstat, whole loads with pread, flock for the advisory lock, standard streams
// over a duplicated descriptor.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/posix/file_util.h"
#include "platform/process.h"

namespace tilvex::platform {

namespace posix {

bool fail(std::string* reason, const char* text) {
  if (reason != nullptr) *reason = text;
  return false;
}

bool fail_code(std::string* reason, int code) {
  if (reason != nullptr) *reason = error_text(code);
  return false;
}

void close_quietly(std::intptr_t& native) {
  if (native >= 0) ::close(fd_of(native));
  native = -1;
}

bool resolve_links(const std::string& name, std::string* resolved, std::string* reason) {
  std::string path = name;
  for (int depth = 0;; ++depth) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
      if (errno == ENOENT) break;
      return fail_code(reason, errno);
    }
    if (!S_ISLNK(status.st_mode)) break;
    if (depth == 40) return fail_code(reason, ELOOP);
    char text[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), text, sizeof text);
    if (length < 0) return fail_code(reason, errno);
    if (static_cast<std::size_t>(length) == sizeof text) return fail_code(reason, ENAMETOOLONG);
    std::string link(text, static_cast<std::size_t>(length));
    const std::string::size_type slash = path.rfind('/');
    if (link.empty() || link[0] == '/' || slash == std::string::npos) {
      path = link;
    } else {
      path = path.substr(0, slash + 1) + link;
    }
  }
  *resolved = path;
  return true;
}

void split(const std::string& path, std::string* directory, std::string* base) {
  const std::string::size_type slash = path.rfind('/');
  const std::string::size_type base_start = slash == std::string::npos ? 0 : slash + 1;
  directory->assign(slash == std::string::npos ? std::string(1, '.')
                    : slash == 0               ? std::string(1, '/')
                                               : path.substr(0, slash));
  base->assign(path, base_start, std::string::npos);
}

}  // namespace posix

using posix::close_quietly;
using posix::fail;
using posix::fail_code;
using posix::fd_of;
using posix::identity_of;
using posix::resolve_links;

// ---- open files -------------------------------------------------------------

OpenFile::~OpenFile() { close(); }

OpenFile::OpenFile(OpenFile&& other) noexcept { *this = std::move(other); }

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    close();
    native_ = std::exchange(other.native_, kClosed);
    access_ = other.access_;
    size_ = other.size_;
    identity_ = other.identity_;
    name_ = std::move(other.name_);
    resolved_name_ = std::move(other.resolved_name_);
  }
  return *this;
}

void OpenFile::close() { close_quietly(native_); }

bool open_existing_file(const char* name, FileAccess access, OpenFile* file, std::string* reason) {
  file->close();
  if (name == nullptr) return fail_code(reason, EINVAL);
  const int mode = access == FileAccess::ReadWrite ? O_RDWR : O_RDONLY;
  // Without O_NONBLOCK opening a FIFO would wait for a writer.
  const int fd = ::open(name, mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail_code(reason, errno);
  OpenFile opened;
  opened.native_ = fd;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return fail_code(reason, errno);
  if (!S_ISREG(status.st_mode)) return fail(reason, "not a regular file");
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (!resolve_links(name, &opened.resolved_name_, reason)) return false;
  opened.access_ = access;
  opened.size_ = static_cast<std::uint64_t>(status.st_size);
  opened.identity_ = identity_of(status);
  opened.name_ = name;
  *file = std::move(opened);
  return true;
}

bool read_whole_file(const OpenFile& file, std::uint64_t minimum_length, ByteBuffer* bytes,
                     std::string* reason) {
  if (!file.is_open()) return fail_code(reason, EBADF);
  const std::uint64_t length = file.size() > minimum_length ? file.size() : minimum_length;
  if (length > std::numeric_limits<std::size_t>::max()) return fail_code(reason, ENOMEM);
  ByteBuffer buffer = allocate_large(static_cast<std::size_t>(length));
  if (!buffer) return fail_code(reason, ENOMEM);
  std::uint64_t done = 0;
  while (done < file.size()) {
    const std::uint64_t left = file.size() - done;
    const std::size_t step =
        left < (std::uint64_t{1} << 30) ? static_cast<std::size_t>(left) : (std::size_t{1} << 30);
    const ssize_t got =
        ::pread(fd_of(file.native()), buffer.get() + done, step, static_cast<off_t>(done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail_code(reason, errno);
    }
    if (got == 0) return fail(reason, "the file became shorter while it was read");
    done += static_cast<std::uint64_t>(got);
  }
  std::memset(buffer.get() + file.size(), 0, static_cast<std::size_t>(length - file.size()));
  *bytes = std::move(buffer);
  return true;
}

std::FILE* stream_of(const OpenFile& file, std::string* reason) {
  if (!file.is_open()) {
    fail_code(reason, EBADF);
    return nullptr;
  }
  const int copy = ::fcntl(fd_of(file.native()), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    fail_code(reason, errno);
    return nullptr;
  }
  std::FILE* stream = ::fdopen(copy, "rb");
  if (stream == nullptr) {
    fail_code(reason, errno);
    ::close(copy);
  }
  return stream;
}

bool stream_size(std::FILE* stream, std::uint64_t* size, std::string* reason) {
  struct stat status {};
  if (stream == nullptr) return fail_code(reason, EBADF);
  if (::fstat(::fileno(stream), &status) != 0) return fail_code(reason, errno);
  if (S_ISDIR(status.st_mode)) return fail_code(reason, EISDIR);
  *size = status.st_size < 0 ? 0 : static_cast<std::uint64_t>(status.st_size);
  return true;
}

bool read_stream_at(std::FILE* stream, std::uint64_t offset, void* bytes, std::size_t length,
                    std::size_t* got, std::string* reason) {
  *got = 0;
  if (stream == nullptr) return fail_code(reason, EBADF);
  auto* into = static_cast<std::uint8_t*>(bytes);
  while (*got < length) {
    const ssize_t done =
        ::pread(::fileno(stream), into + *got, length - *got, static_cast<off_t>(offset + *got));
    if (done < 0) {
      if (errno == EINTR) continue;
      return fail_code(reason, errno);
    }
    if (done == 0) break;
    *got += static_cast<std::size_t>(done);
  }
  return true;
}

bool writable_or_absent(const char* name, std::string* reason) {
  if (name == nullptr) return fail_code(reason, EINVAL);
  if (::faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) == 0) return true;
  return errno == ENOENT || fail_code(reason, errno);
}

bool lock_file(const OpenFile& file, std::string* reason) {
  if (!file.is_open()) return fail_code(reason, EBADF);
  while (::flock(fd_of(file.native()), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return fail(reason, "locked by another process");
    return fail_code(reason, errno);
  }
  return true;
}

bool file_identity(const char* name, FileIdentity* identity, std::string* reason) {
  struct stat status {};
  if (name == nullptr) return fail_code(reason, EINVAL);
  if (::stat(name, &status) != 0) return fail_code(reason, errno);
  *identity = identity_of(status);
  return true;
}

bool same_file(const char* first, const char* second) {
  FileIdentity a;
  FileIdentity b;
  return file_identity(first, &a, nullptr) && file_identity(second, &b, nullptr) && a == b;
}

}  // namespace tilvex::platform
