// Format 15 decoder: rebuilds the 128-pixel-wide picture row by row from the
// bit stream, then converts it into 4bpp planar tiles.
//
// The stream is read from the bytes the caller hands over, from a start
// offset, through a 64-bit window that is refilled eight bytes at a time
// (format15_bits.h). Bytes at or past the end of the input read as 0. The
// number of bytes the decoder has consumed follows from the number of bits
// taken (a byte counts once its first bit is taken), so the look-ahead never
// shows in the end position.
//
// Where the time goes, and how it is kept short:
// - Fill-only rows (all of a dithered or noisy picture) are mostly one-pixel
//   fills of 4 or 8 bits. A table indexed by the next 12 bits gives the fills
//   that lie whole in them, up to 3 pixels, as four bytes to store over the
//   cursor and left of it: the colour codes of the pixels and, in the byte
//   that lands past them, the bits to take and the pixels made. A step is a
//   look-up, one store, a shift and a subtraction, with no branch on what the
//   fills were; four steps share a refill. The row is decoded into a line
//   with room on its left, so the bytes stored past the last pixel harm
//   nothing, and what lands left of the cursor is overwritten by the fills
//   that follow, since a fill-only row sets every pixel. The codes become
//   colours once per row, 16 at a time. Fills longer than the table holds,
//   malformed ones and those at the end of the row go one at a time, as one
//   16-byte store up to 16 pixels.
// - A reference-mode row starts as a copy of the row above (zeros for the
//   first row) and is rewritten in place. Its commands come whole from a
//   table indexed by the next 10 bits, and runs are found through a bit mask
//   of where they start (format15_runs.h), so a command costs the same however
//   long its runs. A run of up to 16 pixels is one 16-byte store blended
//   with what it covers, rather than a call; the picture has room before its
//   first row for it.
// - The reader and the run starts live in registers for the length of a row.
// - The picture becomes tiles in one pass at the end, 16 pixels at a time
//   (pixel/planar.h), straight into the destination when it takes them all.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/format15.h"
#include "codec/format15_bits.h"
#include "codec/format15_runs.h"
#include "common/resources.h"
#include "pixel/planar.h"

namespace tilvex {
namespace {

using format15_detail::CountCode;
using format15_detail::read_count;
using format15_detail::RunStarts;
using format15_detail::StreamBits;

constexpr int kWidth = 128;
constexpr std::uint32_t kWorkSize = 0x10000;  // picture followed by its tile data
// Bytes of room before the first row, which short fills may read and write
// back unchanged (fill_run). At most 42 tile rows of picture and tiles leave
// more than that free in the work buffer.
constexpr std::uint32_t kRoom = 16;
static_assert(kRoom + kWidth * 8 * kFormat15MaxDecodeRows * 3 / 2 <= kWorkSize);

enum Command : unsigned { KeepRuns = 0, Fill = 1, ExtendRun = 2, CutRun = 3 };

// Colour codes: 0 to 6 a colour table entry, 7 + v the explicit colour v.
constexpr unsigned kColourCodes = 7 + 16;

// One command read from the bits at `from` of the `width` low bits of `bits`;
// whole is false where it runs past them.
struct Parsed {
  bool whole;
  unsigned length, count, command, code;
};

constexpr Parsed parse_command(unsigned bits, unsigned from, unsigned width, bool reference_mode) {
  unsigned used = from;
  bool whole = true;
  auto next = [&]() -> unsigned {
    if (used == width) {
      whole = false;
      return 0;
    }
    return (bits >> used++) & 1u;
  };
  auto field = [&](unsigned length) {
    unsigned value = 0;
    while (length-- > 0) value = value << 1 | next();
    return value;
  };
  unsigned count = 0, weight = 1;
  while (whole && next() == 1) {
    if (next() == 1) count += weight;
    weight <<= 1;
  }
  count += weight;
  const unsigned command = reference_mode ? field(2) : unsigned{Fill};
  unsigned code = 0;
  if (command == Fill) {
    const unsigned index = field(3);
    code = index == 7 ? 7 + field(4) : index;
  }
  return {whole, used - from, count, command, code};
}

// Fill-only rows: the fills that lie whole in the next 12 bits, as long as
// they make at most 3 pixels. An entry is four bytes as they are stored, left
// to right, over the cursor and the three pixels left of it: the colour codes
// of the pixels from the cursor leftwards in bytes 3, 2 and 1 (code 0 past the
// last pixel), and in byte 0, which lands left of them, the bits the fills
// take (bits 0-5, so a shift by the entry takes them) and the pixels they make
// (bits 6-7). 0 where not even the first fill is whole.
constexpr unsigned kFillLookahead = 12;
constexpr unsigned kFillPixels = 3;
using FillTable = std::array<std::uint32_t, 1u << kFillLookahead>;

constexpr FillTable make_fill_table() {
  FillTable table{};
  for (unsigned bits = 0; bits < table.size(); ++bits) {
    unsigned used = 0, pixels = 0;
    std::uint32_t codes = 0;
    for (;;) {
      const Parsed fill = parse_command(bits, used, kFillLookahead, false);
      if (!fill.whole || pixels + fill.count > kFillPixels) break;
      for (unsigned i = 0; i < fill.count; ++i) codes |= fill.code << (24 - 8 * (pixels + i));
      pixels += fill.count;
      used += fill.length;
    }
    if (pixels != 0) table[bits] = used | pixels << 6 | codes;
  }
  return table;
}
constexpr FillTable kFillTable = make_fill_table();

// Stores a fill table entry at the cursor minus 3.
inline void store_fill_step(std::uint8_t* at, std::uint32_t entry) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &entry, 4);
  } else {
    for (unsigned i = 1; i < 4; ++i) at[i] = static_cast<std::uint8_t>(entry >> (8 * i));
  }
}

// Reference-mode rows: the command that lies whole in the next 10 bits, as
// its length in bits, count, command code and colour code; 0 where it does
// not fit.
constexpr unsigned kCommandLookahead = 10;
using CommandTable = std::array<std::uint32_t, 1u << kCommandLookahead>;

constexpr CommandTable make_command_table() {
  CommandTable table{};
  for (unsigned bits = 0; bits < table.size(); ++bits) {
    const Parsed p = parse_command(bits, 0, kCommandLookahead, true);
    if (p.whole) table[bits] = p.length | p.count << 5 | p.command << 13 | p.code << 15;
  }
  return table;
}
constexpr CommandTable kCommandTable = make_command_table();

// Turns a row of colour codes into colours.
void colour_row(const std::uint8_t* codes, std::uint8_t* row, const std::uint8_t* colours) {
#if defined(__SSE2__)
  // Codes 7 and up are 7 + the colour; below that, one compare per table entry.
  __m128i entries[7];
  for (int i = 0; i < 7; ++i) entries[i] = _mm_set1_epi8(static_cast<char>(colours[i]));
  const __m128i seven = _mm_set1_epi8(7);
  for (int x = 0; x < kWidth; x += 16) {
    const __m128i code = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes + x));
    __m128i out = _mm_and_si128(_mm_sub_epi8(code, seven), _mm_cmpgt_epi8(code, _mm_set1_epi8(6)));
    for (int i = 0; i < 7; ++i) {
      const __m128i hit = _mm_cmpeq_epi8(code, _mm_set1_epi8(static_cast<char>(i)));
      out = _mm_or_si128(out, _mm_and_si128(hit, entries[i]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), out);
  }
#else
  for (int x = 0; x < kWidth; ++x) row[x] = colours[codes[x]];
#endif
}

// A fill-only row. The fills write colour codes into a line of their own,
// whose 16 bytes of room on the left take what a table step or a short fill
// stores past the last pixel; the codes become colours in the row once it is
// complete.
bool decode_fill_row(StreamBits& stream, std::uint8_t* row, const std::uint8_t* colours) {
  std::uint8_t line_bytes[16 + kWidth];
  std::uint8_t* line = line_bytes + 16;
  StreamBits bits = stream;
  int c = kWidth - 1;
  for (;;) {
    bits.refill();
    // Up to four table steps, which take at most 48 of the 56 visible bits,
    // while the fills of an entry lie in the row.
    int steps = 0;
    for (; steps < 4; ++steps) {
      const std::uint32_t e = kFillTable[bits.window & ((1u << kFillLookahead) - 1)];
      const unsigned pixels = (e >> 6) & 3;  // 0 where e is 0
      if (pixels - 1 >= static_cast<unsigned>(c + 1)) break;
      store_fill_step(line + c - 3, e);
      bits.skip(e & 63);
      c -= static_cast<int>(pixels);
    }
    if (steps == 4) continue;
    if (c < 0) break;
    // One fill: at the end of the row, or one the table does not give whole.
    // It may take 23 bits, more than the steps before it may have left.
    // One-pixel fills are common at the end of the row and cheap to read.
    bits.refill();
    const auto nibble = static_cast<unsigned>(bits.window & 15);
    if ((nibble & 1) == 0) {
      if (nibble == 14) {
        line[c] = static_cast<std::uint8_t>(
            7 + StreamBits::reversed(static_cast<unsigned>(bits.window >> 4), 4));
        bits.skip(8);
      } else {
        line[c] = static_cast<std::uint8_t>(StreamBits::reversed(nibble >> 1, 3));
        bits.skip(4);
      }
      if (--c < 0) break;
      continue;
    }
    // Its colour fields come before the length check, so a failing fill has
    // taken them.
    const CountCode code = read_count(bits.window);
    bits.skip(code.length);
    if (code.count == 0) {
      stream = bits;
      return false;
    }
    const unsigned index = bits.field(3);
    const unsigned colour_code = index == 7 ? 7 + bits.field(4) : index;
    const auto n = static_cast<int>(code.count);
    if (n > c + 1) {
      stream = bits;
      return false;
    }
    // A fill of up to 16 pixels is one store of 16 codes ending at c: those
    // left of the fill are overwritten by the fills that follow it.
#if defined(__SSE2__)
    if (n <= 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(line + c - 15),
                       _mm_set1_epi8(static_cast<char>(colour_code)));
    } else
#endif
    {
      std::memset(line + c - n + 1, static_cast<int>(colour_code), static_cast<std::size_t>(n));
    }
    c -= n;
    if (c < 0) break;
  }
  stream = bits;
  colour_row(line, row, colours);
  return true;
}

// Sets pixels c - n + 1 to c of a row to the colour. A short run is one
// 16-byte store over the pixels up to c, which keeps what the bytes left of
// the run held: cheaper than a call for a few bytes, and there is room before
// the first row.
inline void fill_run(std::uint8_t* row, int c, int n, std::uint8_t colour) {
#if defined(__SSE2__)
  if (n <= 16) {
    auto* at = reinterpret_cast<__m128i*>(row + c - 15);
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i run = _mm_cmpgt_epi8(lanes, _mm_set1_epi8(static_cast<char>(15 - n)));
    const __m128i kept = _mm_andnot_si128(run, _mm_loadu_si128(at));
    _mm_storeu_si128(
        at, _mm_or_si128(kept, _mm_and_si128(run, _mm_set1_epi8(static_cast<char>(colour)))));
    return;
  }
#endif
  std::memset(row + c - n + 1, colour, static_cast<std::size_t>(n));
}

// Carries out one command of a reference-mode row at cursor c and returns the
// new cursor, or -2 for a malformed command.
int run_command(std::uint8_t* row, RunStarts& runs, int c, unsigned command, unsigned count,
                std::uint8_t colour) {
  const auto n = static_cast<int>(count);
  switch (command) {
    case Fill:
      if (n > c + 1) return -2;
      if (n == 1) {
        row[c] = colour;
      } else {
        fill_run(row, c, n, colour);
      }
      return c - n;
    case KeepRuns:
      return runs.keep(c, count);
    case ExtendRun: {
      const std::uint8_t v = row[c];
      const int s = runs.left_neighbour(c);
      if (s < 0 || n > s + 1) return -2;
      const std::uint8_t covered = row[s];
      fill_run(row, s, n, v);
      c = s - n;
      if (c >= 0) {
        row[c] = covered;
        runs.changed(row, c);
      }
      return c;
    }
    default: {  // CutRun
      const int s = runs.left_neighbour(c);
      const std::uint8_t neighbour = s >= 0 ? row[s] : 0;
      const int next = s + n;
      if (next > kWidth - 1) return -2;
      row[next] = neighbour;
      if (next > c) {
        runs.scan(row);
      } else {
        runs.changed(row, next);
      }
      return next;
    }
  }
}

// A reference-mode row, which holds its reference row.
bool decode_reference_row(StreamBits& stream, std::uint8_t* row, const std::uint8_t* colours) {
  StreamBits bits = stream;
  RunStarts runs;
  runs.scan(row);
  int c = kWidth - 1;
  while (c >= 0) {
    bits.refill();
    unsigned count, command, code;
    const std::uint32_t step = kCommandTable[bits.window & ((1u << kCommandLookahead) - 1)];
    if (step != 0) {
      bits.skip(step & 31);
      count = (step >> 5) & 0xFF;
      command = (step >> 13) & 3;
      code = step >> 15;
    } else {  // a long or malformed count code, or a long fill
      const CountCode n = read_count(bits.window);
      bits.skip(n.length);
      if (n.count == 0) break;
      count = n.count;
      command = bits.field(2);
      code = 0;
      if (command == Fill) {
        const unsigned index = bits.field(3);
        code = index == 7 ? 7 + bits.field(4) : index;
      }
    }
    c = run_command(row, runs, c, command, count, colours[code]);
    if (c < -1) break;
  }
  stream = bits;
  return c == -1;
}

}  // namespace

DecodeResult format15_decode(const std::uint8_t* input, std::uint32_t input_size,
                             std::uint32_t start, std::uint8_t* destination, std::uint32_t capacity,
                             std::uint32_t tile_rows) {
  // The picture and its tile data share the work buffer: at most 42 tile rows.
  // The row count itself is compared, so no product can overflow.
  if (tile_rows > kFormat15MaxDecodeRows) return {CodecStatus::invalid_argument, 0, start, 0};
  const std::uint32_t rows = 8 * tile_rows;
  const std::uint32_t picture_size = kWidth * rows;
  const std::uint32_t tile_size = picture_size / 2;

  ByteBuffer work = allocate_bytes(kWorkSize);
  if (!work) return {CodecStatus::out_of_memory, 0, start, 0};
  std::memset(work.get(), 0, kRoom);
  std::uint8_t* picture = work.get() + kRoom;

  const std::uint32_t size = input != nullptr ? input_size : 0;
  StreamBits reader(input, size, start);
  const std::uint32_t header = reader.read_header();
  // Colour codes 0 to 6 are the table entries, 7 + v the explicit colour v.
  std::uint8_t colours[kColourCodes];
  for (unsigned i = 0; i < 7; ++i) colours[i] = (header >> (4 * i)) & 0xF;
  for (unsigned v = 0; v < 16; ++v) colours[7 + v] = static_cast<std::uint8_t>(v);

  bool ok = true;
  for (std::uint32_t y = 0; y < rows && ok; ++y) {
    std::uint8_t* row = picture + y * kWidth;
    reader.refill();
    if (reader.field(1) != 0) {
      if (y == 0) {
        std::memset(row, 0, kWidth);
      } else {
        std::memcpy(row, row - kWidth, kWidth);
      }
      ok = decode_reference_row(reader, row, colours);
    } else {
      ok = decode_fill_row(reader, row, colours);
    }
  }
  if (!ok) return stream_read(CodecStatus::malformed, 0, reader.read_position(), size);

  if (destination != nullptr && capacity >= tile_size) {
    picture_to_tiles(picture, rows, destination);
  } else {
    picture_to_tiles(picture, rows, picture + picture_size);
    if (destination != nullptr) std::memcpy(destination, picture + picture_size, capacity);
  }
  return stream_read(CodecStatus::ok, tile_size, reader.read_position(), size);
}

}  // namespace tilvex
