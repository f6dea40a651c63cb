// Process-wide settings every program makes at start, and the system's words
// for an error code.
#pragma once

#include <string>

namespace tilvex::platform {

// Makes a write beyond the process's file size limit an ordinary failed write
// (EFBIG) instead of a signal that ends the process. Each program's main calls
// this first; where the system has no such signal it does nothing.
void ignore_file_size_signal();

// From now on, a read of a mapped file that another process has cut short
// (which the system reports as a fault on the missing pages) ends the process
// with exit status 1 after writing `line` to the error stream, instead of a
// crash. The line is copied; a longer one than 1,000 bytes is cut. Where a
// mapped file cannot be cut short (Windows refuses that) it does nothing.
void exit_on_mapped_file_fault(const std::string& line);

// The system's text for an error code (errno values) as one line, e.g.
// "No space left on device".
std::string error_text(int code);

}  // namespace tilvex::platform
