// Owning handles for files and heap buffers, so every failure path releases what
// it took. Buffers are obtained without throwing: a null buffer means the
// allocation failed and the operation must fail with its 0 result. The heap
// blocks themselves (ByteBuffer, allocate_bytes, allocate_ready, allocate_large) are the
// platform layer's.
#pragma once

#include <cstdio>
#include <memory>

#include "platform/memory.h"

namespace tilvex {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept {
    if (file != nullptr) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace tilvex
