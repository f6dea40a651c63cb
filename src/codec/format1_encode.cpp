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
// Finding the repeat. A plain walk over every earlier position with the same
// leading bytes is quadratic on data such as 64 KiB drawn from two byte values.
// The search here gives exactly the same answer faster:
//
// * Only repeats that would win matter. The fills are measured first, and the
//   search looks only for repeats long enough to beat them; a repeat that
//   cannot win changes nothing in the stream.
// * Positions are indexed in levels. Level k groups positions by a hash of
//   their first 4 << k bytes (4, 8, ..., 1024) into chains in increasing
//   position order. Every position that shares at least that many bytes with p
//   is in p's chain, together with the odd hash collision, which the byte
//   comparison sorts out.
// * The walk starts at the head of p's chain on the highest level whose prefix
//   length a winning repeat must reach. Whenever a candidate improves the best
//   length B, the walk moves up to the highest level whose prefix length is at
//   most B and continues after that candidate in its chain there: the
//   candidate shares that prefix with p, so it is in p's chain, and every
//   later position that could be strictly longer is in it as well.
// * A candidate is compared in full only when the 8 bytes ending at offset B
//   agree with p's; a strictly longer repeat must agree there.
// * Comparisons run 8 bytes at a time.
//
// Levels above 0 are built on first use, so data with short repeats never pays
// for them. The walk visits candidates in increasing position order and
// replaces the best only when strictly longer, so ties go to the earliest
// position, and it stops as soon as a repeat reaches R.
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/format1.h"
#include "common/resources.h"
#include "common/types.h"

namespace tilvex {
namespace {

constexpr std::uint32_t kMaxCommand = 1024;  // longest command, and the reach
constexpr std::uint32_t kMinRepeat = 4;
constexpr std::uint32_t kMinByteFill = 3;
constexpr std::uint32_t kMinWordFill = 4;
constexpr std::uint32_t kMinIncreasingFill = 3;
constexpr std::uint8_t kEndMarker = 0xFF;

enum Kind : std::uint32_t { kDirectCopy = 0, kByteFill = 1, kWordFill = 2, kIncreasingFill = 3, kBackReference = 4 };

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

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
std::uint32_t common_length(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
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

// Number of leading bytes of s that follow the 8-byte pattern repeated, at
// most limit. Used for byte fills (8 equal bytes) and word fills (4 pairs).
std::uint32_t pattern_length(const std::uint8_t* s, const std::uint8_t pattern[8], std::uint32_t limit) {
  std::uint32_t j = 0;
  if constexpr (kLittleEndian) {
    const std::uint64_t p = load64(pattern);
    for (; j + 8 <= limit; j += 8) {
      const std::uint64_t x = load64(s + j) ^ p;
      if (x != 0) return j + first_difference(x);
    }
  }
  while (j < limit && s[j] == pattern[j & 7]) ++j;
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

  // Writes source[from, to) as direct copies of at most 1024 bytes each.
  void direct_copies(const std::uint8_t* source, std::uint32_t from, std::uint32_t to) {
    while (from < to && !failed_) {
      const std::uint32_t n = std::min(to - from, kMaxCommand);
      header(kDirectCopy, n);
      bytes(source + from, n);
      from += n;
    }
  }

  std::uint32_t length() const { return length_; }
  bool failed() const { return failed_; }
  void fail() { failed_ = true; }

 private:
  std::uint8_t* buffer_;
  std::uint32_t length_ = 0;
  bool failed_ = false;
};

struct Repeat {
  std::uint32_t length = 0;  // 0 when there is none worth writing
  std::uint32_t offset = 0;
};

// The levelled position index described at the top of the file.
class RepeatFinder {
 public:
  static constexpr std::uint32_t kLevels = 9;  // prefix lengths 4, 8, ..., 1024
  static constexpr std::uint16_t kNone = 0xFFFF;  // no position; positions stay below

  // Takes the memory for every level at once and builds level 0.
  bool init(const std::uint8_t* source, std::uint32_t size) {
    source_ = source;
    size_ = size;
    if (size_ < kMinRepeat + 1) return true;  // no position has an earlier repeat
    bits_ = 8;
    while ((1u << bits_) < size_) ++bits_;
    const std::size_t hashes = std::size_t{size_} * sizeof(std::uint64_t);
    const std::size_t heads = (std::size_t{1} << bits_) * sizeof(std::uint16_t);
    const std::size_t links = std::size_t{size_} * sizeof(std::uint16_t);
    memory_ = allocate_bytes(hashes + heads + 2 * kLevels * links);
    if (!memory_) return false;
    std::uint8_t* at = memory_.get();
    hash_ = reinterpret_cast<std::uint64_t*>(at);
    at += hashes;
    head_ = reinterpret_cast<std::uint16_t*>(at);
    at += heads;
    for (std::uint32_t k = 0; k < kLevels; ++k) {
      first_[k] = reinterpret_cast<std::uint16_t*>(at);
      at += links;
      next_[k] = reinterpret_cast<std::uint16_t*>(at);
      at += links;
    }
    const std::uint32_t count = size_ - kMinRepeat + 1;
    for (std::uint32_t i = 0; i < count; ++i) hash_[i] = load32(source_ + i);
    build_level(0);
    return true;
  }

  // The longest repeat of p of at least need bytes among the earlier
  // positions, limited to reach; the earliest such position on ties.
  Repeat find(std::uint32_t p, std::uint32_t reach, std::uint32_t need) {
    Repeat found;
    if (p == 0 || need > reach) return found;  // also covers sources too short to index
    const std::uint8_t* const s = source_;
    std::uint32_t level = level_for(need);
    ensure_level(level);
    std::uint32_t best = need - 1;  // a candidate must be strictly longer
    std::uint32_t c = first_[level][p];
    while (c < p) {  // kNone is never below p
      if (agrees_at(s + c, s + p, best)) {
        const std::uint32_t m = common_length(s + c, s + p, reach);
        if (m > best) {
          best = m;
          found.length = m;
          found.offset = c;
          if (m == reach) break;
          const std::uint32_t higher = level_for(m);
          if (higher > level) {
            ensure_level(higher);
            level = higher;
          }
        }
      }
      c = next_[level][c];
    }
    return found;
  }

 private:
  // The highest level whose prefix length is at most length (length >= 4).
  static std::uint32_t level_for(std::uint32_t length) {
    const std::uint32_t k = static_cast<std::uint32_t>(std::bit_width(length)) - 3;
    return std::min(k, kLevels - 1);
  }

  // Whether a and b agree at index best, and on the 7 bytes before it when
  // there are that many; a strictly longer repeat has to.
  static bool agrees_at(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t best) {
    if (best >= 7) return load64(a + best - 7) == load64(b + best - 7);
    return a[best] == b[best];
  }

  static std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    std::uint64_t x = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull);
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ull;
    x ^= x >> 32;
    return x;
  }

  void ensure_level(std::uint32_t level) {
    while (built_ <= level) {
      // Level k hashes 4 << k bytes: the hashes of the two halves, which the
      // array holds from level k - 1 and is overwritten in increasing order.
      const std::uint32_t half = kMinRepeat << (built_ - 1);
      const std::uint32_t count = size_ >= 2 * half ? size_ - 2 * half + 1 : 0;
      for (std::uint32_t i = 0; i < count; ++i) hash_[i] = mix(hash_[i], hash_[i + half]);
      build_level(built_);
    }
  }

  // Chains the positions that have a level-k hash, head first, in increasing
  // order; first_ gives each position the head of its chain.
  void build_level(std::uint32_t k) {
    const std::uint32_t width = kMinRepeat << k;
    const std::uint32_t count = size_ >= width ? size_ - width + 1 : 0;
    std::fill_n(head_, std::size_t{1} << bits_, kNone);
    std::uint16_t* const next = next_[k];
    std::uint16_t* const first = first_[k];
    const std::uint32_t shift = 64 - bits_;
    for (std::uint32_t i = count; i-- > 0;) {
      const std::uint32_t bucket = static_cast<std::uint32_t>((hash_[i] * 0x9E3779B97F4A7C15ull) >> shift);
      next[i] = head_[bucket];
      head_[bucket] = static_cast<std::uint16_t>(i);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      first[i] = head_[static_cast<std::uint32_t>((hash_[i] * 0x9E3779B97F4A7C15ull) >> shift)];
    }
    built_ = k + 1;
  }

  const std::uint8_t* source_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t bits_ = 0;
  std::uint32_t built_ = 0;
  ByteBuffer memory_;
  std::uint64_t* hash_ = nullptr;
  std::uint16_t* head_ = nullptr;
  std::uint16_t* first_[kLevels] = {};
  std::uint16_t* next_[kLevels] = {};
};

// The fill that can start at p: at most one of the three kinds applies.
struct Fill {
  Kind kind = kByteFill;
  std::uint32_t length = 0;  // 0 when there is none
  std::uint32_t margin = 0;  // by how much a repeat must be longer to win
};

Fill measure_fill(const std::uint8_t* s, std::uint32_t reach) {
  Fill fill;
  const std::uint8_t c0 = s[0];
  const std::uint8_t c1 = s[1];
  if (c0 == c1) {
    std::uint8_t pattern[8];
    std::memset(pattern, c0, sizeof pattern);
    const std::uint32_t r = pattern_length(s, pattern, reach);
    if (r >= kMinByteFill) fill = {kByteFill, r, 2};
  } else {
    const std::uint8_t pattern[8] = {c0, c1, c0, c1, c0, c1, c0, c1};
    const std::uint32_t r = pattern_length(s, pattern, reach);
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
void encode_stream(const std::uint8_t* s, std::uint32_t n, RepeatFinder& finder, StreamWriter& out) {
  std::uint32_t p = 0;  // next byte not yet covered
  std::uint32_t t = 0;  // start of the pending run
  while (!out.failed()) {
    if (n - p < 3) {
      out.direct_copies(s, t, n);
      out.byte(kEndMarker);
      return;
    }
    const std::uint32_t reach = std::min(kMaxCommand, n - p);
    const Fill fill = measure_fill(s + p, reach);
    Repeat repeat;
    if (reach >= kMinRepeat) {
      const std::uint32_t need = fill.length == 0 ? kMinRepeat : std::max(kMinRepeat, fill.length + fill.margin);
      repeat = finder.find(p, reach, need);
    }
    if (repeat.length == 0 && fill.length == 0) {
      ++p;
      if (p - t == kMaxCommand) {
        out.direct_copies(s, t, p);
        t = p;
      }
      continue;
    }
    out.direct_copies(s, t, p);
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

std::uint32_t format1_encode(const std::uint8_t* source, std::uint8_t* destination,
                             std::uint32_t size, std::uint32_t max_size) {
  if (source == nullptr) return 0;
  // Back-reference offsets are 16 bits wide and no stream decodes to more than
  // the output limit, so a larger source has no faithful stream.
  if (size > kOutputLimit) return 0;
  ByteBuffer work = allocate_bytes(kOutputLimit);
  if (!work) return 0;
  RepeatFinder finder;
  if (!finder.init(source, size)) return 0;

  StreamWriter out(work.get());
  encode_stream(source, size, finder, out);
  if (out.failed()) return 0;
  if (destination != nullptr) std::memcpy(destination, work.get(), std::min(out.length(), max_size));
  return out.length();
}

}  // namespace tilvex
