// Straightforward models of the format 1 codec for the tests to check the real
// ones against: a decoder that produces one byte at a time into a cleared
// buffer, an encoder that walks its two-byte position chains naively, and a
// stream writer that picks header forms and back-reference kinds freely.
// Slow and literal on purpose; nothing here is shared with src/.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/resources.h"
#include "rom/image.h"

namespace tilvex::testing {

inline constexpr std::uint32_t kLimit = 0x10000;

struct ReferenceDecoded {
  std::uint32_t result = 0;
  std::vector<std::uint8_t> output;  // the first result bytes of the work buffer
  std::uint32_t end_position = 0;
  std::uint32_t image_position = 0;
};

// Decodes the stream at offset of image through the image store's rom_seek
// and rom_read, one byte at a time and each direct copy in one request.
// Bytes a read does not deliver count as 0.
inline ReferenceDecoded reference_decode(const std::vector<std::uint8_t>& bytes,
                                         std::uint32_t offset) {
  RomImage image;
  image.size = static_cast<std::uint32_t>(bytes.size());
  image.data = allocate_bytes(bytes.size());
  std::copy(bytes.begin(), bytes.end(), image.data.get());
  rom_seek(&image, static_cast<std::int32_t>(offset), kRomSeekSet);
  std::uint32_t read_pos = offset;
  auto next = [&]() -> std::uint8_t {
    ++read_pos;
    std::uint8_t v = 0;
    rom_read(&v, 1, 1, &image);
    return v;
  };
  auto next_bytes = [&](std::uint32_t count) {
    read_pos += count;
    std::vector<std::uint8_t> piece(count, 0);
    rom_read(piece.data(), count, 1, &image);
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
  decoded.image_position = image.position;
  return decoded;
}

// The greedy encoder exactly as described for the format: two-byte position
// chains walked from their heads, every candidate compared byte by byte.
// Returns no stream when it would not fit in the output limit.
inline std::optional<std::vector<std::uint8_t>> reference_encode(
    const std::vector<std::uint8_t>& s) {
  const std::uint32_t n = static_cast<std::uint32_t>(s.size());
  std::vector<std::int32_t> head(65536, -1), tail(65536, -1);
  std::vector<std::int32_t> link(n > 1 ? n - 1 : 0, -1);
  for (std::uint32_t i = 0; i + 1 < n; ++i) {
    const std::uint32_t key = s[i] + 256u * s[i + 1];
    if (tail[key] == -1) {
      head[key] = static_cast<std::int32_t>(i);
    } else {
      link[tail[key]] = static_cast<std::int32_t>(i);
    }
    tail[key] = static_cast<std::int32_t>(i);
  }

  std::vector<std::uint8_t> out;
  auto header = [&](std::uint32_t kind, std::uint32_t length) {
    if (length <= 32) {
      out.push_back(static_cast<std::uint8_t>(kind * 32 + length - 1));
    } else {
      out.push_back(static_cast<std::uint8_t>(0xE0 + kind * 4 + ((length - 1) >> 8)));
      out.push_back(static_cast<std::uint8_t>((length - 1) & 0xFF));
    }
  };
  std::uint32_t p = 0, t = 0;
  auto flush = [&](std::uint32_t x) {
    while (t < x) {
      const std::uint32_t piece = std::min<std::uint32_t>(1024, x - t);
      header(0, piece);
      out.insert(out.end(), s.begin() + t, s.begin() + t + piece);
      t += piece;
    }
  };
  for (;;) {
    if (p + 3 > n) {
      flush(n);
      out.push_back(0xFF);
      break;
    }
    const std::uint8_t c0 = s[p], c1 = s[p + 1];
    const std::uint32_t reach = p + 1024 <= n ? 1024 : n - p;
    std::uint32_t best = 0, from = 0;
    if (reach >= 4) {
      for (std::int32_t node = head[c0 + 256u * c1]; node != -1; node = link[node]) {
        const std::uint32_t c = static_cast<std::uint32_t>(node);
        if (c >= p) break;
        std::uint32_t m = 0;
        while (m < reach && s[c + m] == s[p + m]) ++m;
        if (m < 4) continue;
        if (m > best) {
          best = m;
          from = c;
          if (m == reach) break;
        }
      }
    }
    std::uint32_t fill = 0, word = 0, increasing = 0;
    if (c0 == c1) {
      std::uint32_t r = 0;
      while (r < reach && s[p + r] == c0) ++r;
      if (r >= 3) fill = r;
    }
    if (c0 != c1) {
      std::uint32_t r = 0;
      while (r < reach && s[p + r] == (r % 2 == 0 ? c0 : c1)) ++r;
      if (r >= 4) word = r;
    }
    if (c1 == static_cast<std::uint8_t>(c0 + 1)) {
      std::uint32_t r = 0;
      while (r < reach && s[p + r] == static_cast<std::uint8_t>(c0 + r)) ++r;
      if (r >= 3) increasing = r;
    }
    if (best == 0 && fill == 0 && word == 0 && increasing == 0) {
      ++p;
      if (p - t == 1024) flush(p);
      continue;
    }
    flush(p);
    std::uint32_t length;
    if (best > fill + 1 && best > word && best > increasing + 1) {
      length = best;
      header(4, best);
      out.push_back(static_cast<std::uint8_t>(from >> 8));
      out.push_back(static_cast<std::uint8_t>(from & 0xFF));
    } else if (fill != 0) {
      length = fill;
      header(1, fill);
      out.push_back(c0);
    } else if (word != 0) {
      length = word;
      header(2, word);
      out.push_back(c0);
      out.push_back(c1);
    } else {
      length = increasing;
      header(3, increasing);
      out.push_back(c0);
    }
    p += length;
    t = p;
  }
  // A stream that grows past the limit fails at the first byte that does not
  // fit, so the limit amounts to a test of the finished length.
  if (out.size() > kLimit) return std::nullopt;
  return out;
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
