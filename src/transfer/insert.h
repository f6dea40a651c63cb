// Insertion: every plain structure back into the cartridge image, packed from
// the start address on, with the pointer table rewritten.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/types.h"
#include "transfer/problems.h"

namespace tilvex {

struct InsertRequest {
  const char* graphics_name = nullptr;  // combined graphics file; null: per-structure files
  std::uint32_t start = 0;              // file offset of the first structure
  std::uint32_t cartridge_size = 0;     // the cartridge file's size; its last byte stays unused
  RunMode mode = 0;                     // only kModeKeepFreeRegion counts here
  unsigned threads = 1;  // structures read and encoded at once; any number gives the same result
};

struct InsertResult {
  bool inserted = false;     // all structures are in the image and the pointer table points at them
  std::uint32_t ending = 0;  // file offset just past the last structure; the start on failure
  FileProblems problems;     // graphics files that could not be opened or read, and why
};

// Inserts into the cartridge image (which the caller opened writable and
// saves afterwards), writing problems to messages.
InsertResult insert_all(const InsertRequest& request, std::FILE* messages);

}  // namespace tilvex
