// The tool as a process under faults, races and hostile input: a file size
// limit, files swapped under the cartridge's name, a second insertion at the
// same time, directories closed to new files, kills at random moments, and
// starts the pointer table cannot reach. Each ends with the user's files old
// or new, never a mix, and the system's reason on the error stream.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "demo/demo_cartridge.h"
#include "platform/files.h"
#include "transfer/catalogue.h"
#include "transfer_support.h"

namespace tilvex {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_process;
using testing::TempDir;
using testing::write_file;

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::vector<std::string> entries(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The demo structures with a few of them changed, so that an insertion of it
// changes the demo cartridge.
Bytes edited_combined_file() {
  Bytes combined = testing::demo_combined_file();
  std::mt19937 generator(11);
  for (std::uint32_t index : {0x000u, 0x015u, 0x11Eu}) {
    Bytes part(structure_sizes[index]);
    for (std::uint8_t& byte : part) byte = static_cast<std::uint8_t>(generator());
    testing::set_combined_part(combined, index, part);
  }
  return combined;
}

// A file size limit makes every program's write fail with its message,
// never kills it; the combined file the user had stays as it was (or stays
// absent), and a device is written directly.
TEST(Hardening, FileSizeLimitIsAnOrdinaryWriteFailure) {
  struct Case {
    const char* what;
    std::string program;
    std::vector<std::string> args;
    bool old_output;      // all.bin exists beforehand
    std::uint64_t limit;  // bytes; 0: none
    int status;
    std::string output;              // expected in the output
    std::vector<std::string> after;  // the directory afterwards; empty: not checked
  };
  const std::string failed =
      "Couldn't write file all.bin!\ntilvex: all.bin: File too large\nFailed!\n";
  const Case cases[] = {
      {"old combined file",
       TILVEX_EXE,
       {"100", "c.smc", "all.bin"},
       true,
       0x100000,
       1,
       failed,
       {"all.bin", "c.smc", "in.bin"}},
      {"no combined file",
       TILVEX_EXE,
       {"100", "c.smc", "all.bin"},
       false,
       0x100000,
       1,
       failed,
       {"c.smc", "in.bin"}},
      {"device", TILVEX_EXE, {"100", "c.smc", "/dev/null"}, false, 0x100000, 0, "Done!\n", {}},
      {"codec",
       TILVEX_CODEC_EXE,
       {"compress", "--format", "1", "in.bin", "out.bin"},
       false,
       0x1000,
       1,
       "File too large",
       {"c.smc", "in.bin"}},
      {"demo", TILVEX_DEMO_EXE, {"big.smc"}, false, 0x100000, 1, "File too large", {}},
  };
  const Bytes old = {1, 2, 3};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir.file("c.smc"), testing::demo_cartridge());
    Bytes input(0x4000);
    std::mt19937 generator(5);
    for (std::uint8_t& byte : input) byte = static_cast<std::uint8_t>(generator());
    write_file(dir.file("in.bin"), input);
    if (c.old_output) write_file(dir.file("all.bin"), old);
    testing::Restrictions limits;
    limits.file_size_limit = c.limit;
    const testing::ProcessResult run = run_process(c.program, c.args, dir.path(), limits);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_status, c.status) << run.output;
    EXPECT_TRUE(contains(run.output, c.output)) << run.output;
    if (!c.after.empty()) {
      EXPECT_EQ(entries(dir.path()), c.after);
    }
    if (c.old_output) {
      EXPECT_EQ(read_file(dir.file("all.bin")), old);
    }
  }
}

// Failures that the system can explain: its reason follows the message, on
// the error stream, as "tilvex: NAME: REASON". A second insertion is refused
// while another holds the cartridge (extraction is not), and a graphics file
// closed to writing is not replaced.
TEST(Hardening, RefusalsGiveTheSystemsReason) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool locked;     // another process holds the insertion lock
    bool as_nobody;  // run as a plain user, so that file modes count
    int status;
    std::string output;
  };
  const Case cases[] = {
      {"insertion while locked",
       {"1", "120200", "c.smc", "g.bin"},
       true,
       false,
       1,
       "Unable to open the ROM: c.smc\ntilvex: c.smc: locked by another process\n"},
      {"extraction while locked", {"0", "c.smc", "out.bin"}, true, false, 0, "Done!\n"},
      {"missing graphics file",
       {"1", "120200", "c.smc", "missing.bin"},
       false,
       false,
       1,
       "Couldn't open file missing.bin!\ntilvex: missing.bin: No such file or directory\n"
       "Failed!  No changes made to ROM.\n"},
      {"missing directory",
       {"0", "c.smc", "missing/g.bin"},
       false,
       false,
       1,
       "Couldn't open file missing/g.bin!\ntilvex: missing/g.bin: No such file or directory\n"
       "Failed!\n"},
      {"read-only graphics file",
       {"0", "c.smc", "g.bin"},
       false,
       true,
       1,
       "Couldn't open file g.bin!\ntilvex: g.bin: Permission denied\nFailed!\n"},
  };
  TempDir dir;
  const Bytes& cartridge = testing::demo_cartridge();
  write_file(dir.file("c.smc"), cartridge);
  write_file(dir.file("g.bin"), {7, 7, 7});
  fs::permissions(dir.file("g.bin"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir.path(), fs::perms::all);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::OpenFile holder;
    if (c.locked) {
      ASSERT_TRUE(platform::open_existing_file(dir.file("c.smc").c_str(),
                                               platform::FileAccess::ReadOnly, &holder, nullptr));
      ASSERT_TRUE(platform::lock_file(holder, nullptr));
    }
    testing::Restrictions restrictions;
    restrictions.as_nobody = c.as_nobody;
    const testing::ProcessResult run = run_process(TILVEX_EXE, c.args, dir.path(), restrictions);
    EXPECT_EQ(run.exit_status, c.status) << run.output;
    EXPECT_TRUE(contains(run.output, c.output)) << run.output;
    EXPECT_EQ(read_file(dir.file("c.smc")), cartridge);
    EXPECT_EQ(read_file(dir.file("g.bin")), Bytes({7, 7, 7}));
  }
}

// Per-structure extraction into a directory closed to new files: every
// structure is skipped with its reason, Done! as always, but the run fails.
TEST(Hardening, PerStructureExtractionThatWritesNothingFails) {
  TempDir dir;
  write_file(dir.file("c.smc"), testing::demo_cartridge());
  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  testing::Restrictions nobody;
  nobody.as_nobody = true;
  const testing::ProcessResult run = run_process(TILVEX_EXE, {"100", "../c.smc"}, out, nobody);
  EXPECT_EQ(run.exit_status, 1);
  std::string skipped;
  std::string reasons;
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    const std::string name = "GFX" + testing::hex(i, 3) + ".bin";
    skipped += "Couldn't open file " + name + ", skipping...\n";
    reasons += "tilvex: " + name + ": Permission denied\n";
  }
  EXPECT_TRUE(contains(run.output, "Decompressing...\n" + skipped + reasons + "Done!\n"))
      << run.output;
  EXPECT_TRUE(contains(run.output, "Hit any key")) << "a failure waits";
  EXPECT_TRUE(entries(out).empty());
}

// Pointers lead only to offsets below 0x400200: an insertion from 0x500200
// into an 8 MiB cartridge is refused and the cartridge stays as it was.
TEST(Hardening, InsertionBeyondThePointersReachIsRefused) {
  TempDir dir;
  constexpr std::uint32_t kSize = 0x800200;
  const Bytes& cartridge = testing::demo_cartridge(kSize);
  write_file(dir.file("c8.smc"), cartridge);
  write_file(dir.file("g.bin"), testing::demo_combined_file());
  const testing::ProcessResult run =
      run_process(TILVEX_EXE, {"101", "500200", "c8.smc", "g.bin"}, dir.path());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(contains(run.output,
                       "Recompressing...\nNot enough room left in ROM for structure 0x000!\n"
                       "Failed!  No changes made to ROM.\n"))
      << run.output;
  EXPECT_TRUE(read_file(dir.file("c8.smc")) == cartridge);
}

// Identification and loading read one open file: while another file (not
// the game, other graphics) is swapped in and out under the cartridge's
// name, whatever a run identifies is what it extracts.
TEST(Hardening, ExtractionLoadsTheFileItIdentified) {
  TempDir dir;
  const Bytes& game = testing::demo_cartridge();
  Bytes other = build_demo_cartridge(kMinimumCartridgeSize, testing::kDemoSeed + 1);
  ASSERT_FALSE(other.empty());
  other[kTitleOffset] ^= 0xFF;
  write_file(dir.file("c.smc"), game);
  write_file(dir.file("other.smc"), other);
  const Bytes expected = testing::demo_combined_file();

  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    std::error_code error;
    const fs::path name = dir.path() / "c.smc";
    const fs::path aside = dir.path() / "other.smc";
    const fs::path spare = dir.path() / "swap.smc";
    while (!stop) {
      fs::rename(name, spare, error);
      fs::rename(aside, name, error);
      fs::rename(spare, aside, error);
    }
  });
  int extracted = 0;
  const auto until = Clock::now() + std::chrono::seconds(kSanitized ? 20 : 10);
  for (int run_count = 0; run_count < 40 && Clock::now() < until; ++run_count) {
    const testing::ProcessResult run =
        run_process(TILVEX_EXE, {"100", "c.smc", "out.bin"}, dir.path());
    if (run.exit_status != 0) continue;
    ++extracted;
    const bool same = read_file(dir.file("out.bin")) == expected;
    fs::remove(dir.path() / "out.bin");
    if (!same) {
      ADD_FAILURE() << "run " << run_count << " extracted another file than it identified";
      break;
    }
  }
  stop = true;
  swapper.join();
  EXPECT_GT(extracted, 0);
}

// Starts tilvex with its output thrown away; returns its process id.
pid_t start_quietly(const std::vector<std::string>& args, const std::string& cwd) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(null_fd, STDOUT_FILENO);
    ::dup2(null_fd, STDERR_FILENO);
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    std::vector<char*> argv{const_cast<char*>(TILVEX_EXE)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TILVEX_EXE, argv.data());
    ::_exit(127);
  }
  return child;
}

// SIGKILL at random moments of an insertion, a few hundred times: the
// cartridge is always byte for byte the old or the new one, and nothing is
// ever left beside it but, rarely, the whole new one under its temporary
// name.
TEST(Hardening, KilledInsertionLeavesOldOrNewAndNothingElse) {
  TempDir dir;
  const Bytes& old = testing::demo_cartridge();
  write_file(dir.file("g.bin"), edited_combined_file());
  write_file(dir.file("c.smc"), old);
  const std::vector<std::string> args = {"101", "120200", "c.smc", "g.bin"};

  const auto started = Clock::now();
  const testing::ProcessResult whole = run_process(TILVEX_EXE, args, dir.path());
  const auto full_run = Clock::now() - started;
  ASSERT_EQ(whole.exit_status, 0) << whole.output;
  const Bytes fresh = read_file(dir.file("c.smc"));
  ASSERT_FALSE(fresh == old);

  const std::vector<std::string> only = {"c.smc", "g.bin"};
  const int rounds = kSanitized ? 60 : 300;
  const auto until = Clock::now() + std::chrono::seconds(kSanitized ? 90 : 45);
  const auto longest = std::chrono::duration_cast<std::chrono::microseconds>(full_run) * 6 / 5;
  std::mt19937 generator(3);
  int killed = 0;
  for (int round = 0; round < rounds && Clock::now() < until; ++round) {
    write_file(dir.file("c.smc"), old);
    const pid_t child = start_quietly(args, dir.path().string());
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(generator() % (longest.count() + 1)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    killed += WIFSIGNALED(status) ? 1 : 0;
    const Bytes now = read_file(dir.file("c.smc"));
    ASSERT_TRUE(now == old || now == fresh) << "round " << round;
    // A kill in the instant between giving the new file its name and
    // renaming it over the cartridge leaves that name behind, holding the
    // whole new cartridge; anything else left beside it is a fault.
    std::vector<std::string> names = entries(dir.path());
    for (auto name = names.begin(); name != names.end();) {
      if (name->rfind(".tilvex-", 0) == 0 && read_file(dir.file(*name)) == fresh) {
        fs::remove(dir.file(*name));
        name = names.erase(name);
      } else {
        ++name;
      }
    }
    ASSERT_EQ(names, only) << "round " << round;
  }
  EXPECT_GT(killed, 0);
}

}  // namespace
}  // namespace tilvex
