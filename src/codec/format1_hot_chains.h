// Hot chains of the format 1 repeat finder: copies of the level 0 chains
// that searches walk again and again, each in one array.
//
// On graphics a few 4-byte keys are everywhere, and every search that starts
// with one walks hundreds of earlier positions of its chain. A linked chain
// makes each step wait for the link before it; once a walk has gone far on a
// chain, the finder copies the whole of it, in the same order, into the pool
// here, where that walk and later ones read it in order and the processor
// fetches ahead. Copying a chain costs about one linked walk over it, which
// the walk that asked for the copy would have paid anyway; the entries that
// walk has passed are handed over, not followed again. Inputs whose walks
// stay short never copy anything.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace tilvex::format1_detail {

class HotChains {
 public:
  static constexpr std::uint32_t kNone = 0xFFFF;  // as in the chains: past every position
  static constexpr std::uint32_t kNotCopied = 0xFFFFFFFF;
  // A walk that takes this many steps on a chain makes it hot. Every copied
  // chain so holds more entries than this, and the end marks in the pool
  // take at most one slot per this many positions.
  static constexpr std::uint32_t kSteps = 16;

  // Bytes of memory lay_out needs for a source of size bytes.
  static std::size_t memory_needed(std::uint32_t size) {
    return 2 * kSlots * sizeof(std::uint32_t) + pool_capacity(size) * sizeof(std::uint16_t);
  }

  // Takes memory_needed(size) bytes, aligned for 32-bit values.
  void lay_out(std::uint8_t* memory, std::uint32_t size) {
    heads_ = reinterpret_cast<std::uint32_t*>(memory);
    starts_ = heads_ + kSlots;
    pool_ = reinterpret_cast<std::uint16_t*>(starts_ + kSlots);
    (void)size;
  }

  // Where the copy of the chain headed by position head begins in pool(), or
  // kNotCopied.
  std::uint32_t find(std::uint32_t head) const {
    if (copies_ == 0) return kNotCopied;
    const std::uint32_t slot = look_up(head);
    return heads_[slot] == head + 1 ? starts_[slot] : kNotCopied;
  }

  // Copies the chain that next links and on which a walk has just gone
  // kSteps steps, followed by an end mark: passed holds its first kSteps
  // entries, from its head on, and rest is the one after them. Returns where
  // the copy begins, or kNotCopied.
  std::uint32_t walked_far(const std::uint16_t* next, const std::uint16_t* passed,
                           std::uint32_t rest) {
    if (copies_ == 0) std::fill_n(heads_, kSlots, 0u);
    // The table stays at most half full; past that, chains stay linked.
    if (copies_ == kSlots / 2) return kNotCopied;
    const std::uint32_t head = passed[0];
    const std::uint32_t slot = look_up(head);
    heads_[slot] = head + 1;
    const std::uint32_t at = used_;
    std::copy_n(passed, kSteps, pool_ + used_);
    used_ += kSteps;
    for (std::uint32_t c = rest; c != kNone; c = next[c]) {
      pool_[used_++] = static_cast<std::uint16_t>(c);
    }
    pool_[used_++] = static_cast<std::uint16_t>(kNone);
    starts_[slot] = at;
    ++copies_;
    return at;
  }

  const std::uint16_t* pool() const { return pool_; }

 private:
  static constexpr std::uint32_t kSlots = 1024;  // chains that can be copied, twice over

  // Every position at most once, and an end mark per copied chain.
  static std::size_t pool_capacity(std::uint32_t size) { return size + size / kSteps + 2; }

  // The slot of head, or the empty one where it would go.
  std::uint32_t look_up(std::uint32_t head) const {
    std::uint32_t slot = (head * 0x9E3779B1u) >> 22;
    while (heads_[slot] != 0 && heads_[slot] != head + 1) slot = (slot + 1) & (kSlots - 1);
    return slot;
  }

  std::uint32_t* heads_ = nullptr;   // per slot: a copied chain's head + 1, or 0
  std::uint32_t* starts_ = nullptr;  // per slot: where its copy begins
  std::uint16_t* pool_ = nullptr;
  std::uint32_t used_ = 0;    // entries of the pool in use
  std::uint32_t copies_ = 0;  // chains copied, each holding one slot
};

}  // namespace tilvex::format1_detail
