// The atomic file replacement on Windows: the new content goes into a new
// file beside the target, is flushed to the disk, and takes the target's place
// at commit with MoveFileExW, or with ReplaceFileW where the old file is open
// and the system will not rename over it. A failure at any point leaves the
// target as it was.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/files.h"
#include "platform/windows/file_util.h"

namespace tilvex::platform {

namespace {

using windows::fail;
using windows::fail_code;
using windows::fail_last;
using windows::handle_of;
using windows::identity_of;
using windows::narrow;
using windows::native_of;
using windows::widen;

constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A short name for a new file, unlikely to be taken; the caller retries.
std::wstring temporary_name(const wchar_t* suffix) {
  static unsigned counter = 0;
  const auto now =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::uint64_t mix = now ^ (std::uint64_t{::GetCurrentProcessId()} << 32) ^
                      (std::uint64_t{++counter} * 0x9E3779B97F4A7C15u);
  mix ^= mix >> 29;
  wchar_t text[48];
  std::swprintf(text, sizeof text / sizeof text[0], L".tilvex-%012llx%ls",
                static_cast<unsigned long long>(mix & 0xFFFFFFFFFFFFu), suffix);
  return text;
}

// The folder part of a path, with its separator ("" when there is none).
std::wstring folder_of(const std::wstring& path) {
  const std::wstring::size_type separator = path.find_last_of(L"\\/:");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

bool write_all(HANDLE file, const std::uint8_t* bytes, std::size_t length, std::string* reason) {
  while (length != 0) {
    const DWORD step = length < (DWORD{1} << 30) ? static_cast<DWORD>(length) : (DWORD{1} << 30);
    DWORD done = 0;
    if (!::WriteFile(file, bytes, step, &done, nullptr)) return fail_last(reason);
    if (done == 0) return fail_code(reason, ERROR_DISK_FULL);
    bytes += done;
    length -= done;
  }
  return true;
}

// What stands under a name: nothing, a folder, a file on a disk, or anything
// else (a device such as NUL or CON, a pipe).
enum class Entry { None, Folder, DiskFile, Other, Unknown };

Entry entry_at(const std::wstring& name, DWORD* error) {
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = ::GetLastError();
    if (*error == ERROR_FILE_NOT_FOUND) return Entry::None;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Entry::Folder;
  }
  HANDLE probe =
      ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    *error = ::GetLastError();
    return *error == ERROR_FILE_NOT_FOUND ? Entry::None : Entry::Unknown;
  }
  const DWORD type = ::GetFileType(probe);
  ::CloseHandle(probe);
  return type == FILE_TYPE_DISK ? Entry::DiskFile : Entry::Other;
}

}  // namespace

bool FileReplacement::begin(const char* target, std::string* reason) {
  discard();
  std::wstring wide;
  if (target == nullptr || !widen(target, &wide)) return fail_code(reason, ERROR_INVALID_NAME);
  std::wstring resolved;
  if (!windows::resolve_links(wide, &resolved, reason)) return false;
  check_identity_ = false;
  return start(target, narrow(resolved), true, reason);
}

bool FileReplacement::begin(const OpenFile& file, std::string* reason) {
  discard();
  if (!file.is_open()) return fail_code(reason, ERROR_INVALID_HANDLE);
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
  std::wstring target;
  if (!widen(resolved, &target) || target.empty()) return fail_code(reason, ERROR_INVALID_NAME);
  given_ = given;
  target_ = resolved;
  position_ = 0;
  direct_ = false;

  DWORD error = ERROR_SUCCESS;
  switch (entry_at(target, &error)) {
    case Entry::Folder:
      return fail(reason, "Is a directory");
    case Entry::Unknown:
      return fail_code(reason, error);
    case Entry::Other: {
      if (!may_write_directly) return fail(reason, "not a regular file");
      // A device or a pipe: written in place.
      HANDLE direct =
          ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
      if (direct == INVALID_HANDLE_VALUE) return fail_last(reason);
      file_ = native_of(direct);
      direct_ = true;
      return true;
    }
    case Entry::None:
      if (error == ERROR_PATH_NOT_FOUND) return fail_code(reason, error);
      break;
    case Entry::DiskFile:
      break;
  }

  const std::wstring folder = folder_of(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring name = folder + temporary_name(L"");
    HANDLE created = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      file_ = native_of(created);
      temporary_ = narrow(name);
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return fail_last(reason);
}

bool FileReplacement::write(const void* bytes, std::size_t length, std::string* reason) {
  return write_at(position_, bytes, length, reason);
}

bool FileReplacement::write_at(std::uint64_t offset, const void* bytes, std::size_t length,
                               std::string* reason) {
  if (!active()) return fail_code(reason, ERROR_INVALID_HANDLE);
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max() / 2)) {
    return fail_code(reason, ERROR_FILE_TOO_LARGE);
  }
  if (offset != position_) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handle_of(file_), to, nullptr, FILE_BEGIN)) return fail_last(reason);
  }
  if (!write_all(handle_of(file_), static_cast<const std::uint8_t*>(bytes), length, reason)) {
    position_ = std::numeric_limits<std::uint64_t>::max();  // unknown: the next write seeks
    return false;
  }
  position_ = offset + length;
  return true;
}

bool FileReplacement::commit(std::string* reason) {
  // Over either way: a failed commit leaves the target as it was and nothing
  // of the new content behind.
  const bool done = finish(reason);
  discard();
  return done;
}

bool FileReplacement::finish(std::string* reason) {
  if (!active()) return fail_code(reason, ERROR_INVALID_HANDLE);
  HANDLE file = handle_of(file_);
  if (direct_) {
    file_ = kNone;
    return ::CloseHandle(file) || fail_last(reason);
  }
  if (sync_ && !::FlushFileBuffers(file)) return fail_last(reason);
  FileIdentity written;
  if (!identity_of(file, &written)) return fail_last(reason);
  file_ = kNone;
  if (!::CloseHandle(file)) return fail_last(reason);

  std::wstring target;
  std::wstring temporary;
  if (!widen(target_, &target) || !widen(temporary_, &temporary)) {
    return fail_code(reason, ERROR_INVALID_NAME);
  }
  if (check_identity_) {
    FileIdentity by_name;
    FileIdentity by_target;
    if (!file_identity(given_.c_str(), &by_name, nullptr) || by_name != identity_ ||
        !file_identity(target_.c_str(), &by_target, nullptr) || by_target != identity_) {
      return fail(reason, "the name now leads to another file");
    }
  }

  // The old file's attributes (hidden, say) carry over to the new one.
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    ::SetFileAttributesW(temporary.c_str(), attributes & kKeptAttributes);
  }
  const DWORD through = sync_ ? MOVEFILE_WRITE_THROUGH : 0;
  if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | through)) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) {
      return fail_code(reason, code);
    }
    // The old file is open (the programs hold the cartridge open until they
    // have saved it) and the system will not rename over it. ReplaceFileW
    // moves it aside under a name of its own instead, which goes once the
    // new file is in place; should the new one fail to move in, the old one
    // is put back.
    const std::wstring aside = folder_of(target) + temporary_name(L".old");
    if (!::ReplaceFileW(target.c_str(), temporary.c_str(), aside.c_str(),
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      const DWORD failure = ::GetLastError();
      if (failure == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        ::MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
      }
      return fail_code(reason, failure);
    }
    ::DeleteFileW(aside.c_str());
  }
  temporary_.clear();
  committed_ = written;
  return true;
}

void FileReplacement::sync_written() const {
  if (active() && !direct_) ::FlushFileBuffers(handle_of(file_));
}

void FileReplacement::discard() {
  if (file_ != kNone) ::CloseHandle(handle_of(file_));
  file_ = kNone;
  std::wstring temporary;
  if (!temporary_.empty() && widen(temporary_, &temporary)) ::DeleteFileW(temporary.c_str());
  temporary_.clear();
  directory_ = kNone;
  direct_ = false;
  check_identity_ = false;
  sync_ = true;
  position_ = 0;
}

}  // namespace tilvex::platform
