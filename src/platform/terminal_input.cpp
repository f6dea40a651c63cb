// The decision over bytes read from a terminal during the wait before exit:
// plain bytes in, a verdict out, the same on every system.
#include <cstddef>

#include "platform/console.h"

namespace tilvex::platform {

namespace {

constexpr char kEsc = '\x1b';
// Longest SGR mouse report accepted; longer input is taken as a key.
constexpr std::size_t kMaxReportLength = 32;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ESC [ < b ; x ; y (M|m), starting after the "<".
TerminalInput classify_sgr_report(std::string_view body) {
  if (body.empty()) return TerminalInput::Incomplete;
  char final = body.back();
  if (final != 'M' && final != 'm') {
    for (char c : body) {
      if (!is_digit(c) && c != ';') return TerminalInput::EndsWait;
    }
    return body.size() + 3 > kMaxReportLength ? TerminalInput::EndsWait : TerminalInput::Incomplete;
  }
  std::string_view fields = body.substr(0, body.size() - 1);
  unsigned long button = 0;
  int field_count = 1;
  bool field_has_digits = false;
  for (char c : fields) {
    if (c == ';') {
      if (!field_has_digits) return TerminalInput::EndsWait;
      ++field_count;
      field_has_digits = false;
    } else if (is_digit(c)) {
      if (field_count == 1 && button < 100000)
        button = button * 10 + static_cast<unsigned>(c - '0');
      field_has_digits = true;
    } else {
      return TerminalInput::EndsWait;
    }
  }
  if (field_count != 3 || !field_has_digits) return TerminalInput::EndsWait;
  if (final == 'm') return TerminalInput::Ignored;  // release
  if (button & 32) return TerminalInput::Ignored;   // movement
  return TerminalInput::EndsWait;                   // press, the wheel included
}

// ESC [ M b x y, each of the three bytes offset by 32.
TerminalInput classify_legacy_report(std::string_view body) {
  if (body.size() < 3) return TerminalInput::Incomplete;
  unsigned button = static_cast<unsigned char>(body[0]) - 32u;
  if (button & 32) return TerminalInput::Ignored;                              // movement
  if ((button & 64) == 0 && (button & 3) == 3) return TerminalInput::Ignored;  // release
  return TerminalInput::EndsWait;
}

}  // namespace

TerminalInput classify_terminal_input(std::string_view bytes) {
  if (bytes.empty()) return TerminalInput::Incomplete;
  if (bytes[0] != kEsc) return TerminalInput::EndsWait;
  if (bytes.size() < 2) return TerminalInput::Incomplete;
  if (bytes[1] != '[') return TerminalInput::EndsWait;  // Alt+key, SS3 function keys
  if (bytes.size() < 3) return TerminalInput::Incomplete;
  if (bytes[2] == '<') return classify_sgr_report(bytes.substr(3));
  if (bytes[2] == 'M') return classify_legacy_report(bytes.substr(3));
  return TerminalInput::EndsWait;  // cursor and function keys
}

}  // namespace tilvex::platform
