// Files as the programs need them: the cartridge opened without blocking and
// loaded whole, an advisory lock on it, file identity, and the one atomic
// replacement of a file that every program saves through.
//
// Every operation that can fail takes a `reason`, which (when not null) gets
// the system's words for the failure as one line: "No space left on device",
// "File name too long", "Permission denied", "not a regular file".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/memory.h"

namespace tilvex::platform {

// What makes a file the same file under any name: device and inode number, or
// volume serial number and file index.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

enum class FileAccess { ReadOnly, ReadWrite };

// An open regular file, closed (and unlocked) when the handle goes. Move-only.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile();
  OpenFile(OpenFile&& other) noexcept;
  OpenFile& operator=(OpenFile&& other) noexcept;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool is_open() const { return native_ != kClosed; }
  FileAccess access() const { return access_; }
  std::uint64_t size() const { return size_; }  // at open
  const FileIdentity& identity() const { return identity_; }
  const std::string& name() const { return name_; }  // as given to open_existing_file
  // The name with its symbolic links resolved, as they were at open: where a
  // replacement of this file goes.
  const std::string& resolved_name() const { return resolved_name_; }
  void close();

  // The system's handle (a descriptor or a HANDLE); for the platform layer.
  std::intptr_t native() const { return native_; }

  static constexpr std::intptr_t kClosed = -1;

 private:
  friend bool open_existing_file(const char*, FileAccess, OpenFile*, std::string*);
  std::intptr_t native_ = kClosed;
  FileAccess access_ = FileAccess::ReadOnly;
  std::uint64_t size_ = 0;
  FileIdentity identity_;
  std::string name_;
  std::string resolved_name_;
};

// Opens an existing file without ever blocking (a FIFO or a device given as
// the name does not wait for a peer) and refuses anything that is not a
// regular file with "not a regular file". Records its size and identity.
bool open_existing_file(const char* name, FileAccess access, OpenFile* file, std::string* reason);

// Reads the whole open file from its start into a new large block of
// max(file.size(), minimum_length) bytes (the tail beyond the file zeroed).
// Fails when the file cannot be read completely or memory is short.
bool read_whole_file(const OpenFile& file, std::uint64_t minimum_length, ByteBuffer* bytes,
                     std::string* reason);

// A read-only standard stream over the open file, through a handle of its
// own: closing the stream (the caller does) leaves the file open and any lock
// on it held. Its position is its own business; loads do not depend on it.
std::FILE* stream_of(const OpenFile& file, std::string* reason);

// The size of the file an open standard stream reads. Fails for a directory
// (which opens for reading on some systems but yields no bytes).
bool stream_size(std::FILE* stream, std::uint64_t* size, std::string* reason);

// Reads up to length bytes at offset of the file an open standard stream
// reads, without its buffer and without moving its position, so several
// threads may read one stream at once this way. *got is what was read, less
// than length only at the end of the file. Fails with the system's reason.
bool read_stream_at(std::FILE* stream, std::uint64_t offset, void* bytes, std::size_t length,
                    std::size_t* got, std::string* reason);
// True when the name leads to nothing yet, or to a file this process may
// write: a replacement then does not overwrite a file its owner has closed
// to writing.
bool writable_or_absent(const char* name, std::string* reason);

// Takes an advisory exclusive lock on the open file without waiting; it holds
// until the file is closed. Fails when another process or another open of
// the file holds it.
bool lock_file(const OpenFile& file, std::string* reason);

// The identity of the file a name leads to (symbolic links followed).
bool file_identity(const char* name, FileIdentity* identity, std::string* reason);

// True when both names lead to the same existing file (hard links, "./a" and
// "a", symbolic links), which a comparison of the texts misses. False when
// either does not exist.
bool same_file(const char* first, const char* second);

// Replaces a file atomically: the new content is written to a new file in the
// target's directory, synced, given the old file's mode and owner, and renamed
// over the target only at commit; anyone reading the target sees the old or
// the new content, never a mix, and a failure (or a kill) at any point leaves
// the old file as it was. Where the system has them the new file is unnamed
// until commit, so a kill leaves nothing behind; elsewhere it has a short name
// starting with ".tilvex-", so any target name that can exist can be replaced.
//
// A symbolic link given as the target is resolved once, at begin: the link
// stays and the file it leads to is replaced. A target that exists and is not
// a regular file (a device, a FIFO, a socket) is written directly and never
// replaced; commit then only reports the outcome. Without commit the
// replacement is discarded when the object goes. Move-only.
class FileReplacement {
 public:
  FileReplacement() = default;
  ~FileReplacement();
  FileReplacement(FileReplacement&& other) noexcept;
  FileReplacement& operator=(FileReplacement&& other) noexcept;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Starts replacing the file the name leads to. It need not exist yet.
  bool begin(const char* target, std::string* reason);
  // Starts replacing an open file where its name led when it was opened;
  // commit then also requires that its name still leads to that very file
  // (so this never writes a non-regular file directly: it fails instead).
  bool begin(const OpenFile& file, std::string* reason);
  // Makes commit fail unless the target's name still leads to this file, so
  // a name retargeted since the file was read is never overwritten.
  void require_identity(const FileIdentity& identity);
  // For content that can be made again from files the program never changes
  // (extraction's output): commit still renames atomically, but does not wait
  // for the content to reach the disk. After a system crash the target may
  // then hold the old content, the new one or nothing usable, where a synced
  // replacement would hold the old or the new. Call after begin.
  void skip_sync() { sync_ = false; }

  // Appends bytes at the current position.
  bool write(const void* bytes, std::size_t length, std::string* reason);
  // Writes bytes at an offset (the current position moves past them). On a
  // target written directly, offsets other than the current position need a
  // seekable file.
  bool write_at(std::uint64_t offset, const void* bytes, std::size_t length, std::string* reason);

  // Syncs the new content (unless skip_sync was called), gives it the old
  // file's mode and owner, checks the required identity, renames it over the
  // target and syncs the directory.
  // Either way the replacement is over afterwards; a failed one left nothing.
  bool commit(std::string* reason);
  // Drops the new content; the target stays as it was.
  void discard();

  bool active() const { return file_ != kNone; }
  // True while the new content has no name in the directory: should the
  // process end before commit, it vanishes with it and nothing is left.
  bool unnamed() const { return active() && !direct_ && temporary_.empty(); }
  // Waits until what was written so far is on the disk, so that the sync at
  // commit has only later writes left to wait for. Commit syncs all the same,
  // so a failure here loses nothing. Safe on another thread while this one
  // only writes to the replacement.
  void sync_written() const;
  // After a commit: the identity of the file now under the target's name (a
  // later replacement of it may require this one).
  const FileIdentity& committed_identity() const { return committed_; }
  bool writes_directly() const { return direct_; }
  const std::string& target() const { return target_; }  // with symbolic links resolved

 private:
  static constexpr std::intptr_t kNone = -1;
  bool start(const std::string& given, const std::string& resolved, bool may_write_directly,
             std::string* reason);
  bool finish(std::string* reason);

  std::intptr_t file_ = kNone;       // the new content (or the target itself, written directly)
  std::intptr_t directory_ = kNone;  // the target's directory, where used
  std::string given_;                // the name as the caller gave it
  std::string target_;               // where the content goes, links resolved
  std::string temporary_;            // the new file's name; empty while it has none
  std::uint64_t position_ = 0;
  bool direct_ = false;
  bool check_identity_ = false;
  bool sync_ = true;
  FileIdentity identity_;
  FileIdentity committed_;
};

}  // namespace tilvex::platform
