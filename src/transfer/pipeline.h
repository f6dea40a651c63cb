// The structures of a run worked on by several threads while the calling
// thread takes them, one by one and in structure order, as they are done.
//
// Extraction decodes and insertion reads and encodes the structures
// independently of each other; what must stay in order (messages, writes to
// the graphics file and the image, stopping at the first failure) is left to
// the caller, which takes structure 0, 1, 2, ... and handles each as if it
// had just been worked on itself. A structure's work therefore never prints
// or writes anything shared: it fills its own slot (buffer, size, held-back
// messages, file problems), and the caller prints the messages when the
// structure's turn comes. With one thread (or when no thread can be
// started) every structure is worked on by the taking thread at its turn,
// exactly as a run without the pipeline.
//
// The workers claim structures from a shared counter and run at most a
// window of structures ahead of the caller; a slot is reused once the caller
// has taken the next structure. The threads are started once per run, not
// per structure.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "common/types.h"
#include "platform/memory.h"
#include "transfer/problems.h"

namespace tilvex {

inline constexpr std::size_t kSlotNoteSize = 256;

// One structure's work and its outcome.
struct StructureSlot {
  std::uint8_t* buffer = nullptr;  // kStructureBufferSize bytes
  std::uint32_t size = 0;
  bool failed = false;            // the work says the run stops at this structure
  char note[kSlotNoteSize] = {};  // messages held back until the structure's turn
  FileProblems problems;          // the files behind those messages, and why
};

// Appends a message to the slot, printf-style; one that does not fit is cut.
void add_note(StructureSlot* slot, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Prints the slot's held-back messages and moves its problems on.
void hand_over(StructureSlot* slot, std::FILE* messages, FileProblems* problems);

// The work on structure index: fills the slot. May run on any thread, at the
// same time as the work on other structures.
using StructureWork = void (*)(void* context, std::uint32_t index, StructureSlot* slot);

class StructurePipeline {
 public:
  StructurePipeline() = default;
  ~StructurePipeline();
  StructurePipeline(const StructurePipeline&) = delete;
  StructurePipeline& operator=(const StructurePipeline&) = delete;

  // Prepares work on structures 0 to count - 1 on up to `threads` threads.
  // False when memory for the slots is short.
  bool start(unsigned threads, std::uint32_t count, StructureWork work, void* context);
  // The slot of structure index once its work is done. Indexes must come in
  // order from 0; the slot stays valid until the next call.
  StructureSlot* take(std::uint32_t index);
  // Stops the workers (the caller needs no more structures) and waits for
  // them. Also done when the pipeline goes.
  void stop();

 private:
  // Workers claim a few consecutive structures at a time and report them
  // done together: fewer hand-overs between threads, each of which may cost
  // a sleep and a wake-up.
  static constexpr std::uint32_t kChunk = 4;
  static constexpr std::uint32_t kMaxWindow = 32;
  static constexpr std::uint32_t kMaxWorkers = kMaxWindow / kChunk;

  void work_through();
  void wake(std::condition_variable* sleepers);
  void do_work(std::uint32_t index, StructureSlot* slot);

  StructureWork work_ = nullptr;
  void* context_ = nullptr;
  std::uint32_t count_ = 0;
  std::uint32_t window_ = 1;
  ByteBuffer buffers_;
  StructureSlot slots_[kMaxWindow];
  std::thread workers_[kMaxWorkers];
  unsigned started_ = 0;
  // The counters are shared without the lock; the lock and the two
  // conditions are only for sleeping: the caller on done_ready_ until its
  // structure is done, workers on room_ready_ while they are a window ahead.
  // Each side publishes its counter first and then looks whether the other
  // sleeps, so no wake-up is lost and none is sent in vain.
  std::mutex lock_;
  std::condition_variable done_ready_;
  std::condition_variable room_ready_;
  std::atomic<std::uint32_t> next_{0};   // first structure of the next chunk a worker claims
  std::atomic<std::uint32_t> taken_{0};  // structures the caller has finished with
  std::atomic<std::uint32_t> done_[kMaxWindow] = {};  // per slot: index + 1 of the work done there
  std::atomic<std::uint32_t> awaited_{0};  // index + 1 of the structure the caller sleeps for
  std::atomic<unsigned> waiting_for_room_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace tilvex
