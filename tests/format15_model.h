// A slow, literal format 15 encoder that the tests hold the optimised encoder
// against. It does every step the plain way, in the order the format fixes:
// tiles into the picture, the colour table chosen by runs (attempt 1) and by a
// simulated encoding (attempt 2), every row tried fill-only and in reference
// mode from the same carried bit-writer state, the shorter trial kept (the
// reference-mode trial on equal bits), one final byte, and attempt 1 kept only
// when strictly shorter. Nothing here is shared with the library.
//
// It can also count how often each tie rule and each kind of command came up,
// so a sweep can show that it reached the cases it is meant to check.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tilvex::testing {

// How often the model met each rule while encoding; summed over calls.
struct Format15ModelStats {
  std::uint64_t rows_fill_won = 0;            // fill-only trial strictly shorter
  std::uint64_t rows_reference_won = 0;       // reference-mode trial strictly shorter
  std::uint64_t rows_tied = 0;                // both trials the same number of bits
  std::uint64_t attempt1_won = 0;             // attempt 1 strictly shorter
  std::uint64_t attempt2_won = 0;             // attempt 2 strictly shorter
  std::uint64_t attempts_tied_differing = 0;  // equal lengths, different bytes
  std::uint64_t attempts_identical = 0;       // equal bytes
  std::uint64_t pick_ties = 0;                // a table entry chosen among equal best counts
  std::uint64_t pick_fallbacks = 0;           // an entry chosen from the second counts
  std::uint64_t pick_empty = 0;               // an entry chosen with both counts all 0
  std::uint64_t fills_index7 = 0;             // fills of a colour missing from the table
  std::uint64_t fills_repeated = 0;           // fills of a colour the table holds twice or more
  std::uint64_t keeps = 0;
  std::uint64_t keeps_backed_off = 0;  // keep runs that gave back their last run
  std::uint64_t extends = 0;
  std::uint64_t extends_to_edge = 0;  // extend run reaching column 0
  std::uint64_t cuts = 0;
  std::uint64_t cuts_to_edge = 0;  // cut run whose reference run reaches column 0
};

namespace format15_model {

constexpr int kWidth = 128;
constexpr std::uint32_t kLimit = 0x10000;

struct Encoder {
  std::vector<std::uint8_t> picture;
  int height = 0;
  std::array<std::uint8_t, 7> table{};

  std::vector<std::uint8_t> output;
  bool ok = true;

  // Bit writer of the row being tried.
  std::uint8_t accumulator = 0;
  int bit_count = 0;
  std::vector<std::uint8_t> scratch;

  std::array<std::uint8_t, kWidth> reference{};  // F, the working reference row

  // Simulation: count fills per colour instead of writing bits.
  std::array<std::uint32_t, 16>* fill_counts = nullptr;

  Format15ModelStats* stats = nullptr;

  const std::uint8_t* row(int y) const { return &picture[static_cast<std::size_t>(y) * kWidth]; }

  std::array<std::uint8_t, kWidth> row_above(int y) const {
    std::array<std::uint8_t, kWidth> above{};
    if (y > 0)
      for (int x = 0; x < kWidth; ++x) above[x] = row(y - 1)[x];
    return above;
  }

  void note(std::uint64_t Format15ModelStats::*counter) {
    if (stats != nullptr && fill_counts == nullptr) ++(stats->*counter);
  }

  // --- bit writer ---

  void put_bit(unsigned b) {
    if (fill_counts != nullptr) return;
    if (bit_count == 8) {
      scratch.push_back(accumulator);
      accumulator = 0;
      bit_count = 0;
    }
    accumulator = static_cast<std::uint8_t>(accumulator >> 1);
    if (b == 1) accumulator = static_cast<std::uint8_t>(accumulator | 0x80);
    bit_count = bit_count + 1;
  }

  void put_field(unsigned value, int n) {
    for (int bit = n - 1; bit >= 0; --bit) put_bit((value >> bit) & 1);
  }

  void put_count(unsigned n) {
    while (n != 0) {
      if (n == 1) {
        put_bit(0);
      } else {
        put_bit(1);
        put_bit(n & 1);
      }
      n = n >> 1;
    }
  }

  // --- one row ---

  int fill_step(const std::uint8_t* r, int c, int m) {
    const std::uint8_t v = r[c];
    int s = c - 1;
    while (s >= 0 && r[s] == v) s = s - 1;
    const int n = c - s;
    if (fill_counts != nullptr) {
      (*fill_counts)[v] = (*fill_counts)[v] + 1;
      return s;
    }
    int index = 7;
    for (int j = 0; j <= 6; ++j) {
      if (table[j] == v) {
        index = j;
        break;
      }
    }
    int copies = 0;
    for (int j = 0; j <= 6; ++j) copies += table[j] == v ? 1 : 0;
    if (index == 7) note(&Format15ModelStats::fills_index7);
    if (copies > 1) note(&Format15ModelStats::fills_repeated);
    put_count(static_cast<unsigned>(n));
    if (m == 1) put_field(1, 2);
    put_field(static_cast<unsigned>(index), 3);
    if (index == 7) put_field(v, 4);
    return s;
  }

  int reference_step(const std::uint8_t* r, int c) {
    auto& f = reference;
    const std::uint8_t v = r[c];
    int k = c - 1;
    while (k >= 0 && f[k] == r[k] && r[k] == v) k = k - 1;

    int n = 0;
    if (k < 0) {
      n = 1;
    } else if (f[k] == r[k]) {
      n = 2;
      std::uint8_t w = r[k];
      int start = k;
      k = k - 1;
      while (k >= 0) {
        if (f[k] != r[k]) {
          if (f[k] == w || r[k] == w) {
            n = n - 1;
            k = start;
            note(&Format15ModelStats::keeps_backed_off);
          }
          break;
        }
        if (r[k] != w) {
          n = n + 1;
          w = r[k];
          start = k;
        }
        k = k - 1;
      }
    } else {
      n = (f[k] == v || r[k] == v) ? 0 : 1;
    }

    if (n >= 1) {
      note(&Format15ModelStats::keeps);
      put_count(static_cast<unsigned>(n));
      put_field(0, 2);
      return k;
    }
    if (r[k] == v) {  // extend run
      const std::uint8_t d = f[k];
      int e = k - 1;
      while (e >= 0 && r[e] == v) e = e - 1;
      if (e >= 0) f[e] = d;
      note(&Format15ModelStats::extends);
      if (e < 0) note(&Format15ModelStats::extends_to_edge);
      put_count(static_cast<unsigned>(k - e));
      put_field(2, 2);
      return e;
    }
    // cut run: f[k] == v
    int e = k - 1;
    while (e >= 0 && f[e] == v) e = e - 1;
    const std::uint8_t d = e >= 0 ? f[e] : 0;
    f[k] = d;
    note(&Format15ModelStats::cuts);
    if (e < 0) note(&Format15ModelStats::cuts_to_edge);
    put_count(static_cast<unsigned>(k - e));
    put_field(3, 2);
    return k;
  }

  void encode_row(int y, int m) {
    const std::uint8_t* r = row(y);
    put_bit(static_cast<unsigned>(m));
    int c = 127;
    while (c >= 0) {
      const std::uint8_t v = r[c];
      if (m == 1 && reference[c] == v)
        c = reference_step(r, c);
      else
        c = fill_step(r, c, m);
    }
  }

  // --- colour tables ---

  std::array<std::uint8_t, 7> pick(std::array<std::uint32_t, 16> x,
                                   std::array<std::uint32_t, 16> y) {
    std::array<std::uint8_t, 7> entries{};
    for (int i = 0; i <= 6; ++i) {
      std::uint32_t best = 0;
      int choice = 0;
      for (int j = 0; j <= 15; ++j) {
        if (x[j] > best) {
          best = x[j];
          choice = j;
        }
      }
      const bool from_first = best != 0;
      if (best == 0) {
        for (int j = 0; j <= 15; ++j) {
          if (y[j] > best) {
            best = y[j];
            choice = j;
          }
        }
      }
      if (best == 0) {
        note(&Format15ModelStats::pick_empty);
      } else {
        const auto& counts = from_first ? x : y;
        int equal = 0;
        for (int j = 0; j <= 15; ++j) equal += counts[j] == best ? 1 : 0;
        if (equal > 1) note(&Format15ModelStats::pick_ties);
        if (!from_first) note(&Format15ModelStats::pick_fallbacks);
      }
      entries[i] = static_cast<std::uint8_t>(choice);
      x[choice] = 0;
      y[choice] = 0;
    }
    return entries;
  }

  static int left_neighbour(const std::uint8_t* r, int c) {
    int s = c - 1;
    while (s >= 0 && r[s] == r[c]) s = s - 1;
    return s;
  }

  std::array<std::uint8_t, 7> table_by_runs() {
    std::array<std::uint32_t, 16> a{}, b{};
    for (int y = 0; y < height; ++y) {
      const auto u = row_above(y);
      const std::uint8_t* r = row(y);
      int c = 127;
      while (c >= 0) {
        const std::uint8_t v = r[c];
        b[v] = b[v] + 1;
        if (u[c] != v && c >= 1 && r[c - 1] == v) a[v] = a[v] + 1;
        c = left_neighbour(r, c);
      }
    }
    return pick(a, b);
  }

  std::array<std::uint8_t, 7> table_by_simulation() {
    std::array<std::uint32_t, 16> p{}, q{};
    for (int y = 0; y < height; ++y) {
      const auto u = row_above(y);
      const std::uint8_t* r = row(y);
      int c = 127;
      while (c >= 0) {
        const std::uint8_t v = r[c];
        q[v] = q[v] + 1;
        if (u[c] == v)
          c = left_neighbour(r, c);
        else
          c = c - 1;
      }
    }
    fill_counts = &p;
    for (int y = 0; y < height; ++y) {
      reference = row_above(y);
      encode_row(y, 1);
    }
    fill_counts = nullptr;
    return pick(p, q);
  }

  // --- one attempt ---

  void write_byte(std::uint8_t byte) {
    if (output.size() == kLimit) {
      ok = false;
      return;
    }
    output.push_back(byte);
  }

  void append(const std::vector<std::uint8_t>& bytes) {
    if (output.size() + bytes.size() > kLimit) {
      ok = false;
      return;
    }
    output.insert(output.end(), bytes.begin(), bytes.end());
  }

  bool encode_picture() {
    output.clear();
    write_byte(static_cast<std::uint8_t>((table[1] << 4) | table[0]));
    write_byte(static_cast<std::uint8_t>((table[3] << 4) | table[2]));
    write_byte(static_cast<std::uint8_t>((table[5] << 4) | table[4]));
    std::uint8_t carried_accumulator = static_cast<std::uint8_t>(table[6] << 4);
    int carried_bits = 4;
    ok = true;

    for (int y = 0; y < height; ++y) {
      reference = row_above(y);
      accumulator = carried_accumulator;
      bit_count = carried_bits;
      scratch.clear();
      encode_row(y, 0);
      const std::vector<std::uint8_t> fill_bytes = scratch;
      const std::uint8_t fill_accumulator = accumulator;
      const int fill_bits = bit_count;

      reference = row_above(y);
      accumulator = carried_accumulator;
      bit_count = carried_bits;
      scratch.clear();
      encode_row(y, 1);

      const std::uint64_t fill_total =
          8 * fill_bytes.size() + static_cast<std::uint64_t>(fill_bits);
      const std::uint64_t reference_total =
          8 * scratch.size() + static_cast<std::uint64_t>(bit_count);
      if (fill_total < reference_total) {
        note(&Format15ModelStats::rows_fill_won);
        append(fill_bytes);
        carried_accumulator = fill_accumulator;
        carried_bits = fill_bits;
      } else {
        note(fill_total == reference_total ? &Format15ModelStats::rows_tied
                                           : &Format15ModelStats::rows_reference_won);
        append(scratch);
        carried_accumulator = accumulator;
        carried_bits = bit_count;
      }
      if (!ok) break;
    }
    if (ok) write_byte(static_cast<std::uint8_t>(carried_accumulator >> (8 - carried_bits)));
    return ok;
  }
};

}  // namespace format15_model

// The stream for `tile_rows` bands of tiles (512 bytes each) at `source`, or an
// empty vector where the encoder returns 0 (more than 32 tile rows).
inline std::vector<std::uint8_t> format15_model_encode(const std::uint8_t* source,
                                                       std::uint32_t tile_rows,
                                                       Format15ModelStats* stats = nullptr) {
  using format15_model::kWidth;
  const std::uint64_t height = 8ull * tile_rows;
  if (kWidth * height > 0x8000) return {};

  format15_model::Encoder encoder;
  encoder.stats = stats;
  encoder.height = static_cast<int>(height);
  encoder.picture.assign(kWidth * height, 0);
  const std::uint64_t tiles = kWidth * height / 64;
  for (std::uint64_t t = 0; t < tiles; ++t) {
    for (int r = 0; r < 8; ++r) {
      const std::uint8_t b0 = source[32 * t + 2 * r];
      const std::uint8_t b1 = source[32 * t + 2 * r + 1];
      const std::uint8_t b2 = source[32 * t + 16 + 2 * r];
      const std::uint8_t b3 = source[32 * t + 17 + 2 * r];
      for (int x = 0; x < 8; ++x) {
        const int bit = 7 - x;
        const std::uint64_t at = (8 * (t >> 4) + r) * kWidth + 8 * (t & 15) + x;
        encoder.picture[at] =
            static_cast<std::uint8_t>(((b0 >> bit) & 1) + 2 * ((b1 >> bit) & 1) +
                                      4 * ((b2 >> bit) & 1) + 8 * ((b3 >> bit) & 1));
      }
    }
  }

  encoder.table = encoder.table_by_runs();
  if (!encoder.encode_picture()) return {};
  const std::vector<std::uint8_t> first = encoder.output;

  encoder.table = encoder.table_by_simulation();
  if (!encoder.encode_picture()) return {};
  const std::vector<std::uint8_t>& second = encoder.output;

  if (stats != nullptr) {
    if (first.size() < second.size())
      ++stats->attempt1_won;
    else if (first.size() > second.size())
      ++stats->attempt2_won;
    else if (first != second)
      ++stats->attempts_tied_differing;
    else
      ++stats->attempts_identical;
  }
  if (first.size() < second.size()) return first;
  return second;
}

// A literal format 15 row decoder: the row as the decoder holds it and the
// cursor, changed one command at a time. Each command returns false where the
// stream is malformed.
struct Format15ModelRow {
  std::uint8_t p[128] = {};
  int c = 127;

  int left_neighbour(int x) const {
    int s = x - 1;
    while (s >= 0 && p[s] == p[x]) --s;
    return s;
  }
  bool fill(int n, std::uint8_t colour) {
    if (n > c + 1) return false;
    for (int i = 0; i < n; ++i) p[c - i] = colour;
    c -= n;
    return true;
  }
  bool keep(int n) {
    for (int i = 0; i < n; ++i) {
      if (c < 0) return false;
      c = left_neighbour(c);
    }
    return true;
  }
  bool extend(int n) {
    const std::uint8_t v = p[c];
    const int s = left_neighbour(c);
    if (s < 0 || n > s + 1) return false;
    const std::uint8_t d = p[s];
    for (int x = s - n + 1; x <= s; ++x) p[x] = v;
    c = s - n;
    if (c >= 0) p[c] = d;
    return true;
  }
  bool cut(int n) {
    const int s = left_neighbour(c);
    const std::uint8_t d = s >= 0 ? p[s] : 0;
    c = s + n;
    if (c > 127) return false;
    p[c] = d;
    return true;
  }
};

struct Format15ModelDecoded {
  bool ok = false;
  std::vector<std::uint8_t> picture;  // 128 pixels per row, when ok
  std::uint64_t end = 0;              // bytes fetched, the header included
};

// Decodes a stream that starts at byte 0 of `in`, one bit at a time; bytes
// past the end read as 0.
inline Format15ModelDecoded format15_model_decode(const std::vector<std::uint8_t>& in,
                                                  std::uint32_t tile_rows) {
  auto byte = [&](std::uint64_t i) -> unsigned { return i < in.size() ? in[i] : 0u; };
  std::uint64_t fetched = 4;
  unsigned buffer = byte(3) >> 4, left = 4;
  auto bit = [&]() {
    if (left == 0) {
      buffer = byte(fetched++);
      left = 8;
    }
    const unsigned b = buffer & 1;
    buffer >>= 1;
    --left;
    return b;
  };
  auto field = [&](int length) {
    unsigned value = 0;
    while (length-- > 0) value = value * 2 + bit();
    return value;
  };
  auto count = [&]() -> unsigned {
    unsigned n = 0, weight = 1;
    while (bit() == 1) {
      if (bit() == 1) n += weight;
      weight <<= 1;
      if (weight > 128) return 0;
    }
    return n + weight;
  };
  std::uint8_t table[7];
  for (unsigned i = 0; i < 7; ++i) table[i] = (byte(i / 2) >> (4 * (i % 2))) & 15;

  Format15ModelDecoded decoded;
  std::vector<std::uint8_t> picture(128 * 8 * std::size_t{tile_rows}, 0);
  Format15ModelRow row;
  for (std::uint32_t y = 0; y < 8 * tile_rows; ++y) {
    row.c = 127;
    const bool reference = bit() == 1;
    while (row.c >= 0) {
      const auto n = static_cast<int>(count());
      bool ok = n != 0;
      const unsigned command = !ok ? 4 : reference ? field(2) : 1;
      if (command == 1) {
        const unsigned index = field(3);
        const unsigned colour = index == 7 ? field(4) : table[index];
        ok = row.fill(n, static_cast<std::uint8_t>(colour));
      } else if (command == 0) {
        ok = row.keep(n);
      } else if (command == 2) {
        ok = row.extend(n);
      } else if (command == 3) {
        ok = row.cut(n);
      }
      if (!ok) {
        decoded.end = fetched;
        return decoded;
      }
    }
    std::copy(row.p, row.p + 128, picture.begin() + 128 * y);
  }
  decoded.ok = true;
  decoded.picture = std::move(picture);
  decoded.end = fetched;
  return decoded;
}

}  // namespace tilvex::testing
