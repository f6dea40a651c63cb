// The wait for a key or a mouse click before the program ends.
#pragma once

namespace tilvex {

// Waits on standard input; see wait_for_exit_key_on.
void wait_for_exit_key();

// Waits for a key or a mouse button press on the console behind the standard
// C descriptor input_fd. A carriage return or line feed already pending ends
// the wait at once, without the prompt (it is consumed). When input_fd is not
// a console the prompt is printed and the wait ends at once: it never blocks
// on a pipe or a file.
void wait_for_exit_key_on(int input_fd);

}  // namespace tilvex
