// Heap blocks. Every block, ordinary or large, is released with std::free, so
// all of them travel in the one owning handle type. Blocks are obtained
// without throwing: a null handle means memory is short and the operation that
// asked must fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tilvex {

struct FreeDeleter {
  void operator()(std::uint8_t* bytes) const noexcept { std::free(bytes); }
};
using ByteBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// Uninitialised bytes, or null when memory is short.
inline ByteBuffer allocate_bytes(std::size_t count) noexcept {
  return ByteBuffer(static_cast<std::uint8_t*>(std::malloc(count == 0 ? 1 : count)));
}

// Uninitialised bytes that are about to be written all over and more than
// once (a write block): where the system can, it supplies every page of the
// block at once. Otherwise each page costs a page fault when it is first
// written, which on some virtual machines takes several microseconds, as long
// as writing the whole page many times over. Null when memory is short.
ByteBuffer allocate_ready(std::size_t count) noexcept;

// Uninitialised bytes for a block of megabytes that is filled once and then
// read all over (the cartridge image): where the system can, aligned and
// marked so that it may be backed by large pages, which makes filling it far
// cheaper than page by page. Null when memory is short.
ByteBuffer allocate_large(std::size_t count) noexcept;

}  // namespace tilvex
