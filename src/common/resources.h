// Owning handles for files and heap buffers, so every failure path releases what
// it took. Buffers are obtained without throwing: a null buffer means the
// allocation failed and the operation must fail with its 0 result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace tilvex {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept {
    if (file != nullptr) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Heap bytes released with free(), so that ordinary, zeroed and page-aligned
// blocks can all travel in the one handle type.
struct FreeDeleter {
  void operator()(std::uint8_t* bytes) const noexcept { std::free(bytes); }
};
using ByteBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// Uninitialised bytes, or null when memory is short.
inline ByteBuffer allocate_bytes(std::size_t count) noexcept {
  return ByteBuffer(static_cast<std::uint8_t*>(std::malloc(count == 0 ? 1 : count)));
}

// Zeroed bytes, or null when memory is short. Large blocks come zeroed from
// the system, so this costs no more than allocate_bytes.
inline ByteBuffer allocate_zeroed(std::size_t count) noexcept {
  return ByteBuffer(static_cast<std::uint8_t*>(std::calloc(count == 0 ? 1 : count, 1)));
}

// Uninitialised bytes for a block of megabytes that is filled once and then
// read all over (the cartridge image): aligned so that the system may back it
// with large pages, which makes filling it far cheaper than page by page.
ByteBuffer allocate_large(std::size_t count) noexcept;

}  // namespace tilvex
