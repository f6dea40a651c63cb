// The save begun ahead (see save_ahead.h).
#include "rom/save_ahead.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tilvex {

namespace {

// Pages that hold any of the first `bytes` bytes.
std::uint32_t pages_up_to(std::uint32_t bytes) {
  return bytes / kRomPageSize + (bytes % kRomPageSize != 0 ? 1 : 0);
}

}  // namespace

bool SaveAhead::begin(const platform::OpenFile& file, const platform::FileIdentity& identity,
                      const std::uint8_t* bytes, std::uint32_t size, std::uint32_t from,
                      std::uint32_t to) {
  drop();
  from = std::min(from, size);
  to = std::clamp(to, from, size);
  // At first the new file lacks every page.
  const std::size_t map_size = pages_up_to(size) / 8 + 1;
  unsaved_ = allocate_bytes(map_size);
  if (!unsaved_) return false;
  std::memset(unsaved_.get(), 0xFF, map_size);
  size_ = size;

  std::string ignored;  // a failure here shows again, with its reason, at the save
  if (!file_.begin(file, &ignored) || !file_.unnamed() ||
      !write_pages(bytes, 0, from / kRomPageSize, &ignored) ||
      !write_pages(bytes, pages_up_to(to), pages_up_to(size), &ignored)) {
    drop();
    return false;
  }
  file_.require_identity(identity);
  // The thread only waits for the disk; without one, the sync at commit does
  // all the waiting.
  try {
    syncer_ = std::thread([this] { sync_when_asked(); });
  } catch (...) {
  }
  ask_for_sync();
  return true;
}

void SaveAhead::note_written(std::uint32_t offset, std::uint32_t length) {
  if (!unsaved_ || length == 0) return;
  const std::uint32_t last = (offset + length - 1) / kRomPageSize;
  for (std::uint32_t page = offset / kRomPageSize; page <= last; ++page) {
    unsaved_[page / 8] |= static_cast<std::uint8_t>(1u << (page % 8));
  }
}

void SaveAhead::write_final(const std::uint8_t* bytes, std::uint32_t from, std::uint32_t to) {
  if (!active() || to > size_ || from >= to) return;
  // A failed write leaves its pages lacking: the end of the save tries again
  // and reports the failure.
  std::string ignored;
  if (write_pages(bytes, pages_up_to(from), to / kRomPageSize, &ignored)) ask_for_sync();
}

bool SaveAhead::finish(const std::uint8_t* bytes, platform::FileIdentity* committed,
                       std::string* reason) {
  stop_syncing();
  const bool done = write_pages(bytes, 0, pages_up_to(size_), reason) && file_.commit(reason);
  if (done) *committed = file_.committed_identity();
  drop();
  return done;
}

void SaveAhead::drop() {
  stop_syncing();
  file_.discard();
  unsaved_.reset();
  size_ = 0;
}

bool SaveAhead::write_pages(const std::uint8_t* bytes, std::uint32_t first, std::uint32_t last,
                            std::string* reason) {
  for (std::uint32_t page = first; page < last;) {
    if (!lacks(page)) {
      ++page;
      continue;
    }
    std::uint32_t end = page + 1;
    while (end < last && lacks(end)) ++end;
    const std::uint32_t offset = page * kRomPageSize;
    const auto stop = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{end} * kRomPageSize, size_));
    if (!file_.write_at(offset, bytes + offset, stop - offset, reason)) return false;
    for (; page < end; ++page) unsaved_[page / 8] &= static_cast<std::uint8_t>(~(1u << (page % 8)));
  }
  return true;
}

void SaveAhead::ask_for_sync() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    ++asked_;
  }
  asked_to_sync_.notify_one();
}

void SaveAhead::stop_syncing() {
  if (!syncer_.joinable()) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  asked_to_sync_.notify_one();
  syncer_.join();
  stopping_ = false;
  asked_ = 0;
}

// The syncer's loop: one sync for however many requests came while the last
// one ran; it ends when asked to stop, as the commit syncs anyway.
void SaveAhead::sync_when_asked() {
  std::uint32_t synced = 0;
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    asked_to_sync_.wait(hold, [&] { return stopping_ || asked_ != synced; });
    if (stopping_) return;
    synced = asked_;
    hold.unlock();
    file_.sync_written();
    hold.lock();
  }
}

}  // namespace tilvex
