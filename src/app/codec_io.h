// The files of tilvex-codec: INPUT read only as far as it is needed, from a
// named file or from standard input ('-'), and OUTPUT written only once the
// result is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/resources.h"

namespace tilvex {

// How a file name is shown in messages: '-' is "standard input" or
// "standard output".
std::string input_label(const std::string& path);
std::string output_label(const std::string& path);

// An open INPUT.
struct CodecInput {
  std::string label;  // for messages
  FilePtr owned;      // null for standard input
  std::FILE* file = nullptr;
  bool size_known = false;     // a regular file, whose size is measured at open
  std::uint64_t size = 0;      // its size when known
  std::uint64_t position = 0;  // bytes skipped or read so far
  bool at_end = false;         // reading met the end of the input
};

bool open_input(const std::string& path, CodecInput* input, std::string* problem);

// Moves to byte offset of the input (which is still at its start): a seek for
// a regular file, reading and dropping bytes for a stream. Reports whether the
// offset lies inside the input in *inside.
bool skip_input(CodecInput* input, std::uint64_t offset, bool* inside, std::string* problem);

// Appends up to count more bytes to bytes; fewer only at the end of the input.
bool read_input(CodecInput* input, std::size_t count, std::vector<std::uint8_t>* bytes,
                std::string* problem);

// Writes the complete result to OUTPUT; '-' writes to standard_output.
bool write_output(const std::string& path, const std::uint8_t* data, std::size_t size,
                  std::FILE* standard_output, std::string* problem);

}  // namespace tilvex
