// Process-wide settings on Windows: there is no file size signal to ignore,
// and mapped files cannot be cut short.
#include "platform/process.h"

#include <cstring>

namespace tilvex::platform {

void ignore_file_size_signal() {}

// A file with a mapped view cannot be cut short on Windows, so no read of the
// view can fault for that reason.
void exit_on_mapped_file_fault(const std::string&) {}

std::string error_text(int code) { return std::strerror(code); }

}  // namespace tilvex::platform
