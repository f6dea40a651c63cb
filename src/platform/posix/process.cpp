#include "platform/process.h"

#include <signal.h>

#include <cstring>

namespace tilvex::platform {

void ignore_file_size_signal() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

std::string error_text(int code) { return std::strerror(code); }

}  // namespace tilvex::platform
