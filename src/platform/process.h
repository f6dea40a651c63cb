// Process-wide settings every program makes at start, and the system's words
// for an error code.
#pragma once

#include <string>

namespace tilvex::platform {

// Makes a write beyond the process's file size limit an ordinary failed write
// (EFBIG) instead of a signal that ends the process. Each program's main calls
// this first; where the system has no such signal it does nothing.
void ignore_file_size_signal();

// The system's text for an error code (errno values) as one line, e.g.
// "No space left on device".
std::string error_text(int code);

}  // namespace tilvex::platform
