// A save of the cartridge image begun while the image is still being changed.
//
// An insertion changes only a part of the cartridge, and waiting for the new
// file to reach the disk is most of a save's time. So the new file is started
// early with every byte the insertion will not change, and a thread of its
// own asks the system to sync it whenever more of it is final: the waiting
// for the disk then overlaps the encoding. The caller may hand over parts of
// the image as they become final (write_final); the end of the save
// (finish) writes whatever the new file still lacks, syncs and commits.
//
// What the new file lacks is kept per page of kRomPageSize bytes: at first
// the pages of the range the caller said it would change, then every page any
// write touches (note_written), however early it was written to the file.
// So the saved file is always the image as it is at finish, wherever the
// writes fell. Until commit the new file has no name (begin refuses where the
// system would give it one), so a run cut short leaves nothing behind.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "common/resources.h"
#include "platform/files.h"

namespace tilvex {

inline constexpr std::uint32_t kRomPageSize = 4096;

class SaveAhead {
 public:
  SaveAhead() = default;
  ~SaveAhead() { drop(); }
  SaveAhead(const SaveAhead&) = delete;
  SaveAhead& operator=(const SaveAhead&) = delete;

  // Starts the new file beside `file` (which must still be identity when the
  // save commits) with the image's bytes outside [from, to). False, with
  // nothing begun, when that cannot be done here.
  bool begin(const platform::OpenFile& file, const platform::FileIdentity& identity,
             const std::uint8_t* bytes, std::uint32_t size, std::uint32_t from, std::uint32_t to);
  bool active() const { return file_.active(); }

  // The image's bytes in [offset, offset + length) changed.
  void note_written(std::uint32_t offset, std::uint32_t length);
  // The image's bytes in [from, to) are final for now: the whole pages among
  // them that the new file lacks are written to it and synced on the way.
  void write_final(const std::uint8_t* bytes, std::uint32_t from, std::uint32_t to);
  // Writes every page the new file lacks, syncs and commits; the save is over
  // either way. committed receives the identity of the new file.
  bool finish(const std::uint8_t* bytes, platform::FileIdentity* committed, std::string* reason);
  // Drops the new file; nothing is committed.
  void drop();

 private:
  bool lacks(std::uint32_t page) const { return (unsaved_[page / 8] >> (page % 8) & 1) != 0; }
  // Writes the pages in [first, last) the new file lacks.
  bool write_pages(const std::uint8_t* bytes, std::uint32_t first, std::uint32_t last,
                   std::string* reason);
  void ask_for_sync();
  void stop_syncing();
  void sync_when_asked();

  platform::FileReplacement file_;
  ByteBuffer unsaved_;  // one bit per page the new file lacks
  std::uint32_t size_ = 0;
  std::thread syncer_;
  std::mutex lock_;
  std::condition_variable asked_to_sync_;
  std::uint32_t asked_ = 0;  // syncs asked for so far
  bool stopping_ = false;
};

}  // namespace tilvex
