// The wait before the program ends, so that a console window opened just for
// this run stays readable. On a terminal the input is switched into raw,
// no-echo mode and the terminal is asked to report mouse buttons; any key or a
// button press ends the wait, while button releases and movement are read and
// dropped. The terminal is always put back as it was: on every return path,
// and also when SIGINT, SIGTERM or SIGHUP arrives during the wait (the signal
// is then raised again with its previous disposition). When the input is not
// a terminal there is nothing to wait on, so the wait ends at once.
#include "platform/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

namespace tilvex::platform {

namespace {

// xterm mouse button reporting (1000) in the SGR encoding (1006).
constexpr char kMouseOn[] = "\x1b[?1000h\x1b[?1006h";
constexpr char kMouseOff[] = "\x1b[?1000l\x1b[?1006l";
// The bytes of one escape sequence arrive together; a pause this long after
// an ESC means the Esc key itself (or an unknown sequence) was pressed.
constexpr int kSequenceGapMs = 100;
// What a signal handler needs to put the terminal back. Written only while the
// three signals are blocked, read by the handler.
constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t terminal_changed = 0;
volatile std::sig_atomic_t terminal_fd = -1;
volatile std::sig_atomic_t mouse_fd = -1;  // where the reporting was switched on; -1 when it is off
struct termios saved_mode;
std::array<struct sigaction, kSignals.size()> previous_actions;
std::array<bool, kSignals.size()> handler_installed{};

void write_all(int fd, const char* text, std::size_t length) {
  while (length > 0) {
    ssize_t done = ::write(fd, text, length);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    text += done;
    length -= static_cast<std::size_t>(done);
  }
}

// Async-signal-safe: only write and tcsetattr.
void put_terminal_back() {
  if (mouse_fd >= 0) write_all(mouse_fd, kMouseOff, sizeof kMouseOff - 1);
  mouse_fd = -1;
  ::tcsetattr(terminal_fd, TCSANOW, &saved_mode);
  terminal_changed = 0;
}

extern "C" void restore_and_reraise(int signal_number) {
  int saved_errno = errno;
  if (terminal_changed) put_terminal_back();
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    if (kSignals[i] == signal_number && handler_installed[i]) {
      ::sigaction(signal_number, &previous_actions[i], nullptr);
      handler_installed[i] = false;
    }
  }
  // Blocked while this handler runs; delivered with the previous disposition
  // as soon as it returns.
  ::raise(signal_number);
  errno = saved_errno;
}

sigset_t the_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kSignals) sigaddset(&set, signal_number);
  return set;
}

// Raw, no-echo input for the length of the wait. Output processing stays on so
// that the prompt's line feeds still return the carriage.
class RawTerminal {
 public:
  explicit RawTerminal(int fd) {
    struct termios mode;
    if (::tcgetattr(fd, &mode) != 0) return;
    sigset_t block = the_signals();
    sigset_t old_mask;
    ::sigprocmask(SIG_BLOCK, &block, &old_mask);
    terminal_fd = fd;
    saved_mode = mode;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      struct sigaction action {};
      action.sa_handler = restore_and_reraise;
      sigemptyset(&action.sa_mask);
      action.sa_flags = 0;  // no restart: the wait must notice the signal
      handler_installed[i] = false;
      if (::sigaction(kSignals[i], nullptr, &previous_actions[i]) == 0 &&
          previous_actions[i].sa_handler != SIG_IGN &&
          ::sigaction(kSignals[i], &action, nullptr) == 0) {
        handler_installed[i] = true;
      }
    }
    mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | ISIG | IEXTEN));
    mode.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR));
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &mode) == 0) {
      terminal_changed = 1;
      active_ = true;
    }
    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    if (!active_) uninstall();
  }

  ~RawTerminal() {
    if (!active_) return;
    sigset_t block = the_signals();
    sigset_t old_mask;
    ::sigprocmask(SIG_BLOCK, &block, &old_mask);
    if (terminal_changed) put_terminal_back();
    uninstall();
    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  }

  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  bool active() const { return active_; }

  // True once a signal handler has already put the terminal back.
  static bool interrupted() { return terminal_changed == 0; }

  void mouse_reporting_on() {
    if (!::isatty(STDOUT_FILENO)) return;  // never write escapes into a file
    // Recorded first, so that a signal arriving during the write still
    // switches the reporting off again.
    mouse_fd = STDOUT_FILENO;
    write_all(STDOUT_FILENO, kMouseOn, sizeof kMouseOn - 1);
  }

 private:
  static void uninstall() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      if (handler_installed[i]) ::sigaction(kSignals[i], &previous_actions[i], nullptr);
      handler_installed[i] = false;
    }
  }

  bool active_ = false;
};

void show_prompt(const char* prompt) {
  std::fputs(prompt, stdout);
  std::fflush(stdout);
}

}  // namespace

void wait_for_key_or_click(int input_fd, const char* prompt) {
  if (!::isatty(input_fd)) {
    // A pipe, a file or a closed input: nothing can be waited for.
    show_prompt(prompt);
    return;
  }
  RawTerminal terminal(input_fd);
  if (!terminal.active()) {
    show_prompt(prompt);
    return;
  }

  std::string received;
  struct pollfd look = {input_fd, POLLIN, 0};
  if (::poll(&look, 1, 0) > 0) {
    char first = 0;
    ssize_t got = ::read(input_fd, &first, 1);
    if (got == 1 && (first == '\r' || first == '\n')) return;  // Enter already typed
    if (got != 1) {
      show_prompt(prompt);
      return;
    }
    received.push_back(first);
  }

  show_prompt(prompt);
  terminal.mouse_reporting_on();
  for (;;) {
    TerminalInput verdict = classify_terminal_input(received);
    if (verdict == TerminalInput::EndsWait) break;
    if (verdict == TerminalInput::Ignored) received.clear();
    if (RawTerminal::interrupted()) return;

    look = {input_fd, POLLIN, 0};
    int ready = ::poll(&look, 1, received.empty() ? -1 : kSequenceGapMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) break;  // an ESC not followed by a sequence: the Esc key
    char next = 0;
    ssize_t got = ::read(input_fd, &next, 1);
    if (got == 1) {
      received.push_back(next);
    } else if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    } else {
      break;  // end of input or a hang-up: nothing more will come
    }
  }
  // Drop the rest of the key's sequence so it does not reach the shell.
  ::tcflush(input_fd, TCIFLUSH);
}

void prepare_console_output() {}

}  // namespace tilvex::platform
