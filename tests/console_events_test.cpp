// The wait before exit on an event-record console: which pending record ends
// it silently, and which records read during the wait end it or are read past.
#include "platform/console_events.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tilvex::platform {
namespace {

using K = ConsoleRecordKind;
constexpr ConsoleRecord key(char c, bool pressed = true) { return {K::Key, c, pressed, 0}; }
constexpr ConsoleRecord mouse(std::uint32_t buttons) { return {K::Mouse, 0, false, buttons}; }
constexpr ConsoleRecord kMenu{K::Menu};
constexpr ConsoleRecord kFocus{K::Other};
constexpr ConsoleRecord kEmpty{K::Empty};
constexpr ConsoleRecord kFailed{K::Failed};

struct WaitCase {
  const char* name;
  ConsoleRecord pending;
  std::vector<ConsoleRecord> reads;
  bool prompted;
  std::size_t records_read;
  bool ended;
};

void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class ConsoleWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(ConsoleWait, EndsOnKeyClickMenuOrFailure) {
  const WaitCase& c = GetParam();
  ConsoleWaitOutcome outcome = replay_console_wait(c.pending, c.reads);
  EXPECT_EQ(outcome.prompted, c.prompted);
  EXPECT_EQ(outcome.records_read, c.records_read);
  EXPECT_EQ(outcome.ended, c.ended);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleWait,
    ::testing::Values(
        // A carriage return already pending, pressed or released: no prompt, nothing read.
        WaitCase{"PendingEnterPressed", key('\r'), {key('x')}, false, 0, true},
        WaitCase{"PendingEnterReleased", key('\r', false), {key('x')}, false, 0, true},
        // Anything else pending is waited past with the prompt, and read like the rest.
        WaitCase{"PendingLineFeedIsAKey", key('\n'), {key('\n')}, true, 1, true},
        WaitCase{"PendingKey", key('q'), {key('q')}, true, 1, true},
        WaitCase{"NothingPendingThenRelease", kEmpty, {key('a', false)}, true, 1, true},
        WaitCase{"KeyWithoutCharacter", kEmpty, {key(0)}, true, 1, true},
        WaitCase{"MovesAndFocusThenClick",
                 mouse(0),
                 {mouse(0), kFocus, mouse(0), mouse(2)},
                 true,
                 4,
                 true},
        WaitCase{"MenuCommand", kFocus, {kFocus, kMenu}, true, 2, true},
        WaitCase{"MovesAloneKeepWaiting", kEmpty, {mouse(0), kFocus, kEmpty}, true, 3, false},
        // Standard input a file or a pipe: the look and the read fail.
        WaitCase{"NoConsole", kFailed, {kFailed, key('x')}, true, 1, true},
        WaitCase{"ReadFailsDuringWait", kEmpty, {mouse(0), kFailed}, true, 2, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tilvex::platform
