// The platform layer's files: the atomic replacement (content, mode, names of
// any length, failures and kills that leave the target as it was, symbolic
// links, targets written directly), the non-blocking open of an existing file,
// the whole-file load, the advisory lock, file identity, and a mapped file
// cut short under its reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/mapping.h"
#include "platform/process.h"
#include "test_support.h"

namespace tilvex::platform {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;
namespace fs = std::filesystem;

const std::vector<std::uint8_t> kOld = {1, 2, 3, 4, 5, 6, 7, 8};

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::string> entries(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs body in a child process; its exit code, or -1 when it did not exit.
int in_child(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool replace(const std::string& target, const std::vector<std::uint8_t>& content,
             std::string* reason) {
  FileReplacement replacement;
  return replacement.begin(target.c_str(), reason) &&
         replacement.write(content.data(), content.size(), reason) && replacement.commit(reason);
}

TEST(FileReplacement, WritesContentKeepsModeAndLeavesNothingBeside) {
  struct Case {
    const char* what;
    std::string name;
    bool exists;
    mode_t mode;
  };
  const Case cases[] = {
      {"new file", "new.bin", false, 0},
      {"private file", "private.bin", true, 0600},
      {"group-readable file", "shared.bin", true, 0640},
      {"255-byte name, existing", std::string(255, 'e'), true, 0644},
      {"255-byte name, new", std::string(255, 'n'), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir.file(c.name);
    if (c.exists) {
      write_file(target, kOld);
      ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
    }
    // Sequential writes, then one back at an offset.
    FileReplacement replacement;
    std::string reason;
    ASSERT_TRUE(replacement.begin(target.c_str(), &reason)) << reason;
    ASSERT_FALSE(replacement.writes_directly());
    ASSERT_TRUE(replacement.write("abcdef", 6, &reason)) << reason;
    ASSERT_TRUE(replacement.write("gh", 2, &reason)) << reason;
    ASSERT_TRUE(replacement.write_at(1, "XY", 2, &reason)) << reason;
    // Nothing reaches the target before commit.
    if (c.exists) {
      EXPECT_EQ(read_file(target), kOld);
    } else {
      EXPECT_FALSE(fs::exists(target));
    }
    ASSERT_TRUE(replacement.commit(&reason)) << reason;
    EXPECT_EQ(read_file(target), bytes_of("aXYdefgh"));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{c.name});
    if (c.exists) {
      struct stat status {};
      ASSERT_EQ(::stat(target.c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 07777, c.mode);
    }
  }
}

TEST(FileReplacement, FailureLeavesTheTargetAsItWas) {
  struct Case {
    const char* what;
    const char* reason;  // expected in the failure's text
    std::function<int(const std::string& target, const fs::path& dir)>
        run;  // 0: failed as it should
  };
  const Case cases[] = {
      {"file size limit", "File too large",
       [](const std::string& target, const fs::path&) {
         ignore_file_size_signal();
         const rlimit limit{4096, 4096};
         if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
         const std::vector<std::uint8_t> big(65536, 0xAB);
         std::string reason;
         if (replace(target, big, &reason)) return 11;
         return reason.find("File too large") != std::string::npos ? 0 : 12;
       }},
      {"directory closed to new files", "Permission denied",
       [](const std::string& target, const fs::path& dir) {
         constexpr uid_t nobody = 65534;
         if (::geteuid() == 0) {
           // The superuser could still create files there; a plain user cannot.
           if (::chown(dir.c_str(), nobody, nobody) != 0 ||
               ::chown(target.c_str(), nobody, nobody) != 0 || ::setgid(nobody) != 0 ||
               ::setuid(nobody) != 0)
             return 10;
         }
         if (::chmod(dir.c_str(), 0555) != 0) return 10;
         std::string reason;
         const bool done = replace(target, {9, 9}, &reason);
         return !done && reason == "Permission denied" ? 0 : 11;
       }},
      {"dropped without commit", "",
       [](const std::string& target, const fs::path&) {
         FileReplacement replacement;
         std::string reason;
         if (!replacement.begin(target.c_str(), &reason)) return 10;
         return replacement.write("new", 3, &reason) ? 0 : 11;
       }},
      {"name too long", "File name too long",
       [](const std::string& target, const fs::path&) {
         std::string reason;
         const bool done = replace(target + std::string(256, 'x'), {9}, &reason);
         return !done && reason == "File name too long" ? 0 : 11;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir.file("target.bin");
    write_file(target, kOld);
    const fs::path path = dir.path();
    EXPECT_EQ(in_child([&] { return c.run(target, path); }), 0);
    ::chmod(path.c_str(), 0755);
    EXPECT_EQ(read_file(target), kOld);
    EXPECT_EQ(entries(path), std::vector<std::string>{"target.bin"});
  }
}

TEST(FileReplacement, KillDuringTheWriteLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.file("target.bin");
  write_file(target, kOld);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    FileReplacement replacement;
    if (!replacement.begin(target.c_str(), nullptr)) ::_exit(10);
    const std::vector<std::uint8_t> chunk(65536, 0x5A);
    if (!replacement.write(chunk.data(), chunk.size(), nullptr)) ::_exit(11);
    if (::write(ready[1], "w", 1) != 1) ::_exit(12);
    for (std::uint64_t i = 0;; ++i)
      replacement.write_at(i % 64 * chunk.size(), chunk.data(), chunk.size(), nullptr);
  }
  char signal_byte = 0;
  ASSERT_EQ(::read(ready[0], &signal_byte, 1), 1);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(read_file(target), kOld);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"target.bin"});
}

TEST(FileReplacement, SymbolicLinkIsKeptAndARetargetedOneRefused) {
  TempDir dir;
  const std::string first = dir.file("first.bin");
  const std::string second = dir.file("second.bin");
  const std::string link = dir.file("link.bin");
  write_file(first, kOld);
  write_file(second, kOld);
  fs::create_symlink("first.bin", link);
  std::string reason;

  ASSERT_TRUE(replace(link, {7, 7}, &reason)) << reason;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(read_file(first), (std::vector<std::uint8_t>{7, 7}));

  // Opened through the link, which then comes to lead to another file.
  OpenFile opened;
  ASSERT_TRUE(open_existing_file(link.c_str(), FileAccess::ReadWrite, &opened, &reason)) << reason;
  FileReplacement replacement;
  ASSERT_TRUE(replacement.begin(opened, &reason)) << reason;
  ASSERT_TRUE(replacement.write("new", 3, &reason));
  fs::remove(link);
  fs::create_symlink("second.bin", link);
  EXPECT_FALSE(replacement.commit(&reason));
  EXPECT_EQ(reason, "the name now leads to another file");
  EXPECT_EQ(read_file(second), kOld);
  EXPECT_EQ(read_file(first), (std::vector<std::uint8_t>{7, 7}));
  EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"first.bin", "link.bin", "second.bin"}));

  // A name given to begin, with the identity required of it.
  FileIdentity of_first;
  ASSERT_TRUE(file_identity(first.c_str(), &of_first, &reason));
  ASSERT_TRUE(replacement.begin(link.c_str(), &reason)) << reason;
  replacement.require_identity(of_first);
  EXPECT_FALSE(replacement.commit(&reason));
  EXPECT_EQ(read_file(second), kOld);
}

TEST(FileReplacement, NonRegularTargetsAreWrittenDirectly) {
  TempDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::uint8_t> received;
  std::thread reader([&] { received = read_file(fifo); });
  for (const std::string& target : {fifo, std::string("/dev/null")}) {
    SCOPED_TRACE(target);
    FileReplacement replacement;
    std::string reason;
    ASSERT_TRUE(replacement.begin(target.c_str(), &reason)) << reason;
    EXPECT_TRUE(replacement.writes_directly());
    ASSERT_TRUE(replacement.write("hello", 5, &reason)) << reason;
    ASSERT_TRUE(replacement.write_at(5, "!", 1, &reason)) << reason;
    EXPECT_TRUE(replacement.commit(&reason)) << reason;
  }
  reader.join();
  EXPECT_EQ(received, bytes_of("hello!"));
  struct stat status {};
  ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"pipe"});
}

TEST(OpenExistingFile, OpensOnlyRegularFilesAndNeverBlocks) {
  TempDir dir;
  const std::string regular = dir.file("cart.smc");
  write_file(regular, kOld);
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string name;
    FileAccess access;
    const char* reason;  // empty: opens
  };
  const Case cases[] = {
      {regular, FileAccess::ReadOnly, ""},
      {regular, FileAccess::ReadWrite, ""},
      {fifo, FileAccess::ReadOnly, "not a regular file"},  // no writer: would block
      {fifo, FileAccess::ReadWrite, "not a regular file"},
      {dir.path().string(), FileAccess::ReadOnly, "not a regular file"},
      {"/dev/null", FileAccess::ReadOnly, "not a regular file"},
      {dir.file("missing"), FileAccess::ReadOnly, "No such file or directory"},
  };
  FileIdentity expected;
  ASSERT_TRUE(file_identity(regular.c_str(), &expected, nullptr));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenFile file;
    std::string reason;
    const bool opened = open_existing_file(c.name.c_str(), c.access, &file, &reason);
    EXPECT_EQ(opened, *c.reason == '\0');
    EXPECT_EQ(file.is_open(), opened);
    if (!opened) {
      EXPECT_EQ(reason, c.reason);
      continue;
    }
    EXPECT_EQ(file.size(), kOld.size());
    EXPECT_EQ(file.identity(), expected);
    ByteBuffer bytes;
    ASSERT_TRUE(read_whole_file(file, 12, &bytes, &reason)) << reason;
    std::vector<std::uint8_t> expected_bytes = kOld;
    expected_bytes.resize(12, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.get(), bytes.get() + 12), expected_bytes);
  }

  // A file cut short after it was opened fails the load.
  OpenFile file;
  ASSERT_TRUE(open_existing_file(regular.c_str(), FileAccess::ReadOnly, &file, nullptr));
  ASSERT_EQ(::truncate(regular.c_str(), 3), 0);
  ByteBuffer bytes;
  std::string reason;
  EXPECT_FALSE(read_whole_file(file, 0, &bytes, &reason));
  EXPECT_EQ(reason, "the file became shorter while it was read");
}

TEST(LockFile, RefusesASecondHolderUntilTheFirstCloses) {
  TempDir dir;
  const std::string name = dir.file("cart.smc");
  write_file(name, kOld);
  OpenFile first;
  OpenFile second;
  std::string reason;
  ASSERT_TRUE(open_existing_file(name.c_str(), FileAccess::ReadWrite, &first, &reason));
  ASSERT_TRUE(open_existing_file(name.c_str(), FileAccess::ReadWrite, &second, &reason));
  ASSERT_TRUE(lock_file(first, &reason)) << reason;
  EXPECT_FALSE(lock_file(second, &reason)) << "second open of the file in this process";
  EXPECT_EQ(reason, "locked by another process");
  EXPECT_EQ(in_child([&] {
              OpenFile mine;
              if (!open_existing_file(name.c_str(), FileAccess::ReadWrite, &mine, nullptr))
                return 10;
              return lock_file(mine, nullptr) ? 11 : 0;
            }),
            0)
      << "another process";
  OpenFile moved = std::move(first);  // the lock travels with the handle
  EXPECT_FALSE(lock_file(second, nullptr));
  moved.close();
  EXPECT_TRUE(lock_file(second, &reason)) << reason;
}

TEST(SameFile, ComparesWhatTheNamesLeadTo) {
  TempDir dir;
  const std::string a = dir.file("a.bin");
  const std::string b = dir.file("b.bin");
  write_file(a, kOld);
  write_file(b, kOld);
  fs::create_hard_link(a, dir.file("hard.bin"));
  fs::create_symlink("a.bin", dir.file("soft.bin"));
  const struct {
    std::string first, second;
    bool same;
  } cases[] = {
      {a, a, true},
      {a, dir.file("hard.bin"), true},
      {a, dir.file("soft.bin"), true},
      {a, (dir.path() / "." / "a.bin").string(), true},
      {a, b, false},  // same content, another file
      {a, dir.file("missing"), false},
      {dir.file("missing"), dir.file("missing"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    EXPECT_EQ(same_file(c.first.c_str(), c.second.c_str()), c.same);
  }
}

// A view whose file another process cuts short faults on the missing pages;
// the process then ends with status 1 and its line, not with a crash.
TEST(FileMapping, FileCutShortUnderTheViewEndsTheProcessWithItsLine) {
  TempDir dir;
  const std::string name = dir.file("cartridge.smc");
  write_file(name, std::vector<std::uint8_t>(0x10000, 0x5A));
  const std::string errors = dir.file("errors.txt");
  const int status = in_child([&] {
    OpenFile file;
    FileMapping view;
    std::string reason;
    if (!open_existing_file(name.c_str(), FileAccess::ReadOnly, &file, &reason) ||
        !view.map(file, &reason) || view.data()[0x8000] != 0x5A)
      return 10;
    const int redirected = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (redirected < 0 || ::dup2(redirected, 2) < 0) return 11;
    exit_on_mapped_file_fault("tilvex: cartridge.smc: cut short\n");
    if (::truncate(name.c_str(), 0) != 0) return 12;
    return view.data()[0xC000] == 0x5A ? 13 : 14;  // never returns: the page is gone
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(read_file(errors), bytes_of("tilvex: cartridge.smc: cut short\n"));
}

}  // namespace
}  // namespace tilvex::platform
