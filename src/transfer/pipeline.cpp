// The structure pipeline. Workers claim the next structure from a shared
// counter, so a slow structure holds up only its own worker, and sleep while
// they are a window ahead; the caller sleeps until its structure is done.
// The counters are sequentially consistent atomics, which also hand a slot's
// contents from one thread to the other. Nobody spins: on a machine busy
// with other work, spinning threads would take time from the working ones.
#include "transfer/pipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>

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
  // Four chunks per worker, so that a worker done early finds room while
  // the caller still waits for a slower one. Most structures touch only a
  // few pages of their buffer.
  window_ = threads == 1 ? 1 : std::min(kMaxWindow, 4 * kChunk * threads);
  buffers_ = allocate_bytes(std::size_t{window_} * kStructureBufferSize);
  if (!buffers_) return false;
  for (std::uint32_t s = 0; s < window_; ++s) {
    slots_[s].buffer = buffers_.get() + std::size_t{s} * kStructureBufferSize;
    done_[s].store(0);
  }
  next_.store(0);
  taken_.store(0);
  awaited_.store(0);
  waiting_for_room_.store(0);
  stopping_.store(false);
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

void StructurePipeline::wake(std::condition_variable* sleepers) {
  // Passing through the lock makes sure a sleeper that saw the old counter
  // is asleep by now and gets the notice; notifying outside it lets the
  // sleeper run at once instead of waking into a held lock.
  { const std::lock_guard<std::mutex> pass(lock_); }
  sleepers->notify_all();
}

void StructurePipeline::work_through() {
  for (;;) {
    const std::uint32_t first = next_.fetch_add(kChunk);
    if (first >= count_ || stopping_.load()) return;
    const std::uint32_t end = std::min(count_, first + kChunk);
    // Wait until the caller has taken the structures that last used these
    // slots.
    if (end > taken_.load() + window_) {
      std::unique_lock<std::mutex> hold(lock_);
      ++waiting_for_room_;
      while (end > taken_.load() + window_ && !stopping_.load()) room_ready_.wait(hold);
      --waiting_for_room_;
      if (stopping_.load()) return;
    }
    for (std::uint32_t k = first; k < end; ++k) do_work(k, &slots_[k % window_]);
    for (std::uint32_t k = first; k < end; ++k) done_[k % window_].store(k + 1);
    const std::uint32_t awaited = awaited_.load();
    if (awaited > first && awaited <= end) wake(&done_ready_);
  }
}

StructureSlot* StructurePipeline::take(std::uint32_t index) {
  const std::uint32_t s = index % window_;
  if (started_ == 0) {
    do_work(index, &slots_[s]);
    return &slots_[s];
  }
  // The slot of the structure before is free from now on.
  taken_.store(index);
  if (waiting_for_room_.load() != 0) wake(&room_ready_);
  if (done_[s].load() != index + 1) {
    std::unique_lock<std::mutex> hold(lock_);
    awaited_.store(index + 1);
    while (done_[s].load() != index + 1) done_ready_.wait(hold);
    awaited_.store(0);
  }
  return &slots_[s];
}

void StructurePipeline::stop() {
  if (started_ == 0) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_.store(true);
    room_ready_.notify_all();
  }
  for (unsigned i = 0; i < started_; ++i) workers_[i].join();
  started_ = 0;
}

}  // namespace tilvex
