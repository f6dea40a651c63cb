// The atomic file replacement on POSIX systems: the new content goes into an
// O_TMPFILE file (Linux) that gets a name only at commit, or a short-named
// file where that is missing, and is renamed over the target relative to the
// directory opened at begin.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/files.h"
#include "platform/posix/file_util.h"

namespace tilvex::platform {

namespace {

using posix::close_quietly;
using posix::fail;
using posix::fail_code;
using posix::fd_of;
using posix::identity_of;
using posix::resolve_links;
using posix::split;

// Ignores SIGXFSZ while a write runs, so that a file size limit makes the
// write fail with EFBIG instead of ending the process half-way.
class NoFileSizeSignal {
 public:
  NoFileSizeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    saved_ = ::sigaction(SIGXFSZ, &ignore, &previous_) == 0;
  }
  ~NoFileSizeSignal() {
    if (saved_) ::sigaction(SIGXFSZ, &previous_, nullptr);
  }
  NoFileSizeSignal(const NoFileSizeSignal&) = delete;
  NoFileSizeSignal& operator=(const NoFileSizeSignal&) = delete;

 private:
  struct sigaction previous_ {};
  bool saved_ = false;
};

// Writes everything at the descriptor's position.
bool write_all(int fd, const std::uint8_t* bytes, std::size_t length, std::string* reason) {
  NoFileSizeSignal no_signal;
  while (length != 0) {
    const std::size_t step = length < (std::size_t{1} << 30) ? length : (std::size_t{1} << 30);
    const ssize_t done = ::write(fd, bytes, step);
    if (done < 0) {
      if (errno == EINTR) continue;
      return fail_code(reason, errno);
    }
    if (done == 0) return fail_code(reason, ENOSPC);
    bytes += done;
    length -= static_cast<std::size_t>(done);
  }
  return true;
}

// A short name for a new file, unlikely to be taken; the caller retries.
// Replacements may run on several threads at once (tilvex-gfx writes its
// pictures so), hence the atomic counter.
std::string temporary_name() {
  static std::atomic<unsigned> counter{0};
  const auto now =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::uint64_t mix = now ^ (std::uint64_t{static_cast<unsigned>(::getpid())} << 32) ^
                      (std::uint64_t{++counter} * 0x9E3779B97F4A7C15u);
  mix ^= mix >> 29;
  char text[32];
  std::snprintf(text, sizeof text, ".tilvex-%012llx",
                static_cast<unsigned long long>(mix & 0xFFFFFFFFFFFFu));
  return text;
}

mode_t default_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}
}  // namespace

bool FileReplacement::begin(const char* target, std::string* reason) {
  discard();
  if (target == nullptr) return fail_code(reason, EINVAL);
  std::string resolved;
  if (!resolve_links(target, &resolved, reason)) return false;
  check_identity_ = false;
  return start(target, resolved, true, reason);
}

bool FileReplacement::begin(const OpenFile& file, std::string* reason) {
  discard();
  if (!file.is_open()) return fail_code(reason, EBADF);
  if (!start(file.name(), file.resolved_name(), false, reason)) return false;
  require_identity(file.identity());
  return true;
}

void FileReplacement::require_identity(const FileIdentity& identity) {
  identity_ = identity;
  check_identity_ = true;
}

bool FileReplacement::start(const std::string& given, const std::string& resolved,
                            bool may_write_directly, std::string* reason) {
  std::string directory;
  std::string base;
  split(resolved, &directory, &base);
  if (base.empty() || base == "." || base == "..") return fail_code(reason, EISDIR);
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fail_code(reason, errno);
  directory_ = dir;
  given_ = given;
  target_ = resolved;
  position_ = 0;
  direct_ = false;

  struct stat status {};
  if (::fstatat(dir, base.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(status.st_mode)) {
      discard();
      return fail_code(reason, EISDIR);
    }
    if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
      if (!may_write_directly) {
        // The open file was regular: whatever stands there now is another.
        discard();
        return fail(reason, "not a regular file");
      }
      // A device, FIFO or socket: written in place (a FIFO waits for its reader).
      const int fd = ::openat(dir, base.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) {
        const int code = errno;
        discard();
        return fail_code(reason, code);
      }
      file_ = fd;
      direct_ = true;
      return true;
    }
  } else if (errno != ENOENT) {
    const int code = errno;
    discard();
    return fail_code(reason, code);
  }

#ifdef O_TMPFILE
  const int unnamed = ::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) {
    file_ = unnamed;
    return true;
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = temporary_name();
    const int fd = ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      file_ = fd;
      temporary_ = std::move(name);
      return true;
    }
    if (errno != EEXIST) break;
  }
  const int code = errno;
  discard();
  return fail_code(reason, code);
}

bool FileReplacement::write(const void* bytes, std::size_t length, std::string* reason) {
  return write_at(position_, bytes, length, reason);
}

bool FileReplacement::write_at(std::uint64_t offset, const void* bytes, std::size_t length,
                               std::string* reason) {
  if (!active()) return fail_code(reason, EBADF);
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max() / 2)) {
    return fail_code(reason, EFBIG);
  }
  // Sequential writes use the descriptor's own position, so that FIFOs and
  // devices written directly work as well.
  if (offset != position_ && ::lseek(fd_of(file_), static_cast<off_t>(offset), SEEK_SET) < 0) {
    return fail_code(reason, errno);
  }
  if (!write_all(fd_of(file_), static_cast<const std::uint8_t*>(bytes), length, reason)) {
    position_ = std::numeric_limits<std::uint64_t>::max();  // unknown: the next write seeks
    return false;
  }
  position_ = offset + length;
  return true;
}

void FileReplacement::sync_written() const {
  if (active() && !direct_) ::fsync(fd_of(file_));
}

bool FileReplacement::commit(std::string* reason) {
  // Over either way: a failed commit leaves the target as it was and nothing
  // of the new content behind.
  const bool done = finish(reason);
  discard();
  return done;
}

bool FileReplacement::finish(std::string* reason) {
  if (!active()) return fail_code(reason, EBADF);
  const int fd = fd_of(file_);
  const int dir = fd_of(directory_);
  if (direct_) {
    file_ = kNone;
    return ::close(fd) == 0 || fail_code(reason, errno);
  }
  std::string directory;
  std::string base;
  split(target_, &directory, &base);

  // The old file's mode and owner; owner first, since changing it may clear
  // set-id bits that the mode then restores.
  struct stat old {};
  if (::fstatat(dir, base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)) {
    struct stat now {};
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
      if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
      }
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) return fail_code(reason, errno);
  } else if (::fchmod(fd, default_mode()) != 0) {
    return fail_code(reason, errno);
  }
  if (sync_ && ::fsync(fd) != 0) return fail_code(reason, errno);
  struct stat written {};
  if (::fstat(fd, &written) != 0) return fail_code(reason, errno);

  if (check_identity_) {
    struct stat by_name {};
    struct stat by_entry {};
    if (::stat(given_.c_str(), &by_name) != 0 || identity_of(by_name) != identity_ ||
        ::fstatat(dir, base.c_str(), &by_entry, AT_SYMLINK_NOFOLLOW) != 0 ||
        identity_of(by_entry) != identity_) {
      return fail(reason, "the name now leads to another file");
    }
  }

  if (temporary_.empty()) {
    // Unnamed so far: give it a name of its own in the directory.
    bool linked = false;
    for (int attempt = 0; attempt < 100 && !linked; ++attempt) {
      std::string name = temporary_name();
#ifdef AT_EMPTY_PATH
      linked = ::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0;
#endif
      if (!linked && errno != EEXIST) {
        // Linking by descriptor needs a privilege; the /proc name does not.
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        linked = ::linkat(AT_FDCWD, proc, dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
      }
      if (linked) {
        temporary_ = std::move(name);
      } else if (errno != EEXIST) {
        return fail_code(reason, errno);
      }
    }
    if (!linked) return fail_code(reason, EEXIST);
  }
  if (::close(fd) != 0) {
    file_ = kNone;
    return fail_code(reason, errno);
  }
  file_ = kNone;
  if (::renameat(dir, temporary_.c_str(), dir, base.c_str()) != 0) return fail_code(reason, errno);
  temporary_.clear();
  committed_ = identity_of(written);
  // The new content is in place; syncing the directory makes the rename
  // itself durable, and its failure does not undo the replacement.
  if (sync_) ::fsync(dir);
  return true;
}

void FileReplacement::discard() {
  close_quietly(file_);
  if (!temporary_.empty() && directory_ >= 0) ::unlinkat(fd_of(directory_), temporary_.c_str(), 0);
  temporary_.clear();
  close_quietly(directory_);
  direct_ = false;
  check_identity_ = false;
  sync_ = true;
  position_ = 0;
}

}  // namespace tilvex::platform
