// Straightforward models of the format 1 codec for the tests and fuzzers to
// check the real ones against: a decoder that produces one byte at a time into
// a cleared buffer, an encoder written step by step from the encoding rules
// (every earlier position with the same two leading bytes tried in increasing
// order, every count taken byte by byte, the stream assembled against the
// 65,536-byte output limit), and a stream writer that picks header forms and
// back-reference kinds freely. Slow and literal on purpose; nothing here is
// shared with src/.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace tilvex::testing {

inline constexpr std::uint32_t kLimit = 0x10000;

struct ReferenceDecoded {
  std::uint32_t result = 0;
  std::vector<std::uint8_t> output;  // the first result bytes of the work buffer
  std::uint64_t end_position = 0;
};

// Decodes the stream at offset of bytes, one byte at a time. Bytes past the
// end count as 0.
inline ReferenceDecoded reference_decode(const std::vector<std::uint8_t>& bytes,
                                         std::uint32_t offset) {
  std::uint64_t read_pos = offset;
  auto next = [&]() -> std::uint8_t {
    const std::uint64_t at = read_pos++;
    return at < bytes.size() ? bytes[at] : 0;
  };
  auto next_bytes = [&](std::uint32_t count) {
    std::vector<std::uint8_t> piece(count, 0);
    for (auto& v : piece) v = next();
    return piece;
  };
  std::vector<std::uint8_t> work(kLimit, 0);
  std::uint32_t out = 0;
  bool running = true;
  auto append = [&](std::uint8_t v) {
    if (out < kLimit) {
      work[out++] = v;
    } else {
      running = false;
    }
  };
  while (running) {
    const std::uint8_t h = next();
    if (h == 0xFF) break;
    std::uint32_t kind, length;
    if (h >> 5 == 7) {
      const std::uint8_t e = next();
      kind = (h >> 2) & 7;
      length = (h & 3) * 256u + e + 1;
    } else {
      kind = h >> 5;
      length = (h & 0x1F) + 1u;
    }
    if (kind == 0) {
      if (out + length > kLimit) {
        running = false;
      } else {
        for (std::uint8_t v : next_bytes(length)) work[out++] = v;
      }
    } else if (kind == 1) {
      const std::uint8_t v = next();
      if (out + length > kLimit) {
        running = false;
      } else {
        for (std::uint32_t i = 0; i < length; ++i) work[out++] = v;
      }
    } else if (kind == 2) {
      const std::uint8_t a = next();
      const std::uint8_t b = next();
      for (std::uint32_t i = 0; i < length; ++i) append(i % 2 == 0 ? a : b);
    } else if (kind == 3) {
      const std::uint8_t v = next();
      for (std::uint32_t i = 0; i < length; ++i) append(static_cast<std::uint8_t>(v + i));
    } else {
      const std::uint32_t high = next();
      const std::uint32_t offset_in_output = high * 256 + next();
      if (offset_in_output + length > kLimit) {
        running = false;
      } else {
        for (std::uint32_t i = 0; i < length; ++i) append(work[offset_in_output + i]);
      }
    }
  }
  ReferenceDecoded decoded;
  decoded.result = out;
  decoded.output.assign(work.begin(), work.begin() + out);
  decoded.end_position = read_pos;
  return decoded;
}

// Command kinds as they appear in a header.
namespace format1_model {

inline constexpr std::uint32_t kMaxCommand = 1024;
inline constexpr std::uint32_t kDirectCopy = 0;
inline constexpr std::uint32_t kByteFill = 1;
inline constexpr std::uint32_t kWordFill = 2;
inline constexpr std::uint32_t kIncreasingFill = 3;
inline constexpr std::uint32_t kBackReference = 4;

// The stream under construction and its failure flag.
struct ModelWriter {
  std::vector<std::uint8_t> bytes;
  bool failed = false;

  // One header or operand byte; dropped (and the flag set) when the stream is full.
  void put(std::uint8_t value) {
    if (bytes.size() == kLimit) {
      failed = true;
      return;
    }
    bytes.push_back(value);
  }

  // The data of a direct copy goes in whole or not at all.
  void put_block(const std::uint8_t* data, std::uint32_t count) {
    if (bytes.size() + count > kLimit) {
      failed = true;
      return;
    }
    bytes.insert(bytes.end(), data, data + count);
  }

  void header(std::uint32_t kind, std::uint32_t length) {
    if (length <= 32) {
      put(static_cast<std::uint8_t>(kind * 32 + (length - 1)));
    } else {
      put(static_cast<std::uint8_t>(0xE0 + kind * 4 + ((length - 1) >> 8)));
      put(static_cast<std::uint8_t>((length - 1) & 0xFF));
    }
  }
};

}  // namespace format1_model

// How often the encoding of an input met the close calls of the choice, so a
// test can show that its inputs really reach them.
struct EncodeObserved {
  std::uint64_t repeat_one_over_byte_fill = 0;        // B = F + 1: the fill is written
  std::uint64_t repeat_equal_to_word_fill = 0;        // B = W: the fill is written
  std::uint64_t repeat_one_over_increasing_fill = 0;  // B = I + 1: the fill is written
  std::uint64_t later_equal_repeat_passed_over = 0;  // an equally long later match kept the earlier
  std::uint64_t walk_stopped_at_reach = 0;           // a match covered the whole reach
  std::uint64_t overlapping_repeat_written = 0;      // the repeat's source runs past p
  std::uint64_t pending_run_full = 0;                // a flush at 1024 passed-over bytes
};

// The stream for source (at most 65,536 bytes), or an empty vector when the
// stream would not fit the output limit (the encoder's result 0).
inline std::vector<std::uint8_t> reference_encode(const std::vector<std::uint8_t>& source,
                                                  EncodeObserved* observed = nullptr) {
  using namespace format1_model;
  EncodeObserved ignored;
  EncodeObserved& seen = observed != nullptr ? *observed : ignored;
  const std::uint8_t* s = source.data();
  const std::uint32_t n = static_cast<std::uint32_t>(source.size());

  // Every position 0 .. n-2, listed under its two leading bytes, in increasing order.
  std::map<std::uint32_t, std::vector<std::uint32_t>> chains;
  for (std::uint32_t i = 0; i + 1 < n; ++i) {
    chains[s[i] + 256u * s[i + 1]].push_back(i);
  }

  ModelWriter out;
  std::uint32_t p = 0;  // next byte not yet covered or passed over
  std::uint32_t t = 0;  // first byte of the pending run

  // Writes S[t] .. S[x-1] as direct copies of at most 1024 bytes each.
  auto flush_up_to = [&](std::uint32_t x) {
    while (t < x) {
      const std::uint32_t piece = (x - t < kMaxCommand) ? x - t : kMaxCommand;
      out.header(kDirectCopy, piece);
      out.put_block(s + t, piece);
      t += piece;
    }
  };

  while (!out.failed) {
    // 1. Fewer than three bytes left: they join the pending run, then the end marker.
    if (p + 3 > n) {
      flush_up_to(n);
      out.put(0xFF);
      break;
    }

    // 2. The two leading bytes and the reach.
    const std::uint8_t c0 = s[p];
    const std::uint8_t c1 = s[p + 1];
    const std::uint32_t reach = (p + kMaxCommand <= n) ? kMaxCommand : n - p;

    // 3. Longest earlier repeat of at least 4 bytes; the earliest wins a tie.
    std::uint32_t best = 0;
    std::uint32_t best_offset = 0;
    if (reach >= 4) {
      for (std::uint32_t c : chains[c0 + 256u * c1]) {  // holds p itself, at least
        if (c >= p) break;
        std::uint32_t m = 0;
        while (m < reach && s[c + m] == s[p + m]) ++m;
        if (m < 4) continue;
        if (m == best) ++seen.later_equal_repeat_passed_over;
        if (m > best) {
          best = m;
          best_offset = c;
          if (m == reach) {
            ++seen.walk_stopped_at_reach;
            break;
          }
        }
      }
    }

    // 4. Byte fill.
    std::uint32_t byte_fill = 0;
    if (c0 == c1) {
      std::uint32_t r = 0;
      while (r < reach && s[p + r] == c0) ++r;
      if (r >= 3) byte_fill = r;
    }

    // 5. Word fill.
    std::uint32_t word_fill = 0;
    if (c0 != c1) {
      std::uint32_t r = 0;
      while (r < reach && s[p + r] == ((r % 2 == 0) ? c0 : c1)) ++r;
      if (r >= 4) word_fill = r;
    }

    // 6. Increasing fill.
    std::uint32_t increasing_fill = 0;
    if (c1 == static_cast<std::uint8_t>(c0 + 1)) {
      std::uint32_t r = 0;
      while (r < reach && s[p + r] == static_cast<std::uint8_t>(c0 + r)) ++r;
      if (r >= 3) increasing_fill = r;
    }

    // 7. Choice.
    std::uint32_t length = 0;
    if (best == 0 && byte_fill == 0 && word_fill == 0 && increasing_fill == 0) {
      p = p + 1;
      if (p - t == kMaxCommand) {
        ++seen.pending_run_full;
        flush_up_to(p);
      }
      continue;
    }
    if (byte_fill != 0 && best == byte_fill + 1) ++seen.repeat_one_over_byte_fill;
    if (word_fill != 0 && best == word_fill) ++seen.repeat_equal_to_word_fill;
    if (increasing_fill != 0 && best == increasing_fill + 1) ++seen.repeat_one_over_increasing_fill;
    if (best > byte_fill + 1 && best > word_fill && best > increasing_fill + 1) {
      flush_up_to(p);
      out.header(kBackReference, best);
      out.put(static_cast<std::uint8_t>(best_offset >> 8));
      out.put(static_cast<std::uint8_t>(best_offset & 0xFF));
      if (best_offset + best > p) ++seen.overlapping_repeat_written;
      length = best;
    } else if (byte_fill != 0) {
      flush_up_to(p);
      out.header(kByteFill, byte_fill);
      out.put(c0);
      length = byte_fill;
    } else if (word_fill != 0) {
      flush_up_to(p);
      out.header(kWordFill, word_fill);
      out.put(c0);
      out.put(c1);
      length = word_fill;
    } else {
      flush_up_to(p);
      out.header(kIncreasingFill, increasing_fill);
      out.put(c0);
      length = increasing_fill;
    }

    // 8. Past the command; the pending run starts afresh.
    p = p + length;
    t = p;
  }

  if (out.failed) return {};
  return out.bytes;
}

// Writes format 1 commands as told, including forms the encoder never uses
// (long headers for short commands, back-reference kinds 5 to 7), and keeps
// the output they stand for.
class StreamWriter {
 public:
  const std::vector<std::uint8_t>& stream() const { return stream_; }
  const std::vector<std::uint8_t>& expected() const { return expected_; }

  void direct_copy(const std::vector<std::uint8_t>& bytes, bool long_form = false) {
    header(0, static_cast<std::uint32_t>(bytes.size()), long_form);
    stream_.insert(stream_.end(), bytes.begin(), bytes.end());
    expected_.insert(expected_.end(), bytes.begin(), bytes.end());
  }
  void byte_fill(std::uint8_t v, std::uint32_t length, bool long_form = false) {
    header(1, length, long_form);
    stream_.push_back(v);
    expected_.insert(expected_.end(), length, v);
  }
  void word_fill(std::uint8_t a, std::uint8_t b, std::uint32_t length, bool long_form = false) {
    header(2, length, long_form);
    stream_.push_back(a);
    stream_.push_back(b);
    for (std::uint32_t i = 0; i < length; ++i) expected_.push_back(i % 2 == 0 ? a : b);
  }
  void increasing_fill(std::uint8_t v, std::uint32_t length, bool long_form = false) {
    header(3, length, long_form);
    stream_.push_back(v);
    for (std::uint32_t i = 0; i < length; ++i)
      expected_.push_back(static_cast<std::uint8_t>(v + i));
  }
  // offset must lie within the output written so far. Kind 7 has no short
  // form, and its long form ends at 768 bytes, as 0xFF is the end marker.
  void back_reference(std::uint32_t kind, std::uint32_t offset, std::uint32_t length,
                      bool long_form = false) {
    header(kind, length, long_form);
    stream_.push_back(static_cast<std::uint8_t>(offset >> 8));
    stream_.push_back(static_cast<std::uint8_t>(offset & 0xFF));
    for (std::uint32_t i = 0; i < length; ++i) expected_.push_back(expected_[offset + i]);
  }
  void end() { stream_.push_back(0xFF); }

 private:
  void header(std::uint32_t kind, std::uint32_t length, bool long_form) {
    if (!long_form && kind <= 6 && length <= 32) {
      stream_.push_back(static_cast<std::uint8_t>(kind * 32 + length - 1));
    } else {
      stream_.push_back(static_cast<std::uint8_t>(0xE0 + kind * 4 + ((length - 1) >> 8)));
      stream_.push_back(static_cast<std::uint8_t>((length - 1) & 0xFF));
    }
  }

  std::vector<std::uint8_t> stream_;
  std::vector<std::uint8_t> expected_;
};

}  // namespace tilvex::testing
