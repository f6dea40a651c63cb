#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace tilvex::platform {

namespace {

// The line the fault handler writes; only the handler reads it, after it was
// set up (a signal handler may use nothing but such plain memory).
char g_fault_line[1024];
std::size_t g_fault_length = 0;

extern "C" void exit_on_fault(int) {
  std::size_t written = 0;
  while (written < g_fault_length) {
    const ssize_t done = ::write(2, g_fault_line + written, g_fault_length - written);
    if (done <= 0) break;
    written += static_cast<std::size_t>(done);
  }
  ::_exit(1);
}

}  // namespace

void ignore_file_size_signal() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

void exit_on_mapped_file_fault(const std::string& line) {
  g_fault_length = line.size() < sizeof g_fault_line ? line.size() : sizeof g_fault_line;
  std::memcpy(g_fault_line, line.data(), g_fault_length);
  struct sigaction action {};
  action.sa_handler = exit_on_fault;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

std::string error_text(int code) { return std::strerror(code); }

}  // namespace tilvex::platform
