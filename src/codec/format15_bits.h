// The format 15 stream as the decoder reads it: bytes in order, the bits of
// each byte from bit 0 upwards, so the stream is one little-endian bit string.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tilvex::format15_detail {

// The number of set bits, which both directions count in run-end masks.
// Where the target has no instruction for it, std::popcount is a library
// call, slower than these few operations.
inline unsigned count_bits(std::uint64_t m) {
#if defined(__POPCNT__)
  return static_cast<unsigned>(std::popcount(m));
#else
  m -= (m >> 1) & 0x5555555555555555ull;
  m = (m & 0x3333333333333333ull) + ((m >> 2) & 0x3333333333333333ull);
  m = (m + (m >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<unsigned>((m * 0x0101010101010101ull) >> 56);
#endif
}

// A 64-bit window whose bit 0 is the next stream bit. A refill loads eight
// bytes at once and keeps the whole bytes among them; the bits of a byte that
// only partly fits are loaded again, unchanged, by the next refill, so the
// refill needs no branch on how full the window is. Bytes at or past the end
// of the input read as 0.
//
// The decoder copies the reader into a local for each row and back at its
// end: the row is written through byte pointers, which may alias anything, so
// a reader that lived in memory would be reloaded after every pixel.
struct StreamBits {
  const std::uint8_t* data = nullptr;
  std::uint64_t size = 0;
  std::uint64_t start = 0;   // the stream start, where the header lies
  std::uint64_t next = 0;    // the next byte to load into the window
  std::uint64_t window = 0;  // the bits above `available` belong to byte `next`
  unsigned available = 0;    // bits loaded and not yet taken, at most 63

  StreamBits(const std::uint8_t* input, std::uint64_t input_size, std::uint64_t stream_start)
      : data(input), size(input_size), start(stream_start), next(stream_start + 4) {}

  // The stream header as one little-endian value; its top four bits are the
  // first four stream bits, which go into the window.
  std::uint32_t read_header() {
    const auto header = static_cast<std::uint32_t>(load(start));
    window = header >> 28;
    available = 4;
    return header;
  }

  // Makes at least 56 bits visible.
  void refill() {
    window |= load(next) << available;
    next += (63 - available) >> 3;
    available |= 56;
  }

  void skip(unsigned bits) {
    window >>= bits;
    available -= bits;
  }

  // An n-bit field (n at most 4), most significant bit first.
  unsigned field(unsigned bits) {
    const unsigned value = reversed(static_cast<unsigned>(window), bits);
    skip(bits);
    return value;
  }

  // The n low bits of raw (n at most 4) in reverse order: a field read most
  // significant bit first.
  static unsigned reversed(unsigned raw, unsigned bits) {
    static constexpr std::uint8_t kReversed[16] = {0, 8, 4, 12, 2, 10, 6, 14,
                                                   1, 9, 5, 13, 3, 11, 7, 15};
    return kReversed[raw & ((1u << bits) - 1)] >> (4 - bits);
  }

  // The read position: the stream start, the header, and every byte fetched
  // so far, a byte counting as fetched once its first bit is taken. The
  // look-ahead in the window does not count.
  std::uint64_t read_position() const {
    const std::uint64_t taken = 4 + 8 * (next - start - 4) - available;
    return start + 4 + (taken <= 4 ? 0 : (taken - 4 + 7) / 8);
  }

 private:
  // Eight bytes from `at`, the first in the low byte.
  std::uint64_t load(std::uint64_t at) const {
    if (std::endian::native == std::endian::little && at < size && size - at >= 8) {
      std::uint64_t word;
      std::memcpy(&word, data + at, 8);
      return word;
    }
    std::uint64_t word = 0;
    for (unsigned i = 0; i < 8; ++i) {
      if (at + i < size) word |= std::uint64_t{data[at + i]} << (8 * i);
    }
    return word;
  }
};

// A count code read whole from the bits of a window (bit 0 first): pairs
// "1 b" add the weight when b is 1, a single 0 adds the weight and ends the
// code. The pairs end at the first even bit that is 0, and the odd bits before
// it are the count's low bits. A code of more than seven pairs is malformed:
// count 0, and its length covers the eight pairs taken.
struct CountCode {
  unsigned count;
  unsigned length;
};

inline CountCode read_count(std::uint64_t bits) {
  // The window holds at least 56 bits, so a stop within eight pairs is seen.
  const auto stop = static_cast<unsigned>(std::countr_zero(~bits & 0x5555555555555555ull));
  const unsigned pairs = stop / 2;
  if (pairs > 7) return {0, 16};
  // Bits 1, 3, ... of the pairs, gathered into bits 0, 1, ...
  std::uint32_t low = static_cast<std::uint32_t>(bits >> 1) & 0x5555u & ((1u << stop) - 1);
  low = (low | low >> 1) & 0x3333u;
  low = (low | low >> 2) & 0x0F0Fu;
  low = (low | low >> 4) & 0x00FFu;
  return {low + (1u << pairs), stop + 1};
}

}  // namespace tilvex::format15_detail
