// Helpers shared by the tests: temporary directories, whole-file reads and
// writes, running the tool as a process, and a generated cartridge image that
// identification accepts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "rom/header.h"

namespace tilvex::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The full name of a file in it; names are UTF-8 text on every system.
  std::string file(const std::string& name) const {
    const std::u8string full = (path_ / std::u8string(name.begin(), name.end())).u8string();
    return std::string(full.begin(), full.end());
  }

 private:
  std::filesystem::path path_;
};

std::vector<std::uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

struct ProcessResult {
  int exit_status = -1;    // exit code, or -1 when the process did not exit normally
  int signal = 0;          // the signal that killed it, if one did
  std::string output;      // standard output and standard error, interleaved, with "\n" line ends
  std::string raw_output;  // the same as written (on Windows the C library ends lines with CR LF)
};

// Limits applied in the child before it starts the program.
struct Restrictions {
  std::uint64_t file_size_limit = 0;  // RLIMIT_FSIZE in bytes; 0: none
  bool as_nobody = false;             // drop to user and group 65534 when running as root
  unsigned seconds = 0;               // killed by SIGALRM after this long; 0: no limit
};

// Runs program with args in directory cwd, standard input from the null
// device. Restrictions are not available on Windows (tests that need them skip
// there).
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& cwd = ".",
                          const Restrictions& restrictions = {});

// A cartridge image of the given size that passes identification: the title,
// country 1 and the version byte in place, everything else filled with a
// repeating pattern so that stray reads and writes show.
std::vector<std::uint8_t> make_cartridge(std::uint32_t size = kMinimumCartridgeSize,
                                         std::uint8_t version = 0);

// Everything the function writes to the stream it is given: a temporary
// file stands in for standard output.
std::string captured_from(void (*call)(void*, std::FILE*), void* context);
template <typename Function>
std::string captured(Function&& function) {
  return captured_from([](void* f, std::FILE* out) { (*static_cast<Function*>(f))(out); },
                       &function);
}

// The text without the lines that give the system's reasons ("tilvex: ..."),
// whose wording differs between systems; on POSIX systems the text as it is.
inline std::string portable_reasons(const std::string& text) {
#ifdef _WIN32
  std::string kept;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text.compare(start, 8, "tilvex: ") != 0) kept.append(text, start, end - start);
    start = end;
  }
  return kept;
#else
  return text;
#endif
}

}  // namespace tilvex::testing
