// The console wait before a program ends: the system part, and the decision
// over terminal input, which works on plain bytes and is the same everywhere.
#pragma once

#include <string_view>

namespace tilvex::platform {

// Waits for a key or a mouse button press on the console behind the standard
// C descriptor input (0 for standard input). A carriage return or line feed
// already pending ends the wait at once, without the prompt (it is consumed).
// Otherwise prompt is written to standard output and the wait ends on any key
// or button press; button releases and mouse movement are read past. When
// input is no console (a pipe, a file, closed) the prompt is written and the
// wait ends at once: it never blocks on a pipe or a file. The console is
// always left as it was found, also when the process is interrupted.
// On the Windows console the first pending input record decides instead: a
// carriage-return key event there (pressed or released) ends the wait
// silently and stays pending; after the prompt any key event, a mouse event
// with a button down or a menu event ends it; an invalid handle ends it at
// once, without the prompt.
void wait_for_key_or_click(int input, const char* prompt);

// Makes the console show the programs' text, file names included, as UTF-8
// for the rest of the process (the console's own setting comes back when the
// process ends normally). Each program's main calls this first; where
// terminals take UTF-8 anyway it does nothing.
void prepare_console_output();

// What the bytes read from a terminal so far amount to.
enum class TerminalInput {
  Incomplete,  // the start of an escape sequence: read on
  EndsWait,    // a key, or a mouse button press
  Ignored,     // a mouse button release or movement report: discard and read on
};

// Classifies the bytes received since the last complete input. Mouse reports
// are recognised in the SGR form (ESC [ < b ; x ; y M or m) and in the older
// form (ESC [ M b x y); anything else is a key.
TerminalInput classify_terminal_input(std::string_view bytes);

}  // namespace tilvex::platform
