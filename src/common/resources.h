// Owning handles for files and heap buffers, so every failure path releases what
// it took. Buffers are obtained without throwing: a null buffer means the
// allocation failed and the operation must fail with its 0 result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

namespace tilvex {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept {
    if (file != nullptr) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

using ByteBuffer = std::unique_ptr<std::uint8_t[]>;

// Uninitialised bytes, or null when memory is short.
inline ByteBuffer allocate_bytes(std::size_t count) noexcept {
  return ByteBuffer(new (std::nothrow) std::uint8_t[count == 0 ? 1 : count]);
}

// Zeroed bytes, or null when memory is short.
inline ByteBuffer allocate_zeroed(std::size_t count) noexcept {
  return ByteBuffer(new (std::nothrow) std::uint8_t[count == 0 ? 1 : count]());
}

}  // namespace tilvex
