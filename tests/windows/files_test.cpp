// The platform layer's files as Windows has them: the atomic replacement over
// new, open, hidden and non-ASCII-named targets, its refusals, regular files
// only, the advisory lock that never blocks readers, and file identity by
// volume and index (letter case included).
#include "platform/files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace tilvex::platform {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const Bytes kOld = {1, 2, 3, 4, 5, 6, 7, 8};

std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  return names;
}

fs::path path_of(const std::string& name) { return std::u8string(name.begin(), name.end()); }
std::wstring wide(const std::string& name) { return path_of(name).wstring(); }

// Marks a file read-only; false when this user may write it anyway (wine run
// by the superuser does not enforce the mark; Windows always does).
bool make_read_only(const std::string& name) {
  ::SetFileAttributesW(wide(name).c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE file = ::CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  ::CloseHandle(file);
  return false;
}

TEST(WindowsReplacement, NewOpenHiddenAndNonAsciiTargets) {
  const struct {
    const char* what;
    std::string name;
    bool exists, held_open, hidden;
  } cases[] = {
      {"new", "new.bin", false, false, false},
      {"existing", "old.bin", true, false, false},
      {"held open, as the store holds the cartridge", "cart.smc", true, true, false},
      {"hidden", "hidden.bin", true, false, true},
      {"name outside the ANSI code page",
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA \xE3\x82\xAB.smc",
       true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir.file(c.name);
    if (c.exists) write_file(target, kOld);
    bool hidden = false;
    if (c.hidden) {
      ::SetFileAttributesW(wide(target).c_str(), FILE_ATTRIBUTE_HIDDEN);
      hidden = (::GetFileAttributesW(wide(target).c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    }
    OpenFile held;
    std::string reason;
    if (c.held_open) {
      ASSERT_TRUE(open_existing_file(target.c_str(), FileAccess::ReadWrite, &held, &reason));
    }
    FileReplacement replacement;
    ASSERT_TRUE(c.held_open ? replacement.begin(held, &reason)
                            : replacement.begin(target.c_str(), &reason))
        << reason;
    ASSERT_TRUE(replacement.write("abcdef", 6, &reason)) << reason;
    ASSERT_TRUE(replacement.write_at(1, "XY", 2, &reason)) << reason;
    EXPECT_EQ(fs::exists(path_of(target)) ? read_file(target) : Bytes{}, c.exists ? kOld : Bytes{});
    ASSERT_TRUE(replacement.commit(&reason)) << reason;
    held.close();
    EXPECT_EQ(read_file(target), (Bytes{'a', 'X', 'Y', 'd', 'e', 'f'}));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{c.name});
    if (hidden) {
      EXPECT_NE(::GetFileAttributesW(wide(target).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    }
  }
}

TEST(WindowsReplacement, RefusalsLeaveTheTargetAsItWas) {
  const struct {
    const char* what;
    bool begins;  // whether begin succeeds (commit is then expected to fail or not to run)
    void (*meddle)(const std::string& target, FileReplacement* replacement);
  } cases[] = {
      {"dropped without commit", true, [](const std::string&, FileReplacement*) {}},
      {"another file moved into its place", true,
       [](const std::string& target, FileReplacement* replacement) {
         FileIdentity loaded;
         ASSERT_TRUE(file_identity(target.c_str(), &loaded, nullptr));
         replacement->require_identity(loaded);
         write_file(target + ".new", kOld);
         fs::rename(path_of(target + ".new"), path_of(target));
         std::string reason;
         EXPECT_FALSE(replacement->commit(&reason));
         EXPECT_EQ(reason, "the name now leads to another file");
       }},
      {"read-only target", true,
       [](const std::string& target, FileReplacement* replacement) {
         if (make_read_only(target)) {
           std::string reason;
           EXPECT_FALSE(replacement->commit(&reason));
           EXPECT_FALSE(reason.empty());
         }
         ::SetFileAttributesW(wide(target).c_str(), FILE_ATTRIBUTE_NORMAL);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir.file("target.bin");
    write_file(target, kOld);
    {
      FileReplacement replacement;
      std::string reason;
      ASSERT_EQ(replacement.begin(target.c_str(), &reason), c.begins) << reason;
      ASSERT_TRUE(replacement.write("new", 3, &reason)) << reason;
      c.meddle(target, &replacement);
    }
    EXPECT_EQ(read_file(target), kOld);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"target.bin"});
  }

  // Targets that cannot be replaced at all.
  TempDir dir;
  fs::create_directory(dir.path() / "folder");
  for (const std::string& target : {dir.file("folder"), dir.file("missing\\target.bin")}) {
    FileReplacement replacement;
    std::string reason;
    EXPECT_FALSE(replacement.begin(target.c_str(), &reason)) << target;
    EXPECT_FALSE(reason.empty());
  }
  // A device is written directly.
  FileReplacement device;
  std::string reason;
  ASSERT_TRUE(device.begin("NUL", &reason)) << reason;
  EXPECT_TRUE(device.writes_directly());
  EXPECT_TRUE(device.write("x", 1, &reason) && device.commit(&reason)) << reason;
}

TEST(WindowsFiles, OpensOnlyRegularFilesAndLocksWithoutBlockingReaders) {
  TempDir dir;
  const std::string cartridge = dir.file("cart.smc");
  write_file(cartridge, kOld);
  fs::create_directory(dir.path() / "folder");
  const struct {
    std::string name;
    const char* reason;  // "" opens; "*" fails with the system's words
  } cases[] = {
      {cartridge, ""},
      {dir.file("folder"), "not a regular file"},
      {"NUL", "not a regular file"},
      {dir.file("missing.smc"), "*"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenFile file;
    std::string reason;
    const bool opened = open_existing_file(c.name.c_str(), FileAccess::ReadWrite, &file, &reason);
    EXPECT_EQ(opened, *c.reason == '\0');
    if (*c.reason == '*') {
      EXPECT_FALSE(reason.empty());
    } else if (*c.reason != '\0') {
      EXPECT_EQ(reason, c.reason);
    }
  }

  OpenFile first;
  OpenFile second;
  std::string reason;
  ASSERT_TRUE(open_existing_file(cartridge.c_str(), FileAccess::ReadWrite, &first, &reason));
  ASSERT_TRUE(open_existing_file(cartridge.c_str(), FileAccess::ReadOnly, &second, &reason));
  ASSERT_TRUE(lock_file(first, &reason)) << reason;
  EXPECT_FALSE(lock_file(second, &reason));
  EXPECT_EQ(reason, "locked by another process");
  ByteBuffer bytes;
  ASSERT_TRUE(read_whole_file(second, 0, &bytes, &reason)) << "the lock is advisory: " << reason;
  EXPECT_EQ(Bytes(bytes.get(), bytes.get() + kOld.size()), kOld);
  first.close();
  EXPECT_TRUE(lock_file(second, &reason)) << reason;

  // Read-only files open for reading only.
  second.close();
  if (make_read_only(cartridge)) {
    EXPECT_FALSE(open_existing_file(cartridge.c_str(), FileAccess::ReadWrite, &first, &reason));
    EXPECT_TRUE(open_existing_file(cartridge.c_str(), FileAccess::ReadOnly, &first, &reason));
    first.close();
  }
  ::SetFileAttributesW(wide(cartridge).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsFiles, SameFileByVolumeAndIndex) {
  TempDir dir;
  const std::string a = dir.file("a.bin");
  write_file(a, kOld);
  write_file(dir.file("b.bin"), kOld);
  fs::create_hard_link(dir.path() / "a.bin", dir.path() / "hard.bin");
  const struct {
    std::string second;
    bool same;
  } cases[] = {
      {dir.file("hard.bin"), true}, {(dir.path() / "." / "a.bin").string(), true},
      {dir.file("A.BIN"), true},  // letter case does not make another file
      {dir.file("b.bin"), false},   {dir.file("missing.bin"), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(same_file(a.c_str(), c.second.c_str()), c.same) << c.second;
  }
}

}  // namespace
}  // namespace tilvex::platform
