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
//   and followed by the same bytes. So the search walks the level 0 chain of
//   the 4 bytes around the end of p's run, which lists the ends of such runs,
//   rather than the thousands of positions inside long runs.
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
//   since the last build have cost about as much as building one (more near
//   the end of the source, where fewer searches are left to gain), so inputs
//   with short repeats never pay for them (the build budget; see
//   format1_tuning.h).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "codec/format1_bytes.h"
#include "codec/format1_hot_chains.h"

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
    // parts rounded up to 4 bytes; the copies of hot chains.
    return (kLevels + (1u << kLevel0Spread) - 1) * head_bytes(size) + kLevels * link_bytes(size) +
           3 * 2 * kLevels + HotChains::memory_needed(size);
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
    hot_.lay_out(memory, size);
  }

  // The longest repeat of p of at least need bytes among the earlier
  // positions, limited to reach; the earliest such position on ties. fill is
  // what starts at p, from which need was derived.
  Repeat find(std::uint32_t p, std::uint32_t reach, std::uint32_t need, const Fill& fill) {
    // Most positions of most inputs have no earlier position in their level 0
    // chain; with no fill to beat, the search there ends before it begins.
    if (fill.length == 0 && built_[0] && chains_[0].head[level0_bucket(p)] >= p) return {};
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
      while (!built_[k] && !afford_level(k, p)) --k;
      walk.level = k;
      walk.shared = kWidth[k];
      c = chains_[k].head[bucket(p, k)];
      if (c >= p) return walk.found;
      if (consider(walk, c)) {
        if (walk.done) return walk.found;
      } else if (k == 0) {
        // Most level 0 chains hold one earlier position or none.
        if (chains_[0].next[c] >= p || !walk_level0(walk, c, 0, 1, c)) return walk.found;
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
  // before the reach). A repeat long enough to win copies the run and the
  // bytes after it, so it also copies the 4 bytes that begin `back` bytes
  // before the run's end (2 for a byte, 3 for a pair) and reach past it. The
  // level 0 chain of those 4 bytes lists the ends of the runs like p's,
  // rather than the thousands of positions inside long runs; each entry
  // stands for the position fill.length - back bytes before it. Returns true
  // when the walk goes on from c in a level's chain.
  [[gnu::noinline]] bool walk_runs(Walk& walk, const Fill& fill, std::uint32_t& c) {
    if (!built_[0]) build_level(0);
    const std::uint32_t back = fill.kind == kByteFill ? 2 : 3;
    const std::uint32_t d = fill.length - back;
    const std::uint32_t head = chains_[0].head[level0_bucket(walk.p + d)];
    walk.shared = walk.best + 1;
    if (head >= walk.p + d) return false;
    return walk_level0(walk, head, d, 0, c);
  }

  // Walks the level 0 chain whose first entry is head, each entry q standing
  // for the candidate q - d: p's own chain (d = 0), or that of the point d
  // bytes after p (walk_runs). Entries below d stand for no position, and
  // entries from p + d on for none before p. The first `considered` entries
  // (0 or 1) have been considered already. The walk goes on the chain
  // itself, or on its copy once a walk has gone far on it
  // (format1_hot_chains.h). Returns true when the walk goes on from c in a
  // wider level's chain. Kept out of line, so that find, which runs at nearly
  // every position, inlines.
  [[gnu::noinline]] bool walk_level0(Walk& walk, std::uint32_t head, std::uint32_t d,
                                     std::uint32_t considered, std::uint32_t& c) {
    const std::uint32_t end = walk.p + d;
    std::uint32_t at = hot_.find(head);
    if (at == HotChains::kNotCopied) {
      const std::uint16_t* const next = chains_[0].next;
      // The entries passed so far, so that a copy need not follow their
      // links a second time.
      std::uint16_t passed[HotChains::kSteps];
      passed[0] = static_cast<std::uint16_t>(head);
      std::uint32_t q = considered == 0 ? head : next[head];
      for (std::uint32_t steps = considered;; ++steps) {
        if (q >= end) return false;
        if (steps < HotChains::kSteps) {
          passed[steps] = static_cast<std::uint16_t>(q);
        } else if (steps == HotChains::kSteps) {
          at = hot_.walked_far(next, passed, q);
          if (at != HotChains::kNotCopied) {
            at += steps;
            break;
          }
        }
        if (q >= d) {
          ++walked_;
          c = q - d;
          if (consider(walk, c)) return !walk.done;
        }
        q = next[q];
      }
    } else {
      at += considered;
    }
    // The entries of the copy from `at` on have not been considered yet.
    const std::uint16_t* const entries = hot_.pool();
    while (entries[at] < d) ++at;  // the end mark is above every d
    const std::uint8_t* const s = source_;
    const std::uint8_t* const t = s + walk.p;
    for (std::uint32_t i = at;;) {
      // Passes over the entries that disagree with p where a longer repeat
      // would have to agree (agrees_at) in one tight loop; the end mark
      // stops it. The bytes of entry q ending at offset best of its
      // candidate begin at q + from; the sum wraps to the right place, as
      // q >= d.
      const std::uint32_t best = walk.best;
      if (best >= 7) {
        const std::uint32_t from = best - 7 - d;
        const std::uint64_t want = load64(t + best - 7);
        while (entries[i] < end && load64(s + (entries[i] + from)) != want) ++i;
      } else {
        const std::uint32_t from = best - 3 - d;
        const std::uint32_t want = load32(t + best - 3);
        while (entries[i] < end && load32(s + (entries[i] + from)) != want) ++i;
      }
      const std::uint32_t q = entries[i];
      if (q >= end) {
        walked_ += i - at;
        return false;
      }
      ++i;
      c = q - d;
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
    while (!built_[k] && !afford_level(k, walk.p)) {
      if (--k == 0 || kWidth[k] <= walk.shared) return false;
    }
    walk.level = k;
    walk.shared = kWidth[k];
    return true;
  }

  // Builds level k, for a search at p, once the walks since the last build
  // have used up the budget; every walk stays exact either way. A level only
  // pays off through the searches after it, so the budget grows as the part
  // of the source still to be searched shrinks: by how much less is left than
  // was left at the last build, at most 4 times. Near the end of the source
  // the walks then seldom earn a level whose building would cost more than
  // the walks it spares.
  bool afford_level(std::uint32_t k, std::uint32_t p) {
    const std::uint64_t left = size_ - p;
    const std::uint64_t left_then = size_ - built_at_;
    if (walked_ * left < std::uint64_t{budget_} * std::min(left_then, 4 * left)) return false;
    build_level(k);
    walked_ = 0;
    built_at_ = p;
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
  HotChains hot_;
  bool built_[kLevels] = {};
  std::uint32_t walked_ = 0;    // chain entries visited since the last level was built
  std::uint32_t built_at_ = 0;  // the position searched when that level was built
  std::uint32_t budget_ = 0;
};

}  // namespace tilvex::format1_detail
