// Building blocks of the format 1 codec: unaligned loads and stores, the
// length of a common prefix, and the scrambling that turns a hash into a
// bucket number (the encoder's repeat finder).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tilvex::format1_detail {

inline constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, sizeof v); }

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

// The top bits of a 64-bit hash, mixed first: a bucket number of `bits` bits.
inline std::uint32_t scramble_to(std::uint64_t h, std::uint32_t bits) {
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h >> (64 - bits));
}

}  // namespace tilvex::format1_detail
