// The wait before exit on a console that delivers input as event records (the
// Windows console): which records end the wait, and the wait itself over any
// source of records. Free of system headers, so the decisions are built and
// tested everywhere; the Windows console supplies the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tilvex::platform {

enum class ConsoleRecordKind : std::uint8_t {
  Key,     // a key went down or up
  Mouse,   // a mouse movement, button change or wheel turn
  Menu,    // a window menu command
  Other,   // focus, buffer size and anything else
  Empty,   // a look at the input found nothing pending
  Failed,  // the look or the read failed (no console: a file, a pipe, a closed handle)
};

struct ConsoleRecord {
  ConsoleRecordKind kind = ConsoleRecordKind::Other;
  char character = 0;         // Key: the character typed, 0 for keys without one
  bool pressed = false;       // Key: true when the key went down
  std::uint32_t buttons = 0;  // Mouse: the button state, 0 when no button is down
};

// A carriage return already pending, pressed or released, ends the wait
// before the prompt; it is left pending.
constexpr bool ends_before_prompt(const ConsoleRecord& first_pending) {
  return first_pending.kind == ConsoleRecordKind::Key && first_pending.character == '\r';
}

// During the wait: any key, pressed or released, a mouse event with a button
// down, or a menu command ends it; so does a failed read, which would only
// fail again. Movements, focus and size changes are read past.
constexpr bool ends_wait(const ConsoleRecord& record) {
  switch (record.kind) {
    case ConsoleRecordKind::Key:
    case ConsoleRecordKind::Menu:
    case ConsoleRecordKind::Failed:
      return true;
    case ConsoleRecordKind::Mouse:
      return record.buttons != 0;
    case ConsoleRecordKind::Other:
    case ConsoleRecordKind::Empty:
      return false;
  }
  return true;
}

// The wait over a console that offers peek() (the first pending record, left
// pending), show_prompt(), and read() (the next record, blocking).
template <class Console>
void wait_on_console(Console& console) {
  if (ends_before_prompt(console.peek())) return;
  console.show_prompt();
  while (!ends_wait(console.read())) {
  }
}

// What the wait does with a given input: whether it shows the prompt, how many
// records it reads, and whether it ends (false: it would still be waiting when
// the records run out).
struct ConsoleWaitOutcome {
  bool prompted = false;
  std::size_t records_read = 0;
  bool ended = false;
};

// Replays wait_on_console over the pending record and the records that reads
// return, in order.
inline ConsoleWaitOutcome replay_console_wait(const ConsoleRecord& pending,
                                              std::span<const ConsoleRecord> reads) {
  struct Replay {
    const ConsoleRecord& pending;
    std::span<const ConsoleRecord> reads;
    ConsoleWaitOutcome outcome;
    bool exhausted = false;
    ConsoleRecord peek() const { return pending; }
    void show_prompt() { outcome.prompted = true; }
    ConsoleRecord read() {
      // Out of records, a real read would block: stop the replay there.
      if (outcome.records_read == reads.size()) {
        exhausted = true;
        return {ConsoleRecordKind::Failed};
      }
      return reads[outcome.records_read++];
    }
  } replay{pending, reads, {}, false};
  wait_on_console(replay);
  replay.outcome.ended = !replay.exhausted;
  return replay.outcome;
}

}  // namespace tilvex::platform
