// Large blocks aligned to 2 MiB and marked for transparent large pages.
#include "platform/memory.h"

#include <sys/mman.h>

namespace tilvex {

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
