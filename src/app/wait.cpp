// The wait before the program ends, so that a console window opened just for
// this run stays readable. The console work itself is the platform layer's.
#include "app/wait.h"

#include <cstdio>

#include "platform/console.h"

namespace tilvex {

namespace {
constexpr char kPrompt[] = "\nHit any key or click on the screen to exit.\n";
constexpr int kStandardInput = 0;
}  // namespace

void wait_for_exit_key_on(int input_fd) { platform::wait_for_key_or_click(input_fd, kPrompt); }

void wait_for_exit_key() {
  std::fflush(stdout);
  wait_for_exit_key_on(kStandardInput);
}

}  // namespace tilvex
