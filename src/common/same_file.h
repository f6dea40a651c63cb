// Whether two names lead to one existing file.
#pragma once

namespace tilvex {

// True when both names lead to the same existing file (same device and inode:
// hard links, "./a" and "a", symbolic links), which a plain comparison of the
// texts misses. Creating the one for writing would empty the other.
bool same_existing_file(const char* first, const char* second);

}  // namespace tilvex
