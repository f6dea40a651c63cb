// The repeat finder of the format 1 encoder: for a position p of the source,
// the longest earlier repeat of at least a given length, limited to a reach,
// the earliest position winning among equally long ones. The encoder's stream
// depends on it byte for byte. A plain walk over every earlier position with
// the same two leading bytes gives that repeat but is quadratic on inputs such
// as 64 KiB drawn from two byte values; the search below returns exactly the
// same repeat, faster:
//
// * Only a repeat that would win matters, so the fill at p is measured first
//   and the search looks only for repeats at least `need` bytes long (4, or
//   long enough to beat the fill). A shorter repeat cannot change the stream.
// * Level chains. Level k links each position, in increasing order, with the
//   other positions whose first w bytes (w = 4, 8, 16, 32, 64 or 256) hash
//   alike. Every position sharing at least w bytes with p is on p's
//   chain; a hash collision only costs a comparison. Level 0 chains that
//   walks cross far are also copied into one array and walked there
//   (format1_hot_chains.h).
// * Runs. When p starts a run that a byte fill or word fill covers, a winning
//   repeat must copy a run of the same byte (or pair) that is at least as long
//   and followed by the same bytes. So the search walks the maximal runs
//   bucketed by their last byte(s) and the bytes after them, rather than the
//   thousands of positions inside long runs (format1_runs.h).
// * A walk visits candidates in increasing position order and keeps the first
//   of the longest, so ties go to the earliest position; it stops when a
//   repeat reaches the reach. Whenever a candidate improves the best length
//   B, every later candidate that could be longer shares more than B bytes
//   with p, so the walk may move to the chain of a wider level (w <= B), on
//   which the candidate lies, and carry on from there.
// * A candidate is compared in full only when its bytes ending at offset B
//   agree with p's (8 of them, or 4 while B < 7); comparisons run 8 bytes at
//   a time.
// * Level 0 is built with the first search, wider levels only once the walks
//   since the last build have cost about as much as building one, so inputs
//   with short repeats never pay for them (the build budget; see
//   format1_tuning.h).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "codec/format1_buckets.h"
#include "codec/format1_hot_chains.h"
#include "codec/format1_runs.h"

namespace tilvex::format1_detail {

inline constexpr std::uint32_t kMinRepeat = 4;

// Command kinds as they appear in a header.
enum Kind : std::uint32_t { kDirectCopy, kByteFill, kWordFill, kIncreasingFill, kBackReference };

struct Repeat {
  std::uint32_t length = 0;  // 0 when there is none worth writing
  std::uint32_t offset = 0;
};

// The fill that can start at p: at most one of the three kinds applies.
struct Fill {
  Kind kind = kByteFill;
  std::uint32_t length = 0;  // 0 when there is none
  std::uint32_t margin = 0;  // by how much a repeat must be longer to win
};

// The position index described at the top of this file.
class RepeatFinder {
 public:
  // Prefix lengths of the levels; a level is chosen by the bit width of a
  // length through kLevelOfBitWidth.
  // (A level of 1024 would never be walked: a repeat that long reaches the
  // reach and ends the search.)
  static constexpr std::uint32_t kLevels = 6;
  static constexpr std::uint32_t kWidth[kLevels] = {4, 8, 16, 32, 64, 256};
  static constexpr std::uint8_t kLevelOfBitWidth[12] = {0, 0, 0, 0, 1, 2, 3, 4, 4, 5, 5, 5};
  static constexpr std::uint16_t kNone = 0xFFFF;  // no position; real positions stay below

  // Bytes of memory init needs for a source of size bytes.
  static std::size_t memory_needed(std::uint32_t size) {
    if (size < kMinRepeat + 1) return 0;  // no position has an earlier repeat
    // Per level a head table and a link per position, each of the 2 * kLevels
    // parts rounded up to 4 bytes; the runs; the copies of hot chains.
    return (kLevels + (1u << kLevel0Spread) - 1) * head_bytes(size) + kLevels * link_bytes(size) +
           3 * 2 * kLevels + RunIndex::memory_needed(size) + HotChains::memory_needed(size);
  }

  // Lays the chains out in memory (memory_needed bytes, aligned for 64-bit
  // values); chains are built on first use.
  void init(const std::uint8_t* source, std::uint32_t size, std::uint8_t* memory,
            std::uint32_t build_budget) {
    source_ = source;
    size_ = size;
    budget_ = build_budget;
    if (memory_needed(size) == 0) return;
    bits_ = table_bits(size);
    auto take = [&memory](auto*& part, std::size_t count) {
      part = reinterpret_cast<std::remove_reference_t<decltype(part)>>(memory);
      memory += (count * sizeof *part + 3) & ~std::size_t{3};  // keeps 32-bit alignment
    };
    for (std::uint32_t k = 0; k < kLevels; ++k) {
      take(chains_[k].head, std::size_t{1} << (bits_ + (k == 0 ? kLevel0Spread : 0)));
      take(chains_[k].next, size);
    }
    runs_.lay_out(memory, size);
    hot_.lay_out(memory + RunIndex::memory_needed(size), size);
  }

  // The longest repeat of p of at least need bytes among the earlier
  // positions, limited to reach; the earliest such position on ties. fill is
  // what starts at p, from which need was derived.
  Repeat find(std::uint32_t p, std::uint32_t reach, std::uint32_t need, const Fill& fill) {
    Walk walk{p, reach, need - 1};
    if (p == 0 || need > reach) return walk.found;  // also covers sources too short to index
    std::uint32_t c;
    if (fill.length != 0 && fill.kind != kIncreasingFill) {
      if (!walk_runs(walk, fill, c)) return walk.found;
    } else {
      // Level 0 is built for the first search; the others wait until walks
      // on the lower levels have cost about as much as building them.
      if (!built_[0]) build_level(0);
      std::uint32_t k = level_for(need);
      while (!built_[k] && !afford_level(k)) --k;
      walk.level = k;
      walk.shared = kWidth[k];
      c = chains_[k].head[bucket(p, k)];
      if (c >= p) return walk.found;
      if (consider(walk, c)) {
        if (walk.done) return walk.found;
      } else if (k == 0) {
        // Most level 0 chains hold one earlier position or none.
        if (chains_[0].next[c] >= p || !walk_level0(walk, c)) return walk.found;
      }
    }
    // c is on the chain of walk.level and has been considered.
    for (;;) {
      c = chains_[walk.level].next[c];
      if (c >= p) return walk.found;  // kNone is never below p
      ++walked_;
      if (consider(walk, c) && walk.done) return walk.found;
    }
  }

 private:
  static constexpr std::uint64_t kBase = 0x100000001B3ull;
  // Level 0, which nearly every search starts on, gets 1 << kLevel0Spread
  // times as many buckets, so that its chains rarely hold other keys.
  static constexpr std::uint32_t kLevel0Spread = 2;

  struct Chains {
    std::uint16_t* head = nullptr;  // per bucket, the earliest entry
    std::uint16_t* next = nullptr;  // per entry, the next one in its bucket
  };

  // One search in progress.
  struct Walk {
    std::uint32_t p;
    std::uint32_t reach;
    std::uint32_t best;  // a candidate must be strictly longer
    Repeat found = {};
    std::uint32_t level = 0;   // the level whose chain is walked
    std::uint32_t shared = 0;  // bytes every true member of that chain shares with p
    bool done = false;         // a repeat reached the reach
  };

  // The run part of a search where p starts a run of one byte or of a pair of
  // bytes that is exactly fill.length long (need <= reach ensures it ends
  // before the reach). A repeat long enough to win copies it from a run of
  // the same pattern that is at least as long and is followed by the same
  // bytes. Returns true when the walk goes on from c in a level's chain. Kept
  // out of line, so that find, which runs at nearly every position, inlines.
  [[gnu::noinline]] bool walk_runs(Walk& walk, const Fill& fill, std::uint32_t& c) {
    const std::uint32_t kind = fill.kind == kByteFill ? 0 : 1;
    const Buckets<std::uint32_t>& runs = runs_.runs(source_, size_, kind);
    const std::uint8_t* const s = source_;
    const std::uint32_t p = walk.p;
    const std::uint32_t length = fill.length;
    const std::uint32_t b = runs_.bucket(s, kind, p + length);
    const std::uint32_t end = runs.first[b + 1];
    std::uint32_t i = runs.first[b];
    std::uint32_t counted = i;  // entries before it are in walked_
    walk.shared = walk.best + 1;
    for (; i < end; ++i) {
      const std::uint32_t run = runs.entries[i];  // its end, and its length above
      if ((run >> 16) < length) continue;
      c = (run & 0xFFFF) - length;
      if (c >= p) break;
      // Unless the bucket is shared with another key, c starts the same
      // `length` bytes as p; the comparison can begin after them.
      if (s[c] != s[p] || s[c + 1] != s[p + 1] || !agrees_at(s + c, s + p, walk.best)) continue;
      walked_ += i + 1 - counted;
      counted = i + 1;
      if (consider(walk, c, length)) return !walk.done;
    }
    walked_ += i - counted;
    return false;
  }

  // The rest of a level 0 search after c, the head of p's chain, which has
  // been considered: on the chain itself, or on its copy once it has been
  // copied (format1_hot_chains.h). Returns true when the walk goes on from c
  // in a wider level's chain. Kept out of line for the same reason as
  // walk_runs.
  [[gnu::noinline]] bool walk_level0(Walk& walk, std::uint32_t& c) {
    const std::uint32_t head = c;
    std::uint32_t at = hot_.find(head);
    if (at == HotChains::kNotCopied) {
      const std::uint16_t* const next = chains_[0].next;
      for (std::uint32_t steps = 1;; ++steps) {
        c = next[c];
        if (c >= walk.p) return false;
        ++walked_;
        if (steps == HotChains::kSteps) {
          at = hot_.walked_far(next, head);
          if (at != HotChains::kNotCopied) {
            at += steps;
            break;
          }
        }
        if (consider(walk, c)) return !walk.done;
      }
    } else {
      ++at;
    }
    // The entries of the copy from `at` on have not been considered yet.
    const std::uint16_t* const entries = hot_.pool();
    const std::uint8_t* const s = source_;
    const std::uint8_t* const q = s + walk.p;
    const std::uint32_t p = walk.p;
    for (std::uint32_t i = at;;) {
      // Passes over the entries that disagree with p where a longer repeat
      // would have to agree (agrees_at) in one tight loop; the end mark
      // stops it.
      const std::uint32_t best = walk.best;
      if (best >= 7) {
        const std::uint64_t want = load64(q + best - 7);
        while (entries[i] < p && load64(s + entries[i] + best - 7) != want) ++i;
      } else {
        const std::uint32_t want = load32(q + best - 3);
        while (entries[i] < p && load32(s + entries[i] + best - 3) != want) ++i;
      }
      c = entries[i];
      if (c >= p) {
        walked_ += i - at;
        return false;
      }
      ++i;
      if (measure(walk, c, 0)) {
        walked_ += i - at;
        return !walk.done;
      }
    }
  }

  // Compares candidate c with p, whose first `known` bytes are known to agree.
  // Returns true when the walk has to move on differently: it is done, or it
  // has moved to a sparser level, on whose chain c lies.
  bool consider(Walk& walk, std::uint32_t c, std::uint32_t known = 0) {
    if (known == 0 && !agrees_at(source_ + c, source_ + walk.p, walk.best)) return false;
    return measure(walk, c, known);
  }

  // consider, once c is known to agree where a longer repeat has to.
  bool measure(Walk& walk, std::uint32_t c, std::uint32_t known) {
    const std::uint8_t* const s = source_;
    const std::uint32_t m =
        known + common_length(s + c + known, s + walk.p + known, walk.reach - known);
    if (m <= walk.best) return false;
    walk.best = m;
    walk.found = {m, c};
    if (m == walk.reach) {
      walk.done = true;
      return true;
    }
    // Every later position that could be longer shares more than m bytes
    // with p, so it is on the chain of any level up to m bytes wide, as c is.
    std::uint32_t k = level_for(m);
    if (kWidth[k] <= walk.shared) return false;
    while (!built_[k] && !afford_level(k)) {
      if (--k == 0 || kWidth[k] <= walk.shared) return false;
    }
    walk.level = k;
    walk.shared = kWidth[k];
    return true;
  }

  // Builds level k once the walks since the last build have used up the
  // budget; every walk stays exact either way.
  bool afford_level(std::uint32_t k) {
    if (walked_ < budget_) return false;
    build_level(k);
    walked_ = 0;
    return true;
  }

  // Buckets per table: a power of two, at least the source size.
  static std::uint32_t table_bits(std::uint32_t size) {
    return std::max(8u, static_cast<std::uint32_t>(std::bit_width(size - 1)));
  }
  static std::size_t head_bytes(std::uint32_t size) {
    return (std::size_t{1} << table_bits(size)) * sizeof(std::uint16_t);
  }
  static std::size_t link_bytes(std::uint32_t size) {
    return std::size_t{size} * sizeof(std::uint16_t);
  }

  // The highest level whose prefix length is at most length (length >= 4).
  static std::uint32_t level_for(std::uint32_t length) {
    return kLevelOfBitWidth[std::min<std::uint32_t>(
        static_cast<std::uint32_t>(std::bit_width(length)), 11)];
  }

  // Whether a and b agree at index best (at least 3) and on the 7 bytes
  // before it when there are that many, else on the 3 before it; a strictly
  // longer repeat has to.
  static bool agrees_at(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t best) {
    if (best >= 7) return load64(a + best - 7) == load64(b + best - 7);
    return load32(a + best - 3) == load32(b + best - 3);
  }

  std::uint32_t scramble(std::uint64_t h) const { return scramble_to(h, bits_); }

  // The bucket of the level-k prefix at i: up to 16 bytes a hash of its
  // bytes loaded whole, above that the polynomial hash sum(S[i + j] * kBase^j)
  // of its bytes, scrambled. Equal bytes give equal buckets; the odd unequal
  // pair sharing one only costs a comparison.
  std::uint32_t bucket(std::uint32_t i, std::uint32_t k) const {
    const std::uint8_t* const s = source_ + i;
    switch (k) {
      case 0:
        return level0_bucket(i);
      case 1:
        return scramble(load64(s));
      case 2:
        return scramble(load64(s) * 0x9E3779B97F4A7C15ull + load64(s + 8));
      default:
        break;
    }
    std::uint64_t h = 0;
    for (std::uint32_t j = kWidth[k]; j-- > 0;) h = h * kBase + s[j];
    return scramble(h);
  }

  std::uint32_t level0_bucket(std::uint32_t i) const {
    return (load32(source_ + i) * 0x9E3779B1u) >> (32 - bits_ - kLevel0Spread);
  }

  // Chains every position that has kWidth[k] bytes after it, in increasing
  // order, the earliest at the head of its chain. Above 16 bytes the hash
  // rolls from each position to the one before it.
  void build_level(std::uint32_t k) {
    const std::uint32_t width = kWidth[k];
    const Chains& chains = chains_[k];
    std::fill_n(chains.head, std::size_t{1} << (bits_ + (k == 0 ? kLevel0Spread : 0)), kNone);
    built_[k] = true;
    if (size_ < width) return;
    auto link = [&chains](std::uint32_t i, std::uint32_t b) {
      chains.next[i] = chains.head[b];
      chains.head[b] = static_cast<std::uint16_t>(i);
    };
    if (width <= 16) {
      for (std::uint32_t i = size_ - width + 1; i-- > 0;) link(i, bucket(i, k));
      return;
    }
    const std::uint8_t* const s = source_;
    std::uint64_t power = 1;  // kBase^width
    for (std::uint32_t j = 0; j < width; ++j) power *= kBase;
    std::uint32_t i = size_ - width;
    std::uint64_t h = 0;
    for (std::uint32_t j = width; j-- > 0;) h = h * kBase + s[i + j];
    for (;;) {
      link(i, scramble(h));
      if (i == 0) break;
      --i;
      h = s[i] + kBase * h - s[i + width] * power;
    }
  }

  const std::uint8_t* source_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t bits_ = 0;
  Chains chains_[kLevels] = {};
  RunIndex runs_;
  HotChains hot_;
  bool built_[kLevels] = {};
  std::uint32_t walked_ = 0;  // chain entries visited since the last level was built
  std::uint32_t budget_ = 0;
};

}  // namespace tilvex::format1_detail
