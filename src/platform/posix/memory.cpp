// Blocks whose pages the system supplies at once, and large blocks aligned to
// 2 MiB and marked for transparent large pages.
#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace tilvex {

ByteBuffer allocate_ready(std::size_t count) noexcept {
  ByteBuffer block = allocate_bytes(count);
#if defined(MADV_POPULATE_WRITE)
  // Only the pages wholly inside the block: the others may be shared with
  // other blocks. Systems without the request refuse it, and the pages then
  // come one fault at a time as before.
  constexpr std::uintptr_t kPage = 4096;
  const auto start = reinterpret_cast<std::uintptr_t>(block.get());
  const std::uintptr_t from = (start + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t to = (start + count) & ~(kPage - 1);
  if (block && to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#endif
  return block;
}

ByteBuffer allocate_large(std::size_t count) noexcept {
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  if (count < kLargePage) return allocate_bytes(count);
  const std::size_t rounded = (count + kLargePage - 1) / kLargePage * kLargePage;
  void* block = std::aligned_alloc(kLargePage, rounded);
  if (block == nullptr) return allocate_bytes(count);
  // Only a hint: where large pages are not available the block works the
  // same. A tail shorter than a large page stays in small pages, or a few
  // bytes past the last full one would take a whole large page of memory.
  ::madvise(block, count / kLargePage * kLargePage, MADV_HUGEPAGE);
  return ByteBuffer(static_cast<std::uint8_t*>(block));
}

}  // namespace tilvex
