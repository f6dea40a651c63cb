// Format 15 encoder: turns tiles into the 128-pixel-wide picture and writes it
// as a bit stream the decoder rebuilds row by row.
//
// Two attempts differ only in the seven-colour table (chosen once from run
// counts, once from a simulated reference-mode pass); the shorter stream wins
// and equal lengths keep the second. Within an attempt every row is priced
// twice, as a fill-only row and as a reference-mode row, and the cheaper one is
// written (equal costs keep the reference-mode row). Both trials of a row start
// from the same carried bits, so comparing their totals compares their row bits.
//
// The commands of both trials of a row do not depend on the colour table: only
// the codes of the fill colours do, 3 bits for a colour in the table and 7 for
// one that is not. So every row is planned once (format15_plan.h) into its bit
// counts and its fills per colour, and a row is priced under a table with a
// sum over 16 colours. The stream length of an attempt follows from the bits
// of its rows, so both attempts are priced and only the winner is written:
// each row is walked once to plan it and once more only if it is written.
//
// The stream is one little-endian bit string (bit 0 of each byte first); fields
// are written most significant bit first, so every code is kept here already
// bit-reversed, with its first bit in bit 0, and whole codes are appended at
// once. The writer stores its 64-bit accumulator after every code and moves on
// by the whole bytes it holds, without a branch. The last byte is padded with
// zero bits.

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "codec/format15.h"
#include "codec/format15_plan.h"
#include "common/resources.h"
#include "common/types.h"
#include "pixel/planar.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tilvex {
namespace {

using namespace format15_detail;

constexpr std::uint32_t kPictureCapacity = 0x8000;
// The writer stores whole 64-bit words; the stream's length is checked against
// the output limit before it is written.
constexpr std::uint32_t kOutputCapacity = kOutputLimit + 8;
constexpr std::uint32_t kTileRowBytes = 512;

// The stream of one attempt, written into a buffer of kOutputCapacity bytes.
class StreamWriter {
 public:
  explicit StreamWriter(std::uint8_t* out) : out_(out) {}

  void put_byte(std::uint8_t byte) { out_[length_++] = byte; }  // before any bits

  void put(std::uint64_t bits, unsigned length) {  // length at most 56
    accumulator_ |= bits << fill_;
    fill_ += length;
    store_word();
    length_ += fill_ >> 3;
    accumulator_ >>= fill_ & ~7u;
    fill_ &= 7;
  }

  // Writes the last, zero-padded byte. Returns the stream length.
  std::uint32_t finish() {
    if (fill_ != 0) out_[length_++] = static_cast<std::uint8_t>(accumulator_);
    return length_;
  }

 private:
  void store_word() {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out_ + length_, &accumulator_, 8);
    } else {
      for (unsigned i = 0; i < 8; ++i)
        out_[length_ + i] = static_cast<std::uint8_t>(accumulator_ >> (8 * i));
    }
  }

  std::uint8_t* out_;
  std::uint32_t length_ = 0;
  std::uint64_t accumulator_ = 0;
  unsigned fill_ = 0;
};

// The index code of every colour under one table (its colour after index 7),
// and nothing for the commands that carry no colour.
struct ColourCodes {
  Code of[kNoColour + 1];
  std::uint8_t outside[16];  // 0xFF for a colour that is not in the table, else 0
};

ColourCodes make_colour_codes(const ColourTable& table) {
  ColourCodes codes{};
  for (unsigned colour = 0; colour < 16; ++colour) {
    unsigned index = 7;
    for (unsigned i = 0; i < 7; ++i) {
      if (table[i] == colour) {
        index = i;
        break;
      }
    }
    Code code{field_bits(index, 3), 3};
    if (index == 7) {
      code.bits |= field_bits(colour, 4) << 3;
      code.length += 4;
    }
    codes.of[colour] = code;
    codes.outside[colour] = index == 7 ? 0xFF : 0;
  }
  return codes;
}

// The 4 more bits of the fills whose colour is not in the table.
unsigned outside_bits(const std::uint8_t (&fills)[16], const ColourCodes& codes) {
#if defined(__SSE2__)
  const __m128i outside =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(fills)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes.outside)));
  // Two sums of eight bytes each, in bits 0-15 and 64-79.
  const __m128i sums = _mm_sad_epu8(outside, _mm_setzero_si128());
  return 4 * static_cast<unsigned>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
#else
  unsigned count = 0;
  for (unsigned v = 0; v < 16; ++v) count += fills[v] & codes.outside[v];
  return 4 * count;
#endif
}

// The bits of a row under a table; fill_only tells which trial is written.
struct RowChoice {
  unsigned bits;
  bool fill_only;
};

RowChoice choose(const RowCost& cost, const ColourCodes& codes) {
  const unsigned fill_bits = cost.fill_bits + outside_bits(cost.fill_colours, codes);
  if (cost.step_count == 0) return {fill_bits, true};  // its reference-mode row costs more
  const unsigned reference_bits = cost.reference_bits + outside_bits(cost.reference_colours, codes);
  return fill_bits < reference_bits ? RowChoice{fill_bits, true} : RowChoice{reference_bits, false};
}

// The stream length of an attempt: three header bytes, then the fourth
// table entry's 4 bits and every row's bits, padded to a whole byte.
std::uint64_t stream_length(const RowCost* costs, std::uint32_t rows, const ColourCodes& codes) {
  std::uint64_t bits = 4;
  for (std::uint32_t y = 0; y < rows; ++y) bits += choose(costs[y], codes).bits;
  return 3 + (bits + 7) / 8;
}

// One attempt: the stream of the planned picture with the given table, written
// to out. Returns its length.
std::uint32_t encode_picture(const std::uint8_t* picture, const RowCost* costs,
                             const RunList* run_lists, const Step* steps, std::uint32_t rows,
                             const ColourTable& table, const ColourCodes& codes,
                             std::uint8_t* out) {
  StreamWriter stream(out);
  stream.put_byte(static_cast<std::uint8_t>(table[1] << 4 | table[0]));
  stream.put_byte(static_cast<std::uint8_t>(table[3] << 4 | table[2]));
  stream.put_byte(static_cast<std::uint8_t>(table[5] << 4 | table[4]));
  stream.put(table[6], 4);  // shares its byte with the first four stream bits

  for (std::uint32_t y = 0; y < rows; ++y) {
    const RowCost& cost = costs[y];
    if (choose(cost, codes).fill_only) {
      const std::uint8_t* R = picture + y * kWidth;
      const RunList& runs = run_lists[y];
      stream.put(0, 1);
      // Two runs at a time, at most 2 * 22 bits.
      auto run_code = [&](unsigned i) {
        const int c = runs.ends[i];
        const Code count = kCountCodes[c - runs.ends[i - 1]];
        const Code colour = codes.of[R[c]];
        return Code{count.bits | colour.bits << count.length, count.length + colour.length};
      };
      unsigned i = runs.count;
      for (; i >= 2; i -= 2) {
        const Code right = run_code(i), left = run_code(i - 1);
        stream.put(right.bits | std::uint64_t{left.bits} << right.length,
                   right.length + left.length);
      }
      if (i == 1) {
        const Code last = run_code(1);
        stream.put(last.bits, last.length);
      }
    } else {
      stream.put(1, 1);
      // Two steps at a time, at most 2 * 24 bits.
      auto step_code = [&](Step step) {
        const unsigned length = step_length(step);
        const Code colour = codes.of[step_colour(step)];
        return Code{step_bits(step) | colour.bits << length, length + colour.length};
      };
      const Step* step = steps + cost.first_step;
      const Step* const end = step + cost.step_count;
      for (; end - step >= 2; step += 2) {
        const Code right = step_code(step[0]), left = step_code(step[1]);
        stream.put(right.bits | std::uint64_t{left.bits} << right.length,
                   right.length + left.length);
      }
      if (step != end) {
        const Code last = step_code(*step);
        stream.put(last.bits, last.length);
      }
    }
  }
  return stream.finish();
}

}  // namespace

EncodeResult format15_encode(const std::uint8_t* source, std::uint32_t size,
                             std::uint8_t* destination, std::uint32_t capacity,
                             std::uint32_t tile_rows) {
  // The row count itself is compared, so no product can overflow. The picture
  // is read from 512 bytes per tile row; a shorter source would be read past
  // its end.
  if (source == nullptr || tile_rows > kFormat15MaxEncodeRows || size < kTileRowBytes * tile_rows) {
    return {CodecStatus::invalid_argument, 0};
  }
  const std::uint32_t rows = 8 * tile_rows;

  // One block of working memory: the stream, the picture, the row costs, the
  // reference-mode commands and the run lists.
  ByteBuffer work = allocate_bytes(kOutputCapacity + kPictureCapacity + rows * sizeof(RowCost) +
                                   rows * kWidth * sizeof(Step) + rows * sizeof(RunList));
  if (!work) return {CodecStatus::out_of_memory, 0};
  std::uint8_t* const output = work.get();
  std::uint8_t* const picture = output + kOutputCapacity;
  RowCost* const costs = reinterpret_cast<RowCost*>(picture + kPictureCapacity);
  std::uninitialized_default_construct_n(costs, rows);
  Step* const steps = reinterpret_cast<Step*>(costs + rows);
  RunList* const run_lists = reinterpret_cast<RunList*>(steps + rows * kWidth);
  std::uninitialized_default_construct_n(run_lists, rows);

  // The source is read completely before anything is written, so it may be the
  // destination.
  tiles_to_picture(source, rows, picture);

  ColourTable by_runs, by_simulation;
  plan_picture(picture, rows, costs, run_lists, steps, by_runs, by_simulation);

  // Equal tables give equal streams; otherwise the second attempt wins unless
  // the first is strictly shorter. Neither attempt can pass the output limit
  // with at most 32 tile rows; the check stays for safety, and an attempt
  // that would pass it fails the call.
  const ColourCodes first_codes = make_colour_codes(by_runs);
  const ColourCodes second_codes = make_colour_codes(by_simulation);
  const std::uint64_t first_length = stream_length(costs, rows, first_codes);
  const std::uint64_t second_length =
      by_simulation == by_runs ? first_length : stream_length(costs, rows, second_codes);
  if (first_length > kOutputLimit || second_length > kOutputLimit) {
    return {CodecStatus::output_too_large, 0};
  }
  const bool first_wins = first_length < second_length;
  const std::uint32_t length =
      encode_picture(picture, costs, run_lists, steps, rows, first_wins ? by_runs : by_simulation,
                     first_wins ? first_codes : second_codes, output);
  const std::uint8_t* const stream = output;

  if (destination != nullptr) std::memcpy(destination, stream, std::min(length, capacity));
  return {CodecStatus::ok, length};
}

}  // namespace tilvex
