// Files on Windows: handles opened with sharing for read, write and delete
// (so that the atomic replacement can rename over a file that is open),
// regular files only, whole loads with positioned reads, and an advisory lock
// that is a lock on one byte far beyond any end of file, so that it keeps out
// other holders of the lock but never blocks anyone's reads or writes.
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>
#include <limits>
#include <utility>

#include "platform/windows/file_util.h"

namespace tilvex::platform {

namespace windows {

bool fail(std::string* reason, const char* text) {
  if (reason != nullptr) *reason = text;
  return false;
}

bool fail_code(std::string* reason, DWORD code) {
  if (reason == nullptr) return false;
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = length != 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) ::LocalFree(text);
  // One line, without the closing full stop, like the texts of the C library.
  while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' ||
                            words.back() == L' ' || words.back() == L'.')) {
    words.pop_back();
  }
  for (wchar_t& c : words) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  *reason = words.empty() ? "system error " + std::to_string(code) : narrow(words);
  return false;
}

bool widen(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide->resize(static_cast<std::size_t>(length));
  return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide->data(),
                               length) == length;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

void close_quietly(std::intptr_t& native) {
  if (native != OpenFile::kClosed) ::CloseHandle(handle_of(native));
  native = OpenFile::kClosed;
}

bool identity_of(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information)) return false;
  identity->device = information.dwVolumeSerialNumber;
  identity->index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  return true;
}

bool resolve_links(const std::wstring& name, std::wstring* resolved, std::string* reason) {
  *resolved = name;
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return true;
  }
  HANDLE file =
      ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // A link that leads nowhere: what stands under the name is replaced.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    return fail_code(reason, code);
  }
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), 0);
  if (length >= path.size()) {
    path.resize(length + 1);
    length = ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()), 0);
  }
  const DWORD code = ::GetLastError();
  ::CloseHandle(file);
  if (length == 0 || length >= path.size()) return fail_code(reason, code);
  path.resize(length);
  *resolved = path;
  return true;
}

}  // namespace windows

using windows::close_quietly;
using windows::fail;
using windows::fail_code;
using windows::fail_last;
using windows::handle_of;
using windows::identity_of;
using windows::native_of;
using windows::widen;

namespace {

// Far past the end of any file, so that locking it never gets in the way of
// reading or writing.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

}  // namespace

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
  std::wstring wide;
  if (name == nullptr || !widen(name, &wide)) return fail_code(reason, ERROR_INVALID_NAME);
  // A folder is no regular file; without this check the open would fail with
  // a misleading "Access is denied".
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return fail(reason, "not a regular file");
  }
  const DWORD rights =
      access == FileAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  HANDLE handle =
      ::CreateFileW(wide.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail_last(reason);
  OpenFile opened;
  opened.native_ = native_of(handle);
  // Devices (NUL, CON, COM1) and pipes are no cartridge.
  if (::GetFileType(handle) != FILE_TYPE_DISK) return fail(reason, "not a regular file");
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle, &size) || !identity_of(handle, &opened.identity_)) {
    return fail_last(reason);
  }
  std::wstring resolved;
  if (!windows::resolve_links(wide, &resolved, reason)) return false;
  opened.resolved_name_ = windows::narrow(resolved);
  opened.access_ = access;
  opened.size_ = static_cast<std::uint64_t>(size.QuadPart);
  opened.name_ = name;
  *file = std::move(opened);
  return true;
}

bool read_whole_file(const OpenFile& file, std::uint64_t minimum_length, ByteBuffer* bytes,
                     std::string* reason) {
  if (!file.is_open()) return fail_code(reason, ERROR_INVALID_HANDLE);
  const std::uint64_t length = file.size() > minimum_length ? file.size() : minimum_length;
  if (length > std::numeric_limits<std::size_t>::max()) {
    return fail_code(reason, ERROR_NOT_ENOUGH_MEMORY);
  }
  ByteBuffer buffer = allocate_large(static_cast<std::size_t>(length));
  if (!buffer) return fail_code(reason, ERROR_NOT_ENOUGH_MEMORY);
  std::uint64_t done = 0;
  while (done < file.size()) {
    const std::uint64_t left = file.size() - done;
    const DWORD step = left < (DWORD{1} << 30) ? static_cast<DWORD>(left) : (DWORD{1} << 30);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done);
    at.OffsetHigh = static_cast<DWORD>(done >> 32);
    DWORD got = 0;
    if (!::ReadFile(handle_of(file.native()), buffer.get() + done, step, &got, &at)) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_HANDLE_EOF) return fail_code(reason, code);
      got = 0;
    }
    if (got == 0) return fail(reason, "the file became shorter while it was read");
    done += got;
  }
  std::memset(buffer.get() + file.size(), 0, static_cast<std::size_t>(length - file.size()));
  *bytes = std::move(buffer);
  return true;
}

std::FILE* stream_of(const OpenFile& file, std::string* reason) {
  if (!file.is_open()) {
    fail_code(reason, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HANDLE copy = nullptr;
  const HANDLE process = ::GetCurrentProcess();
  if (!::DuplicateHandle(process, handle_of(file.native()), process, &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    fail_code(reason, ::GetLastError());
    return nullptr;
  }
  const int descriptor =
      ::_open_osfhandle(reinterpret_cast<std::intptr_t>(copy), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) {
    ::CloseHandle(copy);
    fail(reason, "cannot make a stream of the open file");
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(descriptor, "rb");
  if (stream == nullptr) {
    ::_close(descriptor);  // closes the duplicated handle too
    fail(reason, "cannot make a stream of the open file");
  }
  return stream;
}

bool stream_size(std::FILE* stream, std::uint64_t* size, std::string* reason) {
  if (stream == nullptr) return fail_code(reason, ERROR_INVALID_HANDLE);
  const auto native = ::_get_osfhandle(::_fileno(stream));
  if (native == -1) return fail_code(reason, ERROR_INVALID_HANDLE);
  const HANDLE handle = reinterpret_cast<HANDLE>(native);
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    *size = 0;  // a pipe or a device has no length of its own
    return true;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) {
    return fail_code(reason, ::GetLastError());
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return fail(reason, "Is a directory");
  }
  *size = std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
  return true;
}

bool read_stream_at(std::FILE* stream, std::uint64_t offset, void* bytes, std::size_t length,
                    std::size_t* got, std::string* reason) {
  *got = 0;
  if (stream == nullptr) return fail_code(reason, ERROR_INVALID_HANDLE);
  const auto native = ::_get_osfhandle(::_fileno(stream));
  if (native == -1) return fail_code(reason, ERROR_INVALID_HANDLE);
  const HANDLE handle = reinterpret_cast<HANDLE>(native);
  auto* into = static_cast<std::uint8_t*>(bytes);
  while (*got < length) {
    const std::uint64_t at = offset + *got;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    const std::size_t left = length - *got;
    const DWORD step = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD done = 0;
    if (!::ReadFile(handle, into + *got, step, &done, &position)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_HANDLE_EOF) break;
      return fail_code(reason, code);
    }
    if (done == 0) break;
    *got += done;
  }
  return true;
}

bool writable_or_absent(const char* name, std::string* reason) {
  std::wstring wide;
  if (name == nullptr || !widen(name, &wide)) return fail_code(reason, ERROR_INVALID_NAME);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || fail_code(reason, code);
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return fail_code(reason, ERROR_ACCESS_DENIED);
  return true;
}

bool lock_file(const OpenFile& file, std::string* reason) {
  if (!file.is_open()) return fail_code(reason, ERROR_INVALID_HANDLE);
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  if (::LockFileEx(handle_of(file.native()), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   1, 0, &at)) {
    return true;
  }
  const DWORD code = ::GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
    return fail(reason, "locked by another process");
  }
  return fail_code(reason, code);
}

bool file_identity(const char* name, FileIdentity* identity, std::string* reason) {
  std::wstring wide;
  if (name == nullptr || !widen(name, &wide)) return fail_code(reason, ERROR_INVALID_NAME);
  // No access rights are needed to read a file's information; backup
  // semantics let folders be asked too.
  HANDLE handle =
      ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail_last(reason);
  const bool known = identity_of(handle, identity);
  const DWORD code = ::GetLastError();
  ::CloseHandle(handle);
  return known || fail_code(reason, code);
}

bool same_file(const char* first, const char* second) {
  FileIdentity a;
  FileIdentity b;
  return file_identity(first, &a, nullptr) && file_identity(second, &b, nullptr) && a == b;
}

}  // namespace tilvex::platform
