// The wait for a key or a mouse click before the program ends.
#pragma once

#include <string_view>

namespace tilvex {

// Waits on standard input; see wait_for_exit_key_on.
void wait_for_exit_key();

// Waits for a key or a mouse button press on the terminal behind input_fd.
// A carriage return or line feed already pending ends the wait at once, without
// the prompt (it is consumed). When input_fd is not a terminal the prompt is
// printed and the wait ends at once: it never blocks on a pipe or a file.
void wait_for_exit_key_on(int input_fd);

// What the bytes read from the terminal so far amount to.
enum class TerminalInput {
  Incomplete,  // the start of an escape sequence: read on
  EndsWait,    // a key, or a mouse button press
  Ignored,     // a mouse button release or movement report: discard and read on
};

// Classifies the bytes received since the last complete input. Mouse reports
// are recognised in the SGR form (ESC [ < b ; x ; y M or m) and in the older
// form (ESC [ M b x y); anything else is a key.
TerminalInput classify_terminal_input(std::string_view bytes);

}  // namespace tilvex
