// Format 1 decoder.
//
// A stream is a sequence of byte-aligned commands ending with the marker 0xFF.
// Each command has a one-byte header (kind in bits 7-5, length - 1 in bits 4-0)
// or, when the top three bits are all set, a two-byte header (kind in bits 4-2,
// a 10-bit length - 1 in the rest), followed by its operands:
//
//   kind 0      direct copy      L bytes taken from the stream as they stand
//   kind 1      byte fill        v repeated L times
//   kind 2      word fill        a, b, a, b, ...
//   kind 3      increasing fill  v, v+1, v+2, ... modulo 256
//   kinds 4-7   back-reference   L bytes copied one at a time from an absolute
//                                16-bit offset (high byte first) in the output
//
// The stream is read from the bytes the caller hands over, from a start
// offset. Bytes at or past their end read as 0 while the read position still
// advances by the full amount, so every stream decodes and the caller learns
// how far past the end it reached.
//
// Output goes into a 65,536-byte work buffer. Direct copies, byte fills and
// back-references whose source range passes the limit are refused whole; word
// fills, increasing fills and back-references keep the bytes that fit. Once a
// byte has been dropped at the limit, decoding ends. A back-reference reads 0
// from positions not yet produced, as from a cleared buffer.
//
// Most commands are short. While a whole command, with room to spare, lies
// inside the input and fits the work buffer, it is decoded by the fast path
// (fast_command): no byte-by-byte bounds checks, and runs written 8 or 32
// bytes at a time, the last group reaching past the command's end into room
// that later commands write over. Near either end the careful path decodes.
#include <algorithm>
#include <cstring>

#include "codec/format1.h"
#include "codec/format1_bytes.h"
#include "common/resources.h"
#include "common/types.h"

namespace tilvex {
namespace {

using format1_detail::kLittleEndian;
using format1_detail::load64;
using format1_detail::store64;

constexpr std::uint8_t kEndMarker = 0xFF;

// Reads the stream; bytes at or past the end of the input read as 0.
class StreamReader {
 public:
  StreamReader(const std::uint8_t* data, std::uint32_t size, std::uint32_t start)
      : data_(data), size_(size), position_(start) {}

  std::uint8_t byte() {
    const std::uint64_t at = position_++;
    return at < size_ ? data_[at] : 0;
  }

  // Reads count bytes into out; the part past the end of the input becomes 0.
  void bytes(std::uint8_t* out, std::uint32_t count) {
    std::uint32_t delivered = 0;
    if (position_ < size_) {
      delivered = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, size_ - position_));
      std::memcpy(out, data_ + position_, delivered);
    }
    std::memset(out + delivered, 0, count - delivered);
    position_ += count;
  }

  std::uint64_t position() const { return position_; }

  // The stream bytes from the read position to the end of the input;
  // skip moves past what was read from them.
  const std::uint8_t* next() const { return data_ + position_; }
  std::uint32_t available() const {
    return position_ < size_ ? static_cast<std::uint32_t>(size_ - position_) : 0;
  }
  void skip(std::uint32_t bytes) { position_ += bytes; }

 private:
  const std::uint8_t* data_;
  std::uint32_t size_;
  std::uint64_t position_;  // offset of the next stream byte
};

// Copies count bytes from offset to the end of the output one at a time in
// increasing order, so that a source range running into the bytes being
// produced repeats them.
void copy_back_reference(std::uint8_t* work, std::uint32_t out, std::uint32_t offset,
                         std::uint32_t count) {
  if (offset >= out) {
    // Every source byte lies at or beyond the write position, where nothing has
    // been produced yet.
    std::memset(work + out, 0, count);
    return;
  }
  std::uint8_t* dst = work + out;
  const std::uint8_t* src = work + offset;
  // The distance grows with each chunk: each chunk copies bytes that are all
  // already in place, which is what the byte-at-a-time copy would read.
  while (count != 0) {
    const std::uint32_t chunk =
        std::min<std::uint32_t>(count, static_cast<std::uint32_t>(dst - src));
    std::memcpy(dst, src, chunk);
    dst += chunk;
    count -= chunk;
  }
}

// Room the fast path may write past a command's end, and read past it in
// the stream.
constexpr std::uint32_t kSlack = 32;
// Stream bytes the fast path needs before it looks at a command: a long
// header and two operand bytes.
constexpr std::uint32_t kLeast = 4;
// What fast_command returns for a command it leaves to the careful path.
constexpr std::uint32_t kCareful = 0xFFFFFFFF;

// Writes the 8-byte group v at out, then each next group from v by step,
// until length bytes are covered (up to 7 more are written).
inline void write_groups(std::uint8_t* out, std::uint32_t length, std::uint64_t v,
                         std::uint64_t (*step)(std::uint64_t)) {
  for (std::uint32_t i = 0; i < length; i += 8) {
    store64(out + i, v);
    v = step(v);
  }
}

// Adds the bytes of k (each below 0x80) to those of v, each modulo 256:
// no carry crosses into the next byte.
constexpr std::uint64_t add_bytes(std::uint64_t v, std::uint64_t k) {
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  return ((v & ~kHigh) + k) ^ (v & kHigh);
}

// Adds 8 to every byte of a group.
inline std::uint64_t add8(std::uint64_t v) { return add_bytes(v, 0x0808080808080808ull); }

inline std::uint64_t same(std::uint64_t v) { return v; }

// Decodes the command at s, which has `available` (at least kLeast) stream
// bytes, into work at out. Returns the stream bytes it took, 0 for the end
// marker, or kCareful, having done nothing, when the command or its slack
// does not fit the stream or the work buffer. Sets `refused` for a
// back-reference whose source passes the limit, after which decoding ends.
inline std::uint32_t fast_command(const std::uint8_t* s, std::uint32_t available,
                                  std::uint8_t* work, std::uint32_t& out, bool& refused) {
  const std::uint8_t h = s[0];
  if (h == kEndMarker) return 0;
  std::uint32_t kind, length, taken;
  if ((h >> 5) == 7) {
    kind = (h >> 2) & 7;
    length = ((h & 3u) << 8 | s[1]) + 1;
    taken = 2;
  } else {
    kind = h >> 5;
    length = (h & 0x1Fu) + 1;
    taken = 1;
  }
  if (out + length + kSlack > kOutputLimit || (kind == 0 && taken + length + kSlack > available)) {
    return kCareful;
  }
  const std::uint8_t* const operands = s + taken;
  std::uint8_t* const to = work + out;
  constexpr std::uint64_t kEach = 0x0101010101010101ull;
  switch (kind) {
    case 0:  // direct copy
      for (std::uint32_t i = 0; i < length; i += kSlack) std::memcpy(to + i, operands + i, kSlack);
      taken += length;
      break;
    case 1:  // byte fill
      write_groups(to, length, operands[0] * kEach, same);
      taken += 1;
      break;
    case 2:  // word fill
      write_groups(to, length,
                   (operands[0] | std::uint64_t{operands[1]} << 8) * 0x0001000100010001ull, same);
      taken += 2;
      break;
    case 3:  // increasing fill: v, v + 1, ... v + 7 in the first group
      write_groups(to, length, add_bytes(operands[0] * kEach, 0x0706050403020100ull), add8);
      taken += 1;
      break;
    default: {  // back-reference
      const std::uint32_t offset = std::uint32_t{operands[0]} << 8 | operands[1];
      taken += 2;
      if (offset + length > kOutputLimit) {
        refused = true;
        return taken;
      }
      if (out - offset >= 8 && offset < out) {
        // Each group reads only bytes already in place.
        const std::uint8_t* const from = work + offset;
        for (std::uint32_t i = 0; i < length; i += 8) store64(to + i, load64(from + i));
      } else {
        copy_back_reference(work, out, offset, length);
      }
      break;
    }
  }
  out += length;
  return taken;
}

// Runs the command loop; returns the output length.
std::uint32_t decode_commands(StreamReader& in, std::uint8_t* work) {
  std::uint32_t out = 0;
  for (;;) {
    if constexpr (kLittleEndian) {
      const std::uint32_t available = in.available();
      if (available >= kLeast) {
        bool refused = false;
        const std::uint32_t taken = fast_command(in.next(), available, work, out, refused);
        if (taken == 0) {
          in.skip(1);
          break;
        }
        if (taken != kCareful) {
          in.skip(taken);
          if (refused) break;
          continue;
        }
      }
    }
    const std::uint8_t h = in.byte();
    if (h == kEndMarker) break;
    std::uint32_t kind;
    std::uint32_t length;
    if ((h >> 5) == 7) {
      const std::uint8_t low = in.byte();
      kind = (h >> 2) & 7;
      length = ((h & 3u) << 8 | low) + 1;
    } else {
      kind = h >> 5;
      length = (h & 0x1Fu) + 1;
    }
    // Bytes that fit before the output limit; fewer than length means the
    // rest is dropped and decoding ends after this command.
    const std::uint32_t room = kOutputLimit - out;
    switch (kind) {
      case 0:  // direct copy
        if (length > room) return out;
        in.bytes(work + out, length);
        out += length;
        break;
      case 1: {  // byte fill
        const std::uint8_t v = in.byte();
        if (length > room) return out;
        std::memset(work + out, v, length);
        out += length;
        break;
      }
      case 2: {  // word fill
        const std::uint8_t a = in.byte();
        const std::uint8_t b = in.byte();
        const std::uint32_t n = std::min(length, room);
        for (std::uint32_t i = 0; i < n; ++i) work[out + i] = (i & 1) ? b : a;
        out += n;
        if (n < length) return out;
        break;
      }
      case 3: {  // increasing fill
        const std::uint8_t v = in.byte();
        const std::uint32_t n = std::min(length, room);
        for (std::uint32_t i = 0; i < n; ++i) work[out + i] = static_cast<std::uint8_t>(v + i);
        out += n;
        if (n < length) return out;
        break;
      }
      default: {  // back-reference, kinds 4 to 7
        const std::uint32_t high = in.byte();
        const std::uint32_t low = in.byte();
        const std::uint32_t offset = high << 8 | low;
        if (offset + length > kOutputLimit) return out;
        const std::uint32_t n = std::min(length, room);
        copy_back_reference(work, out, offset, n);
        out += n;
        if (n < length) return out;
        break;
      }
    }
  }
  return out;
}

}  // namespace

DecodeResult format1_decode(const std::uint8_t* input, std::uint32_t input_size,
                            std::uint32_t start, std::uint8_t* destination,
                            std::uint32_t capacity) {
  ByteBuffer work = allocate_bytes(kOutputLimit);
  if (!work) return {CodecStatus::out_of_memory, 0, start, 0};

  // No bytes at all read like an input of size 0.
  const std::uint32_t size = input != nullptr ? input_size : 0;
  StreamReader in(input, size, start);
  const std::uint32_t out = decode_commands(in, work.get());

  if (destination != nullptr) std::memcpy(destination, work.get(), std::min(out, capacity));
  return stream_read(CodecStatus::ok, out, in.position(), size);
}

}  // namespace tilvex
