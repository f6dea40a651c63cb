// Ready and large blocks on Windows: every block must be released with
// std::free, which rules out the system's own allocators there; an ordinary
// block it is.
#include "platform/memory.h"

namespace tilvex {

ByteBuffer allocate_ready(std::size_t count) noexcept { return allocate_bytes(count); }

ByteBuffer allocate_large(std::size_t count) noexcept { return allocate_bytes(count); }

}  // namespace tilvex
