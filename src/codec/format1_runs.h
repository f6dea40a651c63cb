// The runs index of the format 1 repeat finder: the maximal runs that a byte
// fill or a word fill could cover, grouped by what ends them. When p starts
// such a run, a repeat long enough to win copies a run of the same pattern
// that is at least as long and followed by the same bytes, so the finder
// looks only at the runs in that group (format1_repeat_finder.h) rather than
// at the thousands of positions inside long runs. The runs are few, so they
// are kept in contiguous buckets (format1_buckets.h), which walk fast.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "codec/format1_buckets.h"

namespace tilvex::format1_detail {

class RunIndex {
 public:
  // Bytes of memory lay_out needs for a source of size bytes, a multiple of
  // 4: per kind its entries and table, and the runs before grouping with
  // their keys and ranks, each part rounded up to 4 bytes.
  static std::size_t memory_needed(std::uint32_t size) {
    const std::size_t table = ((std::size_t{1} << bucket_bits(size)) + 1) * sizeof(std::uint16_t);
    return 3 * capacity(size) * sizeof(std::uint32_t) + 2 * round_up(table) +
           2 * round_up(capacity(size) * sizeof(std::uint16_t));
  }

  // Takes memory_needed(size) bytes, aligned for 32-bit values; the groups
  // are built on first use.
  void lay_out(std::uint8_t* memory, std::uint32_t size) {
    bits_ = bucket_bits(size);
    auto take = [&memory](auto*& part, std::size_t count) {
      part = reinterpret_cast<std::remove_reference_t<decltype(part)>>(memory);
      memory += round_up(count * sizeof *part);  // keeps 32-bit alignment
    };
    for (Buckets<std::uint32_t>& runs : runs_) take(runs.entries, capacity(size));
    take(values_, capacity(size));
    for (Buckets<std::uint32_t>& runs : runs_) take(runs.first, (std::size_t{1} << bits_) + 1);
    take(keys_, capacity(size));
    take(ranks_, capacity(size));
  }

  // The runs of s (n bytes) of one kind (0: a byte repeated at least 3
  // times; 1: two different bytes alternating for at least 4), each as its
  // end | its length << 16, in increasing order within each bucket.
  const Buckets<std::uint32_t>& runs(const std::uint8_t* s, std::uint32_t n, std::uint32_t kind) {
    if (!built_[kind]) build(s, n, kind);
    return runs_[kind];
  }

  // The bucket of a run ending at e: its last byte and the two bytes after
  // it, or its last two bytes and the byte after it for a run of a pair.
  std::uint16_t bucket(const std::uint8_t* s, std::uint32_t kind, std::uint32_t e) const {
    const std::uint8_t* const k = s + e - (kind == 0 ? 1 : 2);
    const std::uint64_t key =
        std::uint64_t{k[0]} | std::uint64_t{k[1]} << 8 | std::uint64_t{k[2]} << 16;
    return static_cast<std::uint16_t>(scramble_to((key + 1) * 0x9E3779B97F4A7C15ull, bits_));
  }

 private:
  // Buckets per kind. Their keys are 24 bits wide, but runs that are
  // followed by many different bytes are few, and a key shared by two only
  // costs a comparison. An eighth of the source size, from 256 to 4096.
  static std::uint32_t bucket_bits(std::uint32_t size) {
    return std::clamp(static_cast<std::uint32_t>(std::bit_width(size - 1)), 11u, 15u) - 3;
  }

  static std::size_t round_up(std::size_t bytes) { return (bytes + 3) & ~std::size_t{3}; }

  // Every maximal run ends at least 3 bytes after the one before, and the
  // first at byte 3 or later.
  static std::size_t capacity(std::uint32_t size) { return size / 3 + 1; }

  // Groups the maximal runs of one kind. A run of a pair may share its first
  // byte with the previous one.
  void build(const std::uint8_t* s, std::uint32_t n, std::uint32_t kind) {
    built_[kind] = true;
    const bool pairs = kind == 1;
    const std::uint32_t period = pairs ? 2 : 1;
    const std::uint32_t after = pairs ? 1 : 2;  // bytes after the run in its key
    Buckets<std::uint32_t>& runs = runs_[kind];
    const std::uint32_t buckets = 1u << bits_;
    runs.start(buckets);
    std::uint32_t* const values = values_;
    std::uint32_t count = 0;
    for (std::uint32_t a = next_run(s, n, 0, period); a < n; a = next_run(s, n, a, period)) {
      const std::uint32_t e = a + period + common_length(s + a + period, s + a, n - a - period);
      if (e + after <= n && e < 0xFFFF && (!pairs || s[a] != s[a + 1])) {
        const std::uint16_t key = bucket(s, kind, e);
        keys_[count] = key;
        ranks_[count] = runs.place(key);
        values[count++] = e | (e - a) << 16;
      }
      a = e - period + 1;  // where the next run can begin at the earliest
    }
    runs.finish(keys_, ranks_, count, buckets, [values](std::uint32_t r) { return values[r]; });
  }

  Buckets<std::uint32_t> runs_[2] = {};
  std::uint32_t* values_ = nullptr;  // while building: each run's entry
  std::uint16_t* keys_ = nullptr;    // while building: each run's bucket
  std::uint16_t* ranks_ = nullptr;   // and its place in the bucket
  std::uint32_t bits_ = 0;
  bool built_[2] = {};
};

}  // namespace tilvex::format1_detail
