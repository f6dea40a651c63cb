// Format 1 encoder: greedy, one pass over the source.
//
// At each position p the encoder measures the longest earlier repeat (at least
// 4 bytes, every earlier position a candidate, the earliest position winning
// among equally long ones) and the byte fill, word fill and increasing fill
// that could start there, each limited to the reach R = min(1024, N - p). A
// repeat is written only when it beats a byte or increasing fill by at least 2
// bytes and a word fill by at least 1; otherwise the fill is written, and when
// there is nothing at all the byte joins the pending run, which goes out later
// as direct copies of at most 1024 bytes. The stream these rules produce is the
// contract, byte for byte.
//
// Finding the repeat is the work of the repeat finder
// (format1_repeat_finder.h); everything else here is one pass over the source.
#include <algorithm>
#include <cstring>

#include "codec/format1.h"
#include "codec/format1_repeat_finder.h"
#include "codec/format1_tuning.h"
#include "common/resources.h"
#include "common/types.h"

namespace tilvex {
namespace {

using namespace format1_detail;

constexpr std::uint32_t kMaxCommand = 1024;  // longest command, and the reach
constexpr std::uint32_t kMinByteFill = 3;
constexpr std::uint32_t kMinWordFill = 4;
constexpr std::uint32_t kMinIncreasingFill = 3;
constexpr std::uint8_t kEndMarker = 0xFF;

// Number of leading bytes of s that follow a pattern of period 1 or 2 (the
// bytes first and second alternating), at most limit. Used for byte fills and
// word fills.
std::uint32_t pattern_length(const std::uint8_t* s, std::uint8_t first, std::uint8_t second,
                             std::uint32_t limit) {
  std::uint32_t j = 0;
  if constexpr (kLittleEndian) {
    const std::uint64_t p =
        (std::uint64_t{first} | std::uint64_t{second} << 8) * 0x0001000100010001ull;
    for (; j + 8 <= limit; j += 8) {
      const std::uint64_t x = load64(s + j) ^ p;
      if (x != 0) return j + first_difference(x);
    }
  }
  while (j < limit && s[j] == ((j & 1) ? second : first)) ++j;
  return j;
}

std::uint32_t increasing_length(const std::uint8_t* s, std::uint32_t limit) {
  std::uint32_t j = 1;
  while (j < limit && s[j] == static_cast<std::uint8_t>(s[0] + j)) ++j;
  return j;
}

// The stream under construction, in a work buffer of the output limit.
class StreamWriter {
 public:
  explicit StreamWriter(std::uint8_t* buffer) : buffer_(buffer) {}

  void byte(std::uint8_t v) {
    if (length_ >= kOutputLimit) {
      failed_ = true;
      return;
    }
    buffer_[length_++] = v;
  }

  void header(Kind kind, std::uint32_t length) {
    const std::uint32_t n = length - 1;
    if (length <= 32) {
      byte(static_cast<std::uint8_t>(kind * 32 + n));
    } else {
      byte(static_cast<std::uint8_t>(0xE0 + kind * 4 + (n >> 8)));
      byte(static_cast<std::uint8_t>(n & 0xFF));
    }
  }

  void bytes(const std::uint8_t* source, std::uint32_t count) {
    if (count > kOutputLimit - std::min(length_, kOutputLimit)) {
      failed_ = true;
      return;
    }
    std::memcpy(buffer_ + length_, source, count);
    length_ += count;
  }

  // Writes source[from, to) as direct copies of at most 1024 bytes each;
  // source holds size bytes.
  void direct_copies(const std::uint8_t* source, std::uint32_t from, std::uint32_t to,
                     std::uint32_t size) {
    // Most pending runs are short: one header and a fixed 32-byte copy, which
    // the compiler writes as a few moves instead of a call. The bytes it
    // copies past the run stay inside the buffer and are written over next.
    if (to - from <= 32 && from + 32 <= size && length_ + 33 <= kOutputLimit) {
      if (from == to) return;
      buffer_[length_] = static_cast<std::uint8_t>(kDirectCopy * 32 + (to - from - 1));
      std::memcpy(buffer_ + length_ + 1, source + from, 32);
      length_ += 1 + (to - from);
      return;
    }
    while (from < to && !failed_) {
      const std::uint32_t n = std::min(to - from, kMaxCommand);
      header(kDirectCopy, n);
      bytes(source + from, n);
      from += n;
    }
  }

  std::uint32_t length() const { return length_; }
  bool failed() const { return failed_; }

 private:
  std::uint8_t* buffer_;
  std::uint32_t length_ = 0;
  bool failed_ = false;
};

Fill measure_fill(const std::uint8_t* s, std::uint32_t reach) {
  Fill fill;
  const std::uint8_t c0 = s[0];
  const std::uint8_t c1 = s[1];
  // Every fill long enough to be written repeats c0 two bytes on or counts
  // up from it; most positions of most inputs do neither.
  if (s[2] != c0 &&
      (c1 != static_cast<std::uint8_t>(c0 + 1) || s[2] != static_cast<std::uint8_t>(c0 + 2))) {
    return fill;
  }
  if (c0 == c1) {
    const std::uint32_t r = pattern_length(s, c0, c0, reach);
    if (r >= kMinByteFill) fill = {kByteFill, r, 2};
  } else {
    const std::uint32_t r = pattern_length(s, c0, c1, reach);
    if (r >= kMinWordFill) {
      fill = {kWordFill, r, 1};
    } else if (c1 == static_cast<std::uint8_t>(c0 + 1)) {
      const std::uint32_t i = increasing_length(s, reach);
      if (i >= kMinIncreasingFill) fill = {kIncreasingFill, i, 2};
    }
  }
  return fill;
}

// The main loop; leaves the stream, end marker included, in out.
void encode_stream(const std::uint8_t* s, std::uint32_t n, RepeatFinder& finder,
                   StreamWriter& out) {
  std::uint32_t p = 0;  // next byte not yet covered
  std::uint32_t t = 0;  // start of the pending run
  while (!out.failed()) {
    if (n - p < 3) {
      out.direct_copies(s, t, n, n);
      out.byte(kEndMarker);
      return;
    }
    const std::uint32_t reach = std::min(kMaxCommand, n - p);
    const Fill fill = measure_fill(s + p, reach);
    Repeat repeat;
    if (reach >= kMinRepeat) {
      const std::uint32_t need =
          fill.length == 0 ? kMinRepeat : std::max(kMinRepeat, fill.length + fill.margin);
      repeat = finder.find(p, reach, need, fill);
    }
    if (repeat.length == 0 && fill.length == 0) {
      ++p;
      if (p - t == kMaxCommand) {
        out.direct_copies(s, t, p, n);
        t = p;
      }
      continue;
    }
    out.direct_copies(s, t, p, n);
    std::uint32_t length;
    if (repeat.length != 0) {
      length = repeat.length;
      out.header(kBackReference, length);
      out.byte(static_cast<std::uint8_t>(repeat.offset >> 8));
      out.byte(static_cast<std::uint8_t>(repeat.offset & 0xFF));
    } else {
      length = fill.length;
      out.header(fill.kind, length);
      out.byte(s[p]);
      if (fill.kind == kWordFill) out.byte(s[p + 1]);
    }
    p += length;
    t = p;
  }
}

}  // namespace

EncodeResult format1_encode(const std::uint8_t* source, std::uint32_t size,
                            std::uint8_t* destination, std::uint32_t capacity) {
  // Building a level costs about as much as walking two chain entries per
  // source byte.
  return format1_encode_tuned(source, size, destination, capacity, 2 * size);
}

EncodeResult format1_encode_tuned(const std::uint8_t* source, std::uint32_t size,
                                  std::uint8_t* destination, std::uint32_t capacity,
                                  std::uint32_t build_budget) {
  // Back-reference offsets are 16 bits wide and no stream decodes to more than
  // the output limit, so a larger source has no faithful stream.
  if (source == nullptr || size > kOutputLimit) return {CodecStatus::invalid_argument, 0};
  // One block per call for the stream and the index, so that the allocator
  // can hand the same memory back on the next call.
  const std::size_t index_bytes = RepeatFinder::memory_needed(size);
  ByteBuffer memory = allocate_bytes(index_bytes + kOutputLimit);
  if (!memory) return {CodecStatus::out_of_memory, 0};
  RepeatFinder finder;
  finder.init(source, size, memory.get(), build_budget);
  std::uint8_t* const work = memory.get() + index_bytes;

  StreamWriter out(work);
  encode_stream(source, size, finder, out);
  if (out.failed()) return {CodecStatus::output_too_large, 0};
  if (destination != nullptr) std::memcpy(destination, work, std::min(out.length(), capacity));
  return {CodecStatus::ok, out.length()};
}

}  // namespace tilvex
