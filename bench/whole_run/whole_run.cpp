// Whole-run benchmark: the tool's extraction and insertion timed as whole
// processes against the floor of copying the cartridge file with cp.
//
// It writes a demo cartridge of 4 MiB + 512 bytes, then runs each case once to
// warm up and N more times (stdin from /dev/null, stdout discarded), and
// prints the median wall time, its ratio to the floor and the peak resident
// memory. The peak is read from /proc/PID/status (VmHWM) while the traced
// child stops at its exit, so it is the tool's own and not inflated by the
// memory of the process that started it.
//
//   tilvex_whole_run BUILD_DIR [RUNS]
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "demo/demo_cartridge.h"

namespace fs = std::filesystem;

namespace {

struct Sample {
  double seconds = 0;
  long peak_kib = 0;
  int status = -1;
};

long peak_of(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

Sample run_once(const std::vector<std::string>& argv, const fs::path& cwd) {
  Sample sample;
  const auto start = std::chrono::steady_clock::now();
  pid_t child = ::fork();
  if (child < 0) return sample;
  if (child == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);  // stopped at exec
  ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT);
  ::ptrace(PTRACE_CONT, child, nullptr, nullptr);
  for (;;) {
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    if (WIFSTOPPED(status) && (status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      sample.peak_kib = peak_of(child);
      ::ptrace(PTRACE_CONT, child, nullptr, nullptr);
      continue;
    }
    // Pass any other signal on.
    ::ptrace(PTRACE_CONT, child, nullptr, WIFSTOPPED(status) ? WSTOPSIG(status) : 0);
  }
  sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sample.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return sample;
}

struct Result {
  std::string name;
  double median = 0;
  long peak_kib = 0;
};

Result measure(const std::string& name, const std::vector<std::string>& argv, const fs::path& cwd,
               int runs, const std::function<void()>& prepare) {
  std::vector<double> times;
  Result result{name, 0, 0};
  for (int i = 0; i <= runs; ++i) {
    if (prepare) prepare();
    Sample sample = run_once(argv, cwd);
    if (sample.status != 0) {
      std::fprintf(stderr, "%s: exit status %d\n", name.c_str(), sample.status);
      std::exit(1);
    }
    if (i == 0) continue;  // warm-up
    times.push_back(sample.seconds);
    result.peak_kib = std::max(result.peak_kib, sample.peak_kib);
  }
  std::sort(times.begin(), times.end());
  result.median = times[times.size() / 2];
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tilvex_whole_run BUILD_DIR [RUNS]\n");
    return 2;
  }
  const fs::path build = fs::absolute(argv[1]);
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  const std::string tool = (build / "tilvex").string();

  char pattern[] = "/tmp/tilvex-whole-run-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path work = pattern;
  const fs::path cartridge = work / "demo.smc";
  if (!tilvex::write_demo_cartridge(cartridge.string(), 4 * 1024 * 1024 + 512, 1)) {
    std::fprintf(stderr, "cannot write the demo cartridge\n");
    return 1;
  }
  const fs::path per_structure = work / "per";
  fs::create_directory(per_structure);
  const std::string combined = (work / "AllGFX.bin").string();
  const std::string target = (work / "target.smc").string();
  const auto fresh_copy = [&] {
    fs::copy_file(cartridge, target, fs::copy_options::overwrite_existing);
  };

  std::vector<Result> results;
  results.push_back(measure("cp (floor)", {"cp", cartridge.string(), (work / "copy.smc").string()},
                            work, runs, nullptr));
  results.push_back(measure("extract, combined file", {tool, "100", cartridge.string(), combined},
                            work, runs, nullptr));
  results.push_back(measure("extract, per-structure files", {tool, "100", cartridge.string()},
                            per_structure, runs, nullptr));
  results.push_back(measure("insert combined at 120200", {tool, "101", "120200", target, combined},
                            work, runs, fresh_copy));

  std::printf("cartridge %ju bytes, median of %d runs after a warm-up\n",
              static_cast<std::uintmax_t>(fs::file_size(cartridge)), runs);
  std::printf("%-30s %10s %8s %13s\n", "run", "median ms", "x floor", "peak RSS MiB");
  const double floor = results.front().median;
  for (const Result& r : results) {
    std::printf("%-30s %10.2f %8.2f %13.2f\n", r.name.c_str(), r.median * 1000, r.median / floor,
                r.peak_kib / 1024.0);
  }
  fs::remove_all(work);
  return 0;
}
