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
// the codes of the fill colours do. So every row is planned once, as its list
// of fill-only runs and its list of reference-mode commands; the simulated pass
// counts the fills of the second list, and each attempt prices both lists with
// its table and writes the winner.
//
// The stream is one little-endian bit string (bit 0 of each byte first); fields
// are written most significant bit first, so every code is kept here already
// bit-reversed, with its first bit in bit 0, and whole codes are appended at
// once. The last byte is padded with zero bits.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "codec/format15.h"
#include "codec/format15_plan.h"
#include "common/resources.h"
#include "common/types.h"
#include "pixel/planar.h"

namespace tilvex {
namespace {

using namespace format15_detail;

constexpr std::uint32_t kPictureCapacity = 0x8000;
// Whole 64-bit words are stored before the output limit is checked at the end.
constexpr std::uint32_t kOutputCapacity = kOutputLimit + 8;
constexpr std::uint32_t kTileRowBytes = 512;

// A run of stream bits, first bit in bit 0.
struct Code {
  std::uint32_t bits = 0;
  unsigned length = 0;
};

// An n-bit field written most significant bit first.
constexpr std::uint32_t field_bits(std::uint32_t value, unsigned length) {
  std::uint32_t bits = 0;
  for (unsigned i = 0; i < length; ++i) bits |= ((value >> (length - 1 - i)) & 1u) << i;
  return bits;
}

// The count code of n: "1 b" for each bit b below the highest set bit, from
// bit 0 upwards, then a single 0.
constexpr Code count_code(unsigned n) {
  Code code;
  while (n > 1) {
    code.bits |= (1u | (n & 1u) << 1) << code.length;
    code.length += 2;
    n >>= 1;
  }
  code.length += 1;  // the closing 0
  return code;
}

constexpr std::array<Code, kWidth + 1> make_count_codes() {
  std::array<Code, kWidth + 1> codes{};
  for (unsigned n = 1; n <= kWidth; ++n) codes[n] = count_code(n);
  return codes;
}
constexpr std::array<Code, kWidth + 1> kCountCodes = make_count_codes();

// The stream of one attempt, written into a caller's buffer of
// kOutputCapacity bytes.
class StreamWriter {
 public:
  explicit StreamWriter(std::uint8_t* out) : out_(out) {}

  void put_byte(std::uint8_t byte) { out_[length_++] = byte; }  // before any bits

  void put(std::uint32_t bits, unsigned length) {  // length at most 32
    accumulator_ |= std::uint64_t{bits} << fill_;
    fill_ += length;
    if (fill_ >= 64) {
      store_word();
      fill_ -= 64;
      accumulator_ = std::uint64_t{bits} >> (length - fill_);
    }
  }

  // Writes the last, zero-padded bytes. Returns the stream length, or 0 when
  // the stream passes the output limit.
  std::uint32_t finish() {
    const unsigned tail_bytes = (fill_ + 7) / 8;
    if (overflow_ || length_ + tail_bytes > kOutputLimit) return 0;
    for (unsigned i = 0; i < tail_bytes; ++i) {
      out_[length_++] = static_cast<std::uint8_t>(accumulator_ >> (8 * i));
    }
    return length_;
  }

 private:
  void store_word() {
    if (overflow_ || length_ + 8 > kOutputCapacity) {
      overflow_ = true;
      return;
    }
    for (unsigned i = 0; i < 8; ++i)
      out_[length_ + i] = static_cast<std::uint8_t>(accumulator_ >> (8 * i));
    length_ += 8;
  }

  std::uint8_t* out_;
  std::uint32_t length_ = 0;
  std::uint64_t accumulator_ = 0;
  unsigned fill_ = 0;
  bool overflow_ = false;
};

// What follows the count code of each command under one colour table: for a
// fill its colour index (and the colour itself for index 7), with the command
// code in front in a reference-mode row.
struct CommandCodes {
  Code fill_row[16];        // by colour
  Code reference_fill[16];  // by colour
  Code command[4];          // by command, for the other commands
};

CommandCodes make_command_codes(const ColourTable& table) {
  CommandCodes codes;
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
    codes.fill_row[colour] = code;
    codes.reference_fill[colour] = Code{field_bits(Fill, 2) | code.bits << 2, code.length + 2};
  }
  for (unsigned command = 0; command < 4; ++command)
    codes.command[command] = Code{field_bits(command, 2), 2};
  return codes;
}

Code reference_tail(const CommandCodes& codes, const Step& step) {
  return step.command == Fill ? codes.reference_fill[step.colour] : codes.command[step.command];
}

void put_step(StreamWriter& stream, const Step& step, const Code& tail) {
  const Code count = kCountCodes[step.count];
  stream.put(count.bits | tail.bits << count.length, count.length + tail.length);
}

// One attempt: the stream of the planned picture with the given table, written
// to out. Returns its length, or 0 when it would pass the output limit.
std::uint32_t encode_picture(const RowPlan* plans, std::uint32_t rows, const ColourTable& table,
                             std::uint8_t* out) {
  StreamWriter stream(out);
  stream.put_byte(static_cast<std::uint8_t>(table[1] << 4 | table[0]));
  stream.put_byte(static_cast<std::uint8_t>(table[3] << 4 | table[2]));
  stream.put_byte(static_cast<std::uint8_t>(table[5] << 4 | table[4]));
  stream.put(table[6], 4);  // shares its byte with the first four stream bits

  const CommandCodes codes = make_command_codes(table);
  for (std::uint32_t y = 0; y < rows; ++y) {
    const RowPlan& plan = plans[y];
    std::uint32_t fill_bits = 1;
    for (unsigned i = 0; i < plan.fill_count; ++i) {
      const Step& step = plan.fills[i];
      fill_bits += kCountCodes[step.count].length + codes.fill_row[step.colour].length;
    }
    std::uint32_t reference_bits = 1;
    for (unsigned i = 0; i < plan.command_count; ++i) {
      const Step& step = plan.commands[i];
      reference_bits += kCountCodes[step.count].length + reference_tail(codes, step).length;
    }

    if (fill_bits < reference_bits) {
      stream.put(0, 1);
      for (unsigned i = 0; i < plan.fill_count; ++i) {
        put_step(stream, plan.fills[i], codes.fill_row[plan.fills[i].colour]);
      }
    } else {
      stream.put(1, 1);
      for (unsigned i = 0; i < plan.command_count; ++i) {
        put_step(stream, plan.commands[i], reference_tail(codes, plan.commands[i]));
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

  // One block of working memory: both attempts' streams, the picture and the
  // row plans.
  ByteBuffer work = allocate_bytes(2 * kOutputCapacity + kPictureCapacity + rows * sizeof(RowPlan));
  if (!work) return {CodecStatus::out_of_memory, 0};
  std::uint8_t* const output = work.get();
  std::uint8_t* const first = output + kOutputCapacity;
  std::uint8_t* const picture = first + kOutputCapacity;
  RowPlan* const plans = reinterpret_cast<RowPlan*>(picture + kPictureCapacity);
  std::uninitialized_default_construct_n(plans, rows);

  // The source is read completely before anything is written, so it may be the
  // destination.
  tiles_to_picture(source, rows, picture);

  ColourTable by_runs, by_simulation;
  plan_picture(picture, rows, plans, by_runs, by_simulation);

  const std::uint32_t first_length = encode_picture(plans, rows, by_runs, first);
  // Neither attempt can pass the output limit with at most 32 tile rows; the
  // check stays for safety.
  if (first_length == 0) return {CodecStatus::output_too_large, 0};
  const std::uint8_t* stream = first;
  std::uint32_t length = first_length;
  if (by_simulation != by_runs) {
    // Equal tables give equal streams; otherwise the second attempt wins
    // unless the first is strictly shorter.
    const std::uint32_t second_length = encode_picture(plans, rows, by_simulation, output);
    if (second_length == 0) return {CodecStatus::output_too_large, 0};
    if (second_length <= first_length) {
      stream = output;
      length = second_length;
    }
  }

  if (destination != nullptr) std::memcpy(destination, stream, std::min(length, capacity));
  return {CodecStatus::ok, length};
}

}  // namespace tilvex
