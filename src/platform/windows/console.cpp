// The wait before exit on the Windows console. The first pending input record
// is looked at without taking it: a carriage return there ends the wait at
// once, silently, and stays pending for the shell. Otherwise the prompt is
// shown and records are read until a key, a click or a menu command arrives.
// Any failed call (standard input is a file, a pipe or missing) ends the wait.
//
// So that a click reaches the program rather than starting a selection, the
// console reports mouse input with quick-edit selection off for the length of
// the wait; the console's mode is put back afterwards, and also when the
// console is closed or Ctrl+C or Ctrl+Break ends the process during the wait.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/console_events.h"

namespace tilvex::platform {

namespace {

ConsoleRecord to_record(const INPUT_RECORD& input) {
  switch (input.EventType) {
    case KEY_EVENT:
      return {ConsoleRecordKind::Key, input.Event.KeyEvent.uChar.AsciiChar,
              input.Event.KeyEvent.bKeyDown != FALSE, 0};
    case MOUSE_EVENT:
      return {ConsoleRecordKind::Mouse, 0, false,
              static_cast<std::uint32_t>(input.Event.MouseEvent.dwButtonState)};
    case MENU_EVENT:
      return {ConsoleRecordKind::Menu};
    default:
      return {ConsoleRecordKind::Other};
  }
}

// The console's input mode from before the wait, for the control handler,
// which runs on a thread of its own.
HANDLE saved_input = INVALID_HANDLE_VALUE;
DWORD saved_mode = 0;
volatile LONG mode_changed = 0;

void put_mode_back() {
  // With the extended flags included, quick-edit comes back as it was.
  if (::InterlockedExchange(&mode_changed, 0) != 0) {
    ::SetConsoleMode(saved_input, saved_mode | ENABLE_EXTENDED_FLAGS);
  }
}

BOOL WINAPI restore_on_control_event(DWORD) {
  put_mode_back();
  return FALSE;  // let the default handling end the process
}

// Mouse input on, quick-edit selection off, for the life of the object.
class ClickableConsole {
 public:
  explicit ClickableConsole(HANDLE input) {
    DWORD mode = 0;
    if (!::GetConsoleMode(input, &mode)) return;
    saved_input = input;
    saved_mode = mode;
    handler_ = ::SetConsoleCtrlHandler(restore_on_control_event, TRUE) != FALSE;
    DWORD waiting = (mode | ENABLE_MOUSE_INPUT | ENABLE_EXTENDED_FLAGS) & ~ENABLE_QUICK_EDIT_MODE;
    if (::SetConsoleMode(input, waiting)) ::InterlockedExchange(&mode_changed, 1);
  }
  ~ClickableConsole() {
    put_mode_back();
    if (handler_) ::SetConsoleCtrlHandler(restore_on_control_event, FALSE);
  }
  ClickableConsole(const ClickableConsole&) = delete;
  ClickableConsole& operator=(const ClickableConsole&) = delete;

 private:
  bool handler_ = false;
};

class WindowsConsole {
 public:
  WindowsConsole(HANDLE input, const char* prompt) : input_(input), prompt_(prompt) {}

  ConsoleRecord peek() const {
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!::PeekConsoleInputA(input_, &record, 1, &count)) return {ConsoleRecordKind::Failed};
    if (count != 1) return {ConsoleRecordKind::Empty};
    return to_record(record);
  }

  // The wait goes on past this point: make clicks reach it.
  void show_prompt() {
    clickable_.emplace(input_);
    std::printf("%s", prompt_);
    std::fflush(stdout);
  }

  ConsoleRecord read() const {
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!::ReadConsoleInputA(input_, &record, 1, &count) || count != 1) {
      return {ConsoleRecordKind::Failed};
    }
    return to_record(record);
  }

 private:
  HANDLE input_;
  const char* prompt_;
  std::optional<ClickableConsole> clickable_;
};

UINT saved_output_code_page = 0;

void restore_output_code_page() { ::SetConsoleOutputCP(saved_output_code_page); }

}  // namespace

void prepare_console_output() {
  const UINT current = ::GetConsoleOutputCP();  // 0: no console
  if (current == 0 || current == CP_UTF8 || saved_output_code_page != 0) return;
  if (::SetConsoleOutputCP(CP_UTF8)) {
    saved_output_code_page = current;
    std::atexit(restore_output_code_page);
  }
}

void wait_for_key_or_click(int input, const char* prompt) {
  std::fflush(stdout);
  HANDLE handle = input == 0 ? ::GetStdHandle(STD_INPUT_HANDLE)
                             : reinterpret_cast<HANDLE>(::_get_osfhandle(input));
  if (handle == INVALID_HANDLE_VALUE) return;
  WindowsConsole console(handle, prompt);
  wait_on_console(console);
}

}  // namespace tilvex::platform
