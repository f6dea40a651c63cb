// Files that extraction or insertion could not open, read or write, each with
// the system's words for why. The front end reports them; the transfer layer
// itself prints only its messages.
#pragma once

#include <string>
#include <vector>

namespace tilvex {

struct FileProblem {
  std::string name;    // the file as the messages name it
  std::string reason;  // e.g. "Permission denied"
};
using FileProblems = std::vector<FileProblem>;

// Records a problem. One that cannot be recorded for want of memory is
// dropped: its message has already told the user which file failed.
inline void note_problem(FileProblems* problems, const std::string& name,
                         const std::string& reason) noexcept {
  if (problems == nullptr) return;
  try {
    problems->push_back({name, reason});
  } catch (...) {
  }
}

}  // namespace tilvex
