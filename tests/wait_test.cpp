// The wait before exit: how terminal input is classified, that it never
// blocks without a terminal, and on a pseudo-terminal that it shows the
// prompt, ends on a key or a button press but not on a release or movement,
// and always leaves the terminal as it found it.
#include "app/wait.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "test_support.h"

namespace tilvex {
namespace {

using platform::classify_terminal_input;
using platform::TerminalInput;

const std::string kPromptText = "Hit any key or click on the screen to exit.";
const std::string kMouseOn = "\x1b[?1000h\x1b[?1006h";
const std::string kMouseOff = "\x1b[?1000l\x1b[?1006l";

// ---- classification ------------------------------------------------------

struct InputCase {
  const char* name;
  std::string bytes;
  TerminalInput verdict;
};

void PrintTo(const InputCase& c, std::ostream* out) { *out << c.name; }

class ClassifyInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(ClassifyInput, Decides) {
  EXPECT_EQ(classify_terminal_input(GetParam().bytes), GetParam().verdict);
}

std::string legacy(int button, int x, int y) {
  return std::string("\x1b[M") + static_cast<char>(32 + button) + static_cast<char>(32 + x) +
         static_cast<char>(32 + y);
}

using TI = TerminalInput;
INSTANTIATE_TEST_SUITE_P(
    Cases, ClassifyInput,
    ::testing::Values(InputCase{"Nothing", "", TI::Incomplete},
                      InputCase{"Letter", "q", TI::EndsWait},
                      InputCase{"CarriageReturn", "\r", TI::EndsWait},
                      InputCase{"CtrlC", "\x03", TI::EndsWait},
                      InputCase{"EscapeAlone", "\x1b", TI::Incomplete},
                      InputCase{"AltKey", "\x1bx", TI::EndsWait},
                      InputCase{"FunctionKeySs3", "\x1bOP", TI::EndsWait},
                      InputCase{"CsiStart", "\x1b[", TI::Incomplete},
                      InputCase{"ArrowKey", "\x1b[A", TI::EndsWait},
                      InputCase{"SgrStart", "\x1b[<", TI::Incomplete},
                      InputCase{"SgrPartial", "\x1b[<0;12", TI::Incomplete},
                      InputCase{"SgrLeftPress", "\x1b[<0;12;5M", TI::EndsWait},
                      InputCase{"SgrCtrlPress", "\x1b[<16;100;40M", TI::EndsWait},
                      InputCase{"SgrWheel", "\x1b[<64;3;3M", TI::EndsWait},
                      InputCase{"SgrRelease", "\x1b[<0;12;5m", TI::Ignored},
                      InputCase{"SgrMotion", "\x1b[<35;12;5M", TI::Ignored},
                      InputCase{"SgrDrag", "\x1b[<32;12;5M", TI::Ignored},
                      InputCase{"SgrMissingField", "\x1b[<0;5M", TI::EndsWait},
                      InputCase{"SgrEmptyField", "\x1b[<;1;1M", TI::EndsWait},
                      InputCase{"SgrStrayByte", "\x1b[<0;1x", TI::EndsWait},
                      InputCase{"SgrEndless", "\x1b[<" + std::string(40, '1'), TI::EndsWait},
                      InputCase{"LegacyPartial", "\x1b[M ", TI::Incomplete},
                      InputCase{"LegacyPress", legacy(0, 10, 5), TI::EndsWait},
                      InputCase{"LegacyRelease", legacy(3, 10, 5), TI::Ignored},
                      InputCase{"LegacyMotion", legacy(32 + 3, 10, 5), TI::Ignored},
                      InputCase{"LegacyWheel", legacy(64 + 1, 10, 5), TI::EndsWait}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- without a terminal --------------------------------------------------

// A pipe with an Enter already in it is not a console: the prompt is shown and
// the wait ends at once, without touching the input.
TEST(WaitWithoutTerminal, PipeEndsAtOnceAfterPrompt) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "\n", 1), 1);
  ::testing::internal::CaptureStdout();
  wait_for_exit_key_on(fds[0]);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n" + kPromptText + "\n");
  char byte = 0;
  EXPECT_EQ(::read(fds[0], &byte, 1), 1) << "the input is left alone";
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(WaitWithoutTerminal, ClosedInputEndsAtOnceAfterPrompt) {
  ::testing::internal::CaptureStdout();
  wait_for_exit_key_on(-1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n" + kPromptText + "\n");
}

// ---- on a pseudo-terminal ------------------------------------------------

// The tool, run without arguments on a pseudo-terminal, prints its usage and
// waits. The parent plays the user at the other end.
class PtyRun {
 public:
  explicit PtyRun(const std::string& typed_ahead) {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    ::tcgetattr(slave_, &before_);
    if (!typed_ahead.empty()) send(typed_ahead);
    std::fflush(nullptr);
    child_ = ::fork();
    if (child_ == 0) {
      ::setsid();
      ::dup2(slave_, STDIN_FILENO);
      ::dup2(slave_, STDOUT_FILENO);
      ::dup2(slave_, STDERR_FILENO);
      ::close(master_);
      ::close(slave_);
      ::execl(TILVEX_EXE, TILVEX_EXE, static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  ~PtyRun() {
    if (child_ > 0 && !exited_) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }

  bool started() const { return child_ > 0; }

  void send(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads the tool's output until it contains text; false after a generous
  // time limit (the tool is then stuck, which the test reports).
  bool read_until(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (output_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      drain(100);
    }
    return true;
  }

  // Waits for the tool to end; false if it is still running after the limit.
  bool wait_exit(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      drain(0);
      pid_t done = ::waitpid(child_, &status_, WNOHANG);
      if (done == child_) {
        exited_ = true;
        // What the tool wrote just before it ended may reach this end of the
        // terminal a little later.
        drain(200);
        return true;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  struct termios mode_now() const {
    struct termios mode {};
    ::tcgetattr(slave_, &mode);
    return mode;
  }
  const struct termios& mode_before() const { return before_; }
  const std::string& output() const { return output_; }
  int status() const { return status_; }
  pid_t pid() const { return child_; }

 private:
  void drain(int timeout_ms) {
    struct pollfd look = {master_, POLLIN, 0};
    while (::poll(&look, 1, timeout_ms) > 0) {
      char buffer[4096];
      ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got <= 0) return;
      output_.append(buffer, static_cast<std::size_t>(got));
      timeout_ms = 0;
    }
  }

  int master_ = -1;
  int slave_ = -1;
  pid_t child_ = -1;
  bool exited_ = false;
  int status_ = 0;
  struct termios before_ {};
  std::string output_;
};

void expect_same_mode(const struct termios& a, const struct termios& b) {
  EXPECT_EQ(a.c_iflag, b.c_iflag);
  EXPECT_EQ(a.c_oflag, b.c_oflag);
  EXPECT_EQ(a.c_cflag, b.c_cflag);
  EXPECT_EQ(a.c_lflag, b.c_lflag);
  EXPECT_EQ(a.c_cc[VMIN], b.c_cc[VMIN]);
  EXPECT_EQ(a.c_cc[VTIME], b.c_cc[VTIME]);
}

struct PtyCase {
  const char* name;
  std::string typed_ahead;        // already pending when the tool starts
  bool prompt;                    // whether the prompt appears
  std::vector<std::string> idle;  // sent during the wait; must not end it
  std::string ending;             // sent last; must end it (empty: nothing sent)
};

void PrintTo(const PtyCase& c, std::ostream* out) { *out << c.name; }

class WaitOnTerminal : public ::testing::TestWithParam<PtyCase> {};

TEST_P(WaitOnTerminal, EndsOnlyOnKeyOrPressAndRestoresTheTerminal) {
  const PtyCase& c = GetParam();
  PtyRun run(c.typed_ahead);
  ASSERT_TRUE(run.started());
  if (c.prompt) {
    ASSERT_TRUE(run.read_until(kPromptText)) << run.output();
    if (c.typed_ahead.empty()) {
      ASSERT_TRUE(run.read_until(kMouseOn)) << run.output();
      struct termios during = run.mode_now();
      EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw, no-echo input";
    }
    for (const std::string& bytes : c.idle) run.send(bytes);
    if (!c.idle.empty()) {
      EXPECT_FALSE(run.wait_exit(std::chrono::milliseconds(400)))
          << "the wait ended on input that must not end it";
    }
    if (!c.ending.empty()) run.send(c.ending);
  }
  ASSERT_TRUE(run.wait_exit()) << "the wait did not end: " << run.output();
  EXPECT_TRUE(WIFEXITED(run.status()));
  EXPECT_EQ(WEXITSTATUS(run.status()), 1);  // usage only: a failed run
  EXPECT_EQ(run.output().find(kPromptText) != std::string::npos, c.prompt) << run.output();
  if (run.output().find(kMouseOn) != std::string::npos) {
    EXPECT_TRUE(run.read_until(kMouseOff)) << "reporting switched off";
  }
  expect_same_mode(run.mode_now(), run.mode_before());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitOnTerminal,
    ::testing::Values(PtyCase{"PendingEnterEndsSilently", "\r", false, {}, ""},
                      PtyCase{"PendingKeyEndsAfterPrompt", "x", true, {}, ""},
                      PtyCase{"Key", "", true, {}, "x"}, PtyCase{"Enter", "", true, {}, "\r"},
                      PtyCase{"CtrlC", "", true, {}, "\x03"},
                      PtyCase{"EscapeKey", "", true, {}, "\x1b"},
                      PtyCase{"ArrowKey", "", true, {}, "\x1b[B"},
                      PtyCase{"MousePress", "", true, {}, "\x1b[<0;10;5M"},
                      PtyCase{"ReleaseAndMotionThenPress",
                              "",
                              true,
                              {"\x1b[<0;10;5m", "\x1b[<35;11;5M", legacy(3, 10, 5)},
                              "\x1b[<2;10;5M"},
                      PtyCase{"ReleaseThenKey", "", true, {"\x1b[<0;10;5m"}, "q"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WaitOnTerminal, SignalRestoresTheTerminalAndStillEndsTheProcess) {
  PtyRun run("");
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.read_until(kMouseOn)) << run.output();
  ASSERT_EQ(::kill(run.pid(), SIGTERM), 0);
  ASSERT_TRUE(run.wait_exit());
  EXPECT_TRUE(WIFSIGNALED(run.status()));
  if (WIFSIGNALED(run.status())) {
    EXPECT_EQ(WTERMSIG(run.status()), SIGTERM);
  }
  EXPECT_TRUE(run.read_until(kMouseOff)) << "reporting switched off";
  expect_same_mode(run.mode_now(), run.mode_before());
}

}  // namespace
}  // namespace tilvex
