// What the POSIX file services share: failure reasons, identities and the
// resolution of names. Internal to the platform layer.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace tilvex::platform::posix {

// Set the reason (when wanted) and return false.
bool fail(std::string* reason, const char* text);
bool fail_code(std::string* reason, int code);

inline int fd_of(std::intptr_t native) { return static_cast<int>(native); }

inline FileIdentity identity_of(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

void close_quietly(std::intptr_t& native);

// Follows the name through symbolic links to the entry that is not one (which
// need not exist). Relative link texts count from the link's own directory.
bool resolve_links(const std::string& name, std::string* resolved, std::string* reason);

// The directory part ("." when there is none) and the last name of a path.
void split(const std::string& path, std::string* directory, std::string* base);

}  // namespace tilvex::platform::posix
