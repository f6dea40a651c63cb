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
//   chain; a hash collision only costs a comparison.
// * Run chains. When p starts a run that a byte fill or word fill covers, a
//   winning repeat must copy a run of the same byte (or pair) that is at least
//   as long and followed by the same bytes. So the search walks a chain of
//   maximal runs keyed by their last byte(s) and the bytes after them, rather
//   than the thousands of positions inside long runs.
// * A walk visits candidates in increasing position order and keeps the first
//   of the longest, so ties go to the earliest position; it stops when a
//   repeat reaches the reach. Whenever a candidate improves the best length
//   B, every later candidate that could be longer shares more than B bytes
//   with p, so the walk may move to the chain of a wider level (w <= B), on
//   which the candidate lies, and carry on from there.
// * A candidate is compared in full only when its 8 bytes ending at offset B
//   agree with p's; comparisons run 8 bytes at a time.
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

namespace tilvex::format1_detail {

inline constexpr std::uint32_t kMinRepeat = 4;

// Command kinds as they appear in a header.
enum Kind : std::uint32_t { kDirectCopy, kByteFill, kWordFill, kIncreasingFill, kBackReference };

inline constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Index of the first differing byte in two 8-byte groups loaded from memory.
inline std::uint32_t first_difference(std::uint64_t x) {
  return static_cast<std::uint32_t>(std::countr_zero(x)) / 8;
}

// Number of leading bytes in which a and b agree, at most limit.
inline std::uint32_t common_length(const std::uint8_t* a, const std::uint8_t* b,
                                   std::uint32_t limit) {
  std::uint32_t j = 0;
  if constexpr (kLittleEndian) {
    for (; j + 8 <= limit; j += 8) {
      const std::uint64_t x = load64(a + j) ^ load64(b + j);
      if (x != 0) return j + first_difference(x);
    }
  }
  while (j < limit && a[j] == b[j]) ++j;
  return j;
}

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
    return (kChains + (1u << kLevel0Spread)) * head_bytes(size) + (kChains + 2) * link_bytes(size);
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
    for (std::uint32_t k = 0; k < kChains; ++k) {
      chains_[k].head = reinterpret_cast<std::uint16_t*>(memory);
      memory += head_bytes(size) << (k == 0 ? kLevel0Spread : 0);
      chains_[k].next = reinterpret_cast<std::uint16_t*>(memory);
      memory += link_bytes(size);
    }
    for (std::uint32_t k = kRunChain; k < kChains; ++k) {
      chains_[k].start = reinterpret_cast<std::uint16_t*>(memory);
      memory += link_bytes(size);
    }
    tail_ = reinterpret_cast<std::uint16_t*>(memory);
  }

  // The longest repeat of p of at least need bytes among the earlier
  // positions, limited to reach; the earliest such position on ties. fill is
  // what starts at p, from which need was derived.
  Repeat find(std::uint32_t p, std::uint32_t reach, std::uint32_t need, const Fill& fill) {
    Walk walk{p, reach, need - 1};
    if (p == 0 || need > reach) return walk.found;  // also covers sources too short to index
    std::uint32_t c;
    if (fill.length != 0 && fill.kind != kIncreasingFill) {
      // p starts a run of one byte or of a pair of bytes that is exactly
      // fill.length long (need <= reach ensures it ends before the reach). A
      // repeat long enough to win copies it from a run of the same pattern
      // that is at least as long and is followed by the same bytes.
      const std::uint32_t k = fill.kind == kByteFill ? kRunChain : kPairChain;
      build_runs(k);
      const Chains& runs = chains_[k];
      const std::uint32_t length = fill.length;
      walk.shared = need;
      for (std::uint32_t e = runs.head[run_bucket(k, p + length)];; e = runs.next[e]) {
        if (e == kNone) return walk.found;
        ++walked_;
        if (e - runs.start[e] < length) continue;
        c = e - length;
        if (c >= p) return walk.found;
        // Unless the bucket is shared with another key, c starts the same
        // `length` bytes as p; the comparison can begin after them.
        if (source_[c] != source_[p] || source_[c + 1] != source_[p + 1]) continue;
        if (consider(walk, c, length)) {
          if (walk.done) return walk.found;
          break;  // carry on from c in a level's chain
        }
      }
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
      if (consider(walk, c) && walk.done) return walk.found;
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
  static constexpr std::uint32_t kRunChain = kLevels;       // runs of one byte
  static constexpr std::uint32_t kPairChain = kLevels + 1;  // runs of a pair of bytes
  static constexpr std::uint32_t kChains = kLevels + 2;
  // Level 0, which nearly every search starts on, gets 1 << kLevel0Spread
  // times as many buckets, so that its chains rarely hold other keys.
  static constexpr std::uint32_t kLevel0Spread = 2;

  struct Chains {
    std::uint16_t* head = nullptr;   // per bucket, the earliest entry
    std::uint16_t* next = nullptr;   // per entry, the next one in its bucket
    std::uint16_t* start = nullptr;  // run chains: per entry (a run's end), the run's start
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

  // Compares candidate c with p, whose first `known` bytes are known to agree.
  // Returns true when the walk has to move on differently: it is done, or it
  // has moved to a sparser level, on whose chain c lies.
  bool consider(Walk& walk, std::uint32_t c, std::uint32_t known = 0) {
    const std::uint8_t* const s = source_;
    if (!agrees_at(s + c, s + walk.p, walk.best)) return false;
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

  // Whether a and b agree at index best, and on the 7 bytes before it when
  // there are that many; a strictly longer repeat has to.
  static bool agrees_at(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t best) {
    if (best >= 7) return load64(a + best - 7) == load64(b + best - 7);
    return a[best] == b[best];
  }

  std::uint32_t scramble(std::uint64_t h) const {
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<std::uint32_t>(h >> (64 - bits_));
  }

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

  // The bucket of a run ending at e: its last byte and the two bytes after
  // it, or its last two bytes and the byte after it for a run of a pair.
  std::uint32_t run_bucket(std::uint32_t k, std::uint32_t e) const {
    const std::uint8_t* const s = source_ + e - (k == kRunChain ? 1 : 2);
    const std::uint64_t key =
        std::uint64_t{s[0]} | std::uint64_t{s[1]} << 8 | std::uint64_t{s[2]} << 16;
    return scramble((key + 1) * 0x9E3779B97F4A7C15ull);
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

  // The first position from `from` on where a run of period 1 or 2 begins
  // that is at least period + 2 bytes long (S[a] = S[a + period] and
  // S[a + 1] = S[a + 1 + period]), or the source size when there is none.
  // Skips 7 positions at a time while none begins.
  std::uint32_t next_run(std::uint32_t from, std::uint32_t period) const {
    const std::uint8_t* const s = source_;
    const std::uint32_t n = size_;
    std::uint32_t a = from;
    if constexpr (kLittleEndian) {
      constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
      for (; a + period + 8 <= n; a += 7) {
        const std::uint64_t x =
            load64(s + a) ^ load64(s + a + period);  // byte j: S[a+j] vs S[a+j+period]
        const std::uint64_t y = x | x >> 8;  // byte j (0 to 6) is 0 when bytes j and j + 1 of x are
        const std::uint64_t zero = ~(((y & kLow7) + kLow7) | y) & 0x0080808080808080ull;
        if (zero != 0) return a + first_difference(zero);
      }
    }
    for (; a + period + 1 < n; ++a) {
      if (s[a] == s[a + period] && s[a + 1] == s[a + 1 + period]) return a;
    }
    return n;
  }

  // Chains the maximal runs that a fill could cover (a byte repeated at least
  // 3 times, or two different bytes alternating for at least 4), by their
  // end, in increasing order. A run of a pair may share its first byte with
  // the previous one.
  void build_runs(std::uint32_t k) {
    if (built_[k]) return;
    const std::uint8_t* const s = source_;
    const std::uint32_t n = size_;
    const Chains& chains = chains_[k];
    std::fill_n(chains.head, std::size_t{1} << bits_, kNone);
    std::fill_n(tail_, std::size_t{1} << bits_, kNone);
    const bool pairs = k == kPairChain;
    const std::uint32_t period = pairs ? 2 : 1;
    const std::uint32_t after = pairs ? 1 : 2;  // bytes after the run in its key
    for (std::uint32_t a = next_run(0, period); a < n; a = next_run(a, period)) {
      const std::uint32_t e = a + period + common_length(s + a + period, s + a, n - a - period);
      if (e + after <= n && e < kNone && (!pairs || s[a] != s[a + 1])) {
        const std::uint32_t b = run_bucket(k, e);
        chains.next[e] = kNone;
        chains.start[e] = static_cast<std::uint16_t>(a);
        if (tail_[b] == kNone) {
          chains.head[b] = static_cast<std::uint16_t>(e);
        } else {
          chains.next[tail_[b]] = static_cast<std::uint16_t>(e);
        }
        tail_[b] = static_cast<std::uint16_t>(e);
      }
      a = e - period + 1;  // where the next run can begin at the earliest
    }
    built_[k] = true;
  }

  const std::uint8_t* source_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t bits_ = 0;
  Chains chains_[kChains] = {};
  std::uint16_t* tail_ = nullptr;  // while run chains are built: per bucket, the latest entry
  bool built_[kChains] = {};
  std::uint32_t walked_ = 0;  // chain entries visited since the last level was built
  std::uint32_t budget_ = 0;
};

}  // namespace tilvex::format1_detail
