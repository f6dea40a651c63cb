// The wait for a key or a mouse click before the program ends.
#pragma once

namespace tilvex {

void wait_for_exit_key();

}  // namespace tilvex
