// Process-wide settings on Windows: there is no file size signal to ignore.
#include "platform/process.h"

#include <cstring>

namespace tilvex::platform {

void ignore_file_size_signal() {}

std::string error_text(int code) { return std::strerror(code); }

}  // namespace tilvex::platform
