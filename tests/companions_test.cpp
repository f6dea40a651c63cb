// tilvex-codec and tilvex-demo as a user runs them from a shell: exit
// statuses and the standard streams, outputs that are links, FIFOs, devices,
// pipes or the input itself, and streams cut short.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/version.h"
#include "demo/demo_cartridge.h"
#include "sample_data.h"
#include "test_support.h"

namespace tilvex {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

struct ShellRun {
  int status = -1;
  std::string out, err;
};

std::string text_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs script with /bin/sh in dir, $CODEC and $DEMO naming the programs; its
// standard output and standard error are kept apart.
ShellRun shell(const TempDir& dir, const std::string& script) {
  const std::string line = "CODEC='" TILVEX_CODEC_EXE "'; DEMO='" TILVEX_DEMO_EXE "'; { " + script +
                           "\n} >.stdout 2>.stderr";
  const auto run = testing::run_process("/bin/sh", {"-c", line}, dir.path().string());
  return {run.exit_status, text_of(dir.path() / ".stdout"), text_of(dir.path() / ".stderr")};
}

TEST(Companions, FollowTheUsualConventions) {
  TempDir dir;
  write_file(dir.file("in.bin"), Bytes(0x40, 7));
  const std::string version = std::string(" (tilvex) ") + kProjectVersion + "\n";
  struct Case {
    std::string script;
    int status;
    std::string out;  // the start of standard output
    std::string err;  // part of standard error, or "" when it must stay empty
  };
  const Case cases[] = {
      {"$CODEC --help", 0, "usage: tilvex-codec compress", ""},
      {"$CODEC --version", 0, "tilvex-codec" + version, ""},
      {"$DEMO --help", 0, "usage: tilvex-demo", ""},
      {"$DEMO -V", 0, "tilvex-demo" + version, ""},
      {"$CODEC compress --format 7 in.bin o", 2, "", "unknown format '7'"},
      {"$CODEC compress --format 15 --rows 0 in.bin o", 2, "", "--rows 0x0 is out of range"},
      {"$CODEC decompress --format 1 --offset 100000200 in.bin o", 2, "", "--offset '100000200'"},
      {"$CODEC decompress --format 1 --offset 1g in.bin o", 2, "", "--offset '1g'"},
      {"$CODEC decompress --format 1 --offset -1 in.bin o", 2, "", "--offset '-1'"},
      {"$CODEC compress --format 1 missing.bin o", 1, "", "cannot read missing.bin"},
      {"$CODEC compress --format 1 -q in.bin q.bin", 0, "", ""},
      {"$DEMO", 2, "", "missing OUTPUT"},
      {"$DEMO --seed 12x o", 2, "", "--seed '12x'"},
      {"$DEMO --size 0x200000 o", 2, "", "--size 0x200000 is not one"},
      {"$DEMO -q d.smc", 0, "", ""},
      {"$DEMO --seed 2 d.smc", 1, "", "d.smc exists; use -f to replace it"},
      {"$DEMO -f --seed 0x2 d.smc", 0, "Demo cartridge d.smc written: 0x200200 bytes, seed 0x2.",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const ShellRun run = shell(dir, c.script);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
    if (c.out.empty()) {
      EXPECT_EQ(run.out, "");
    }
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
  }
  EXPECT_FALSE(fs::exists(dir.path() / "o"));
  EXPECT_TRUE(read_file(dir.file("d.smc")) == build_demo_cartridge(0x200200, 2));
}

// Whatever OUTPUT is, it gets the stream and stays what it was.
TEST(Companions, WriteOutputsOfEveryKind) {
  TempDir dir;
  testing::SampleRng rng(11);
  const Bytes plain = testing::tile_graphics(rng, 0x1000);
  write_file(dir.file("plain.bin"), plain);
  ASSERT_EQ(shell(dir, "$CODEC compress --format 1 plain.bin ref.bin").status, 0);
  const Bytes stream = read_file(dir.file("ref.bin"));
  const auto is = [&](const char* name, fs::file_type type) {
    return fs::symlink_status(dir.path() / name).type() == type;
  };
  struct Case {
    std::string name;
    std::function<bool()> prepare;  // false: the case cannot run here
    std::string script;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"SymbolicLink",
       [&] {
         write_file(dir.file("target.bin"), {1, 2, 3});
         fs::create_symlink("target.bin", dir.path() / "link.bin");
         return true;
       },
       "$CODEC compress --format 1 plain.bin link.bin",
       [&] {
         EXPECT_TRUE(is("link.bin", fs::file_type::symlink));
         EXPECT_EQ(read_file(dir.file("target.bin")), stream);
       }},
      {"Fifo", [&] { return ::mkfifo(dir.file("fifo").c_str(), 0600) == 0; },
       "timeout 20 cat fifo >got.bin & $CODEC compress --format 1 plain.bin fifo; s=$?; wait; exit "
       "$s",
       [&] {
         EXPECT_TRUE(is("fifo", fs::file_type::fifo));
         EXPECT_EQ(read_file(dir.file("got.bin")), stream);
       }},
      {"Device",  // a node of its own for the null device, so nothing shared is at risk
       [&] { return ::mknod(dir.file("null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; },
       "$CODEC compress --format 1 plain.bin null",
       [&] { EXPECT_TRUE(is("null", fs::file_type::character)); }},
      {"SameFile",
       [&] {
         write_file(dir.file("same.bin"), plain);
         return true;
       },
       "$CODEC compress --format 1 same.bin same.bin",
       [&] { EXPECT_EQ(read_file(dir.file("same.bin")), stream); }},
      {"PipesBothWays", [] { return true; },
       "$CODEC compress --format 1 - - <plain.bin >piped.bin && "
       "cat piped.bin | $CODEC decompress --format 1 - - >back.bin",
       [&] {
         EXPECT_EQ(read_file(dir.file("piped.bin")), stream);
         EXPECT_EQ(read_file(dir.file("back.bin")), plain);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.prepare()) continue;  // mknod needs root
    const ShellRun run = shell(dir, c.script);
    EXPECT_EQ(run.status, 0) << run.err;
    c.check();
  }
  // With OUTPUT on standard output the report moves to standard error.
  const ShellRun piped = shell(dir, "$CODEC compress --format 1 - - <plain.bin >/dev/null");
  EXPECT_EQ(piped.err.find("input 0x1000 bytes, output "), 0u) << piped.err;
}

// A stream that runs past the end of its input is refused and nothing is written.
TEST(Companions, RefuseStreamsCutShort) {
  TempDir dir;
  testing::SampleRng rng(12);
  write_file(dir.file("plain.bin"), testing::tile_graphics(rng, 0x2000));
  ASSERT_EQ(shell(dir,
                  "$CODEC compress --format 1 plain.bin f1.bin && "
                  "head -c 300 f1.bin >cut.bin && "
                  "$CODEC compress --format 15 plain.bin f15.bin")
                .status,
            0);
  struct Case {
    std::string script;
    std::string input;  // as the message names it
  };
  const Case cases[] = {
      {"$CODEC decompress --format 1 cut.bin out.bin", "cut.bin"},
      {"$CODEC decompress --format 1 - out.bin <cut.bin", "standard input"},
      {"$CODEC decompress --format 1 - - <cut.bin >out.bin; s=$?; test -s out.bin && s=9; exit $s",
       "standard input"},
      {"$CODEC decompress --format 15 --rows 2A f15.bin out.bin", "f15.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const ShellRun run = shell(dir, c.script);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("stream ends past the end of " + c.input + " (needs 0x"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
    if (c.script.find(">out.bin") == std::string::npos) {
      EXPECT_FALSE(fs::exists(dir.path() / "out.bin"));
    }
    fs::remove(dir.path() / "out.bin");
  }
}

}  // namespace
}  // namespace tilvex
