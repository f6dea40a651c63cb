// The wait before exit against a real Windows console: input records are
// written into this process's own console input, the wait runs, and what it
// printed, what it left pending and the console mode afterwards are checked.
// Needs a console on standard input (cmake/in-console.sh gives it one).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"

namespace tilvex::platform {
namespace {

const std::string kPrompt = "\nHit any key or click on the screen to exit.\n";

INPUT_RECORD key(char c, bool down = true) {
  INPUT_RECORD r{};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.uChar.AsciiChar = c;
  return r;
}

INPUT_RECORD mouse(DWORD buttons) {
  INPUT_RECORD r{};
  r.EventType = MOUSE_EVENT;
  r.Event.MouseEvent.dwButtonState = buttons;
  r.Event.MouseEvent.dwEventFlags = buttons == 0 ? MOUSE_MOVED : 0;
  return r;
}

INPUT_RECORD other(WORD type) {
  INPUT_RECORD r{};
  r.EventType = type;
  return r;
}

class RealConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = ::GetStdHandle(STD_INPUT_HANDLE);
    if (!::GetConsoleMode(input_, &mode_)) GTEST_SKIP() << "standard input is not a console";
    ::FlushConsoleInputBuffer(input_);
  }
  void TearDown() override {
    if (mode_ != 0) ::SetConsoleMode(input_, mode_ | ENABLE_EXTENDED_FLAGS);
  }

  void put(const std::vector<INPUT_RECORD>& records) {
    if (records.empty()) return;
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteConsoleInputA(input_, records.data(), static_cast<DWORD>(records.size()), &written));
    ASSERT_EQ(written, records.size());
  }

  DWORD pending() const {
    DWORD count = 0;
    ::GetNumberOfConsoleInputEvents(input_, &count);
    return count;
  }

  std::string wait_and_capture() {
    ::testing::internal::CaptureStdout();
    wait_for_key_or_click(0, kPrompt.c_str());
    return ::testing::internal::GetCapturedStdout();
  }

  HANDLE input_ = INVALID_HANDLE_VALUE;
  DWORD mode_ = 0;
};

struct ConsoleCase {
  const char* name;
  std::vector<INPUT_RECORD> input;
  bool prompt;
  DWORD left_pending;
};

void PrintTo(const ConsoleCase& c, std::ostream* out) { *out << c.name; }

class RealConsoleWait : public RealConsole, public ::testing::WithParamInterface<ConsoleCase> {};

TEST_P(RealConsoleWait, ReadsUpToTheRecordThatEndsIt) {
  const ConsoleCase& c = GetParam();
  put(c.input);
  EXPECT_EQ(wait_and_capture(), c.prompt ? kPrompt : "");
  EXPECT_EQ(pending(), c.left_pending);
  if (!c.prompt) {
    INPUT_RECORD first{};
    DWORD count = 0;
    ASSERT_TRUE(::PeekConsoleInputA(input_, &first, 1, &count));
    EXPECT_EQ(first.Event.KeyEvent.uChar.AsciiChar, '\r') << "the carriage return stays pending";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RealConsoleWait,
    ::testing::Values(ConsoleCase{"PendingEnter", {key('\r'), key('x')}, false, 2},
                      ConsoleCase{"PendingEnterReleased", {key('\r', false)}, false, 1},
                      ConsoleCase{"Key", {key('x')}, true, 0},
                      ConsoleCase{"MovesAndFocusThenClick",
                                  {mouse(0), other(FOCUS_EVENT), other(WINDOW_BUFFER_SIZE_EVENT),
                                   mouse(0), mouse(FROM_LEFT_1ST_BUTTON_PRESSED), mouse(0)},
                                  true,
                                  1},
                      ConsoleCase{
                          "Menu", {other(FOCUS_EVENT), other(MENU_EVENT), key('y')}, true, 1},
                      ConsoleCase{"KeyRelease", {mouse(0), key('a', false), key('b')}, true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// During the wait clicks reach the program (mouse input on, quick-edit off);
// afterwards the console's mode is what it was.
TEST_F(RealConsole, ClicksReachTheWaitAndTheModeComesBack) {
  const DWORD before = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                       ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS;
  ASSERT_TRUE(::SetConsoleMode(input_, before));
  DWORD start_mode = 0;
  ASSERT_TRUE(::GetConsoleMode(input_, &start_mode));

  std::atomic<DWORD> during{0};
  std::thread clicker([&] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    DWORD mode = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (::GetConsoleMode(input_, &mode) && (mode & ENABLE_MOUSE_INPUT) != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    during = mode;
    INPUT_RECORD click = mouse(RIGHTMOST_BUTTON_PRESSED);
    DWORD written = 0;
    ::WriteConsoleInputA(input_, &click, 1, &written);
  });
  std::string printed = wait_and_capture();
  clicker.join();

  EXPECT_EQ(printed, kPrompt);
  EXPECT_NE(during & ENABLE_MOUSE_INPUT, 0u);
  EXPECT_EQ(during & ENABLE_QUICK_EDIT_MODE, 0u);
  DWORD after = 0;
  ASSERT_TRUE(::GetConsoleMode(input_, &after));
  EXPECT_EQ(after, start_mode);
}

}  // namespace
}  // namespace tilvex::platform
