// Building blocks of the format 1 encoder's repeat finder: unaligned loads,
// the length of a common prefix, the search for runs, and bucket groups.
//
// A bucket group holds entries sorted by a bucket number, each bucket's
// entries next to each other and in the order they were given. Walking a
// bucket reads one array in order, which the processor prefetches, where a
// linked chain costs a dependent load at a scattered address per entry.
// Building one is a counting sort (count per bucket, running sums, then every
// entry put in place), which costs a few passes over the entries: worth it for
// the maximal runs, which are few, and which long walks visit.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tilvex::format1_detail {

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

// The first position of s (n bytes) from `from` on where a run of period 1
// or 2 begins that is at least period + 2 bytes long (s[a] = s[a + period]
// and s[a + 1] = s[a + 1 + period]), or n when there is none. Skips 7
// positions at a time while none begins.
inline std::uint32_t next_run(const std::uint8_t* s, std::uint32_t n, std::uint32_t from,
                              std::uint32_t period) {
  std::uint32_t a = from;
  if constexpr (kLittleEndian) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    for (; a + period + 8 <= n; a += 7) {
      const std::uint64_t x =
          load64(s + a) ^ load64(s + a + period);  // byte j: s[a+j] vs s[a+j+period]
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

// The top bits of a 64-bit hash, mixed first: a bucket number of `bits` bits.
inline std::uint32_t scramble_to(std::uint64_t h, std::uint32_t bits) {
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h >> (64 - bits));
}

// Entries grouped by bucket: bucket b holds entries[first[b]] up to
// entries[first[b + 1] - 1]. Fewer than 65,536 entries.
template <typename Entry>
struct Buckets {
  Entry* entries = nullptr;
  std::uint16_t* first = nullptr;  // one more than there are buckets

  // Grouping count entries: start(buckets), then place(key) for each entry
  // in order, which returns its rank (its place within its bucket), then
  // finish, which puts entry i, value(i), in place.
  void start(std::uint32_t buckets) { std::fill_n(first, buckets + 1, std::uint16_t{0}); }
  std::uint16_t place(std::uint16_t key) { return first[key]++; }
  template <typename Value>
  void finish(const std::uint16_t* key, const std::uint16_t* rank, std::uint32_t count,
              std::uint32_t buckets, Value value) {
    std::uint32_t start = 0;
    for (std::uint32_t b = 0; b < buckets; ++b) {
      const std::uint32_t size = first[b];
      first[b] = static_cast<std::uint16_t>(start);
      start += size;
    }
    first[buckets] = static_cast<std::uint16_t>(start);
    for (std::uint32_t i = 0; i < count; ++i) entries[first[key[i]] + rank[i]] = value(i);
  }
};

}  // namespace tilvex::format1_detail
