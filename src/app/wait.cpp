#include "app/wait.h"

namespace tilvex {

void wait_for_exit_key() {}

}  // namespace tilvex
