// Whether two names lead to one existing file. The check itself is the
// platform layer's (platform::same_file); this name stays for the callers
// that still use it.
#pragma once

#include "platform/files.h"

namespace tilvex {

inline bool same_existing_file(const char* first, const char* second) {
  return platform::same_file(first, second);
}

}  // namespace tilvex
