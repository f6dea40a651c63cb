// The structure pipeline. Workers claim the next structure from a shared
// counter, so a slow structure holds up only its own worker, and wait (on the
// caller's progress counter, not by spinning) while they are a window ahead.
// Each structure's work writes only its own slot; the release and acquire
// pairs on the per-slot done counters and the caller's progress counter hand
// a slot's contents from one thread to the other.
#include "transfer/pipeline.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

namespace tilvex {

void add_note(StructureSlot* slot, const char* format, ...) {
  const std::size_t used = std::strlen(slot->note);
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(slot->note + used, kSlotNoteSize - used, format, arguments);
  va_end(arguments);
}

void hand_over(StructureSlot* slot, std::FILE* messages, FileProblems* problems) {
  std::fputs(slot->note, messages);
  for (FileProblem& problem : slot->problems) note_problem(problems, problem.name, problem.reason);
}

StructurePipeline::~StructurePipeline() { stop(); }

bool StructurePipeline::start(unsigned threads, std::uint32_t count, StructureWork work,
                              void* context) {
  stop();
  work_ = work;
  context_ = context;
  count_ = count;
  if (threads < 1) threads = 1;
  if (threads > kMaxWorkers) threads = kMaxWorkers;
  // A few structures per worker keep each busy while the caller catches up.
  window_ = threads == 1 ? 1 : (threads * 4 < kMaxWindow ? threads * 4 : kMaxWindow);
  buffers_ = allocate_bytes(std::size_t{window_} * kStructureBufferSize);
  if (!buffers_) return false;
  for (std::uint32_t s = 0; s < window_; ++s) {
    slots_[s].buffer = buffers_.get() + std::size_t{s} * kStructureBufferSize;
    done_[s].store(0, std::memory_order_relaxed);
  }
  next_.store(0, std::memory_order_relaxed);
  taken_.store(0, std::memory_order_relaxed);
  stopping_.store(false, std::memory_order_relaxed);
  if (threads == 1) return true;
  for (; started_ < threads; ++started_) {
    // A thread the system will not give (no memory, a limit reached) is no
    // failure: the threads there are do its share, and with none at all the
    // caller works through the structures itself.
    try {
      workers_[started_] = std::thread([this] { work_through(); });
    } catch (const std::exception&) {
      break;
    }
  }
  return true;
}

void StructurePipeline::do_work(std::uint32_t index, StructureSlot* slot) {
  slot->size = 0;
  slot->failed = false;
  slot->note[0] = '\0';
  slot->problems.clear();
  work_(context_, index, slot);
}

void StructurePipeline::work_through() {
  for (;;) {
    const std::uint32_t k = next_.fetch_add(1, std::memory_order_relaxed);
    if (k >= count_) return;
    // Wait until the caller has taken the structure that last used this slot.
    std::uint32_t taken = taken_.load(std::memory_order_acquire);
    while (k >= taken + window_) {
      if (stopping_.load(std::memory_order_acquire)) return;
      taken_.wait(taken, std::memory_order_acquire);
      taken = taken_.load(std::memory_order_acquire);
    }
    if (stopping_.load(std::memory_order_acquire)) return;
    const std::uint32_t s = k % window_;
    do_work(k, &slots_[s]);
    done_[s].store(k + 1, std::memory_order_release);
    done_[s].notify_all();
  }
}

StructureSlot* StructurePipeline::take(std::uint32_t index) {
  const std::uint32_t s = index % window_;
  if (started_ == 0) {
    do_work(index, &slots_[s]);
    return &slots_[s];
  }
  // The slot of the structure before is free from now on.
  taken_.store(index, std::memory_order_release);
  taken_.notify_all();
  std::uint32_t done = done_[s].load(std::memory_order_acquire);
  while (done != index + 1) {
    done_[s].wait(done, std::memory_order_acquire);
    done = done_[s].load(std::memory_order_acquire);
  }
  return &slots_[s];
}

void StructurePipeline::stop() {
  if (started_ != 0) {
    stopping_.store(true, std::memory_order_release);
    // Wakes every worker waiting for room; none claims work from here on.
    taken_.store(count_, std::memory_order_release);
    taken_.notify_all();
    for (unsigned i = 0; i < started_; ++i) workers_[i].join();
    started_ = 0;
  }
}

}  // namespace tilvex
