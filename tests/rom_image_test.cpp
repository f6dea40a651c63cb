// The cartridge image store: clipping and refusals at the end of the image,
// read-only images, erasing, and saving that never damages the cartridge file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "rom/image.h"
#include "test_support.h"

namespace tilvex {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;
namespace fs = std::filesystem;

// The flags the program passes: access 0 or 1 with bits 0x4 and 0x10 set,
// which the store accepts and ignores.
constexpr std::uint32_t kReadOnly = 0x14;
constexpr std::uint32_t kReadWrite = 0x15;

std::vector<std::uint8_t> pattern(std::uint32_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::uint32_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) + 1);
  return bytes;
}

std::vector<std::uint8_t> image_bytes() {
  const std::uint8_t* data = rom_handle()->data.get();
  return std::vector<std::uint8_t>(data, data + rom_size());
}

std::vector<std::string> directory_entries(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  return names;
}

class RomImageTest : public ::testing::Test {
 protected:
  void TearDown() override { rom_close(); }

  // Writes a patterned cartridge of the given size and opens it.
  void open(std::uint32_t size, std::uint32_t flags) {
    original = pattern(size);
    write_file(cartridge, original);
    ASSERT_NE(rom_open(cartridge.c_str(), flags, 0), nullptr);
    ASSERT_EQ(rom_size(), size);
  }

  TempDir dir;
  std::string cartridge = dir.file("cart.smc");
  std::vector<std::uint8_t> original;
};

TEST_F(RomImageTest, ReadsAtOffsetsAreClippedAtTheEnd) {
  constexpr std::uint32_t size = 0x1000;
  struct Case {
    std::uint32_t offset, length;
    int result;
    std::uint32_t copied;  // bytes that reach the destination
  };
  const Case cases[] = {
      {0, size, 1, size}, {0x10, 0x20, 1, 0x20}, {size - 4, 4, 1, 4},   {size - 4, 10, 0, 4},
      {size, 1, 0, 0},    {size + 5, 1, 0, 0},   {0xFFFFFFFF, 2, 0, 0},
  };
  open(size, kReadOnly);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    std::vector<std::uint8_t> out(c.length + 1, 0xEE);
    EXPECT_EQ(rom_read_at(out.data(), c.length, c.offset, 1), c.result);
    for (std::uint32_t i = 0; i < c.copied; ++i) ASSERT_EQ(out[i], original[c.offset + i]);
    for (std::uint32_t i = c.copied; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE);
    const std::uint32_t expected_position = c.copied != 0 ? c.offset + c.copied : c.offset;
    EXPECT_EQ(rom_handle()->position, expected_position);
  }
}

TEST_F(RomImageTest, SequentialReadAtTheEndKeepsTheDestination) {
  open(0x100, kReadOnly);
  RomHandle image = rom_handle();
  EXPECT_EQ(rom_seek(image, -4, kRomSeekEnd), 0);
  EXPECT_EQ(image->position, 0xFCu);
  std::uint8_t word[8] = {};
  EXPECT_EQ(rom_read(word, 3, 2, image), 1u);  // 4 of 6 bytes: one whole item
  EXPECT_EQ(word[3], original[0xFF]);
  for (int repeat = 0; repeat < 2; ++repeat) {
    std::uint8_t byte = 0x5A;
    EXPECT_EQ(rom_read(&byte, 1, 1, image), 0u);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(image->position, 0x100u);
  }
  EXPECT_EQ(rom_seek(image, 0x7FFFFFFF, kRomSeekSet), 0);
  EXPECT_EQ(rom_seek(image, 2, kRomSeekCur), 0);
  EXPECT_EQ(image->position, 0x80000001u);
  EXPECT_EQ(rom_read(word, 1, 1, image), 0u);
}

TEST_F(RomImageTest, WritesAreClippedOrRefusedAtTheEnd) {
  constexpr std::uint32_t size = 0x200;
  open(size, kReadWrite);
  const std::uint8_t source[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

  EXPECT_EQ(rom_write_at(source, 1, size, 1), 0);
  EXPECT_EQ(rom_handle()->position, size);
  EXPECT_EQ(image_bytes(), original);

  EXPECT_EQ(rom_write_at(source, 3, size - 1, 1), 0);
  std::vector<std::uint8_t> expected = original;
  expected[size - 1] = 1;
  EXPECT_EQ(image_bytes(), expected);
  EXPECT_EQ(rom_size(), size);

  rom_seek(rom_handle(), size - 6, kRomSeekSet);
  EXPECT_EQ(rom_write(source, 4, 3, rom_handle()), 1u);
  for (std::uint32_t i = 0; i < 6; ++i) expected[size - 6 + i] = source[i];
  EXPECT_EQ(image_bytes(), expected);

  EXPECT_EQ(rom_write_at(source, 12, 0x20, 1), 1);
  EXPECT_EQ(rom_handle()->position, 0x2Cu);
  EXPECT_EQ(rom_write_at(nullptr, 1, 0, 1), 0);
  EXPECT_EQ(rom_read_at(nullptr, 1, 0, 1), 0);
}

TEST_F(RomImageTest, ReadOnlyImageRefusesEveryChange) {
  open(0x400, kReadOnly);
  const std::uint8_t source[4] = {9, 9, 9, 9};
  EXPECT_EQ(rom_write_at(source, 4, 0, 1), 0);
  EXPECT_EQ(rom_write(source, 1, 4, rom_handle()), 0u);
  rom_set_fill(0xFF0000);
  EXPECT_FALSE(rom_erase(0, 0x10));
  EXPECT_EQ(rom_save(nullptr), 0);
  EXPECT_EQ(image_bytes(), original);
  EXPECT_EQ(read_file(cartridge), original);
}

TEST_F(RomImageTest, EraseFillsUpToTheEndInChunks) {
  constexpr std::uint32_t size = 0x20000;
  struct Case {
    std::uint32_t offset, count;
    std::uint8_t fill;
  };
  const Case cases[] = {
      {0x100, 0x18000, 0xFF},        // one full chunk, then a shorter one
      {0x10, 0x10001, 0xA5},         // a one-byte last chunk
      {0x400, 0x10000, 0x3C},        // exactly one chunk
      {size - 0x100, 0x1000, 0xFF},  // runs past the end
      {size, 0x10, 0x11},            // starts at the end: nothing changes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    open(size, kReadWrite);
    rom_set_fill(std::uint32_t{c.fill} << 16);
    EXPECT_TRUE(rom_erase(c.offset, c.count));
    std::vector<std::uint8_t> expected = original;
    for (std::uint64_t i = c.offset; i < std::uint64_t{c.offset} + c.count && i < size; ++i) {
      expected[i] = c.fill;
    }
    EXPECT_EQ(rom_size(), size);
    EXPECT_EQ(image_bytes(), expected);
    EXPECT_TRUE(rom_close());
  }
  EXPECT_FALSE(rom_erase(0, 0x10));  // no image open
  open(0x100, kReadWrite);
  EXPECT_FALSE(rom_erase(0, 0));
  EXPECT_EQ(image_bytes(), original);
}

TEST_F(RomImageTest, FillByteComesFromBits16To23AndSurvivesClose) {
  const std::pair<std::uint32_t, std::uint8_t> cases[] = {
      {0xFF0000, 0xFF}, {0xFF, 0x00}, {0x12345678, 0x34}, {0xFFFFFFFF, 0xFF}, {0x10000, 0x01}};
  for (const auto& [value, fill] : cases) {
    EXPECT_EQ(rom_set_fill(value), 1);
    EXPECT_EQ(rom_fill_byte(), fill);
  }
  rom_set_fill(0x7E0000);
  open(0x10, kReadWrite);
  rom_close();
  open(0x10, kReadWrite);
  EXPECT_EQ(rom_fill_byte(), 0x7E);
}

TEST_F(RomImageTest, CloseNeverWritesAndResetsTheStore) {
  EXPECT_FALSE(rom_close());
  open(0x100, kReadWrite);
  const std::uint8_t source[2] = {0xDE, 0xAD};
  ASSERT_EQ(rom_write_at(source, 2, 0x10, 1), 1);
  EXPECT_TRUE(rom_close());
  EXPECT_EQ(read_file(cartridge), original);
  EXPECT_EQ(rom_size(), 0u);
  EXPECT_EQ(rom_handle(), nullptr);
  EXPECT_FALSE(rom_close());
  std::uint8_t byte = 0;
  EXPECT_EQ(rom_read_at(&byte, 1, 0, 1), 0);
  EXPECT_EQ(rom_write_at(&byte, 1, 0, 1), 0);
  EXPECT_EQ(rom_save(nullptr), 0);
}

TEST_F(RomImageTest, OpenFailures) {
  open(0x100, kReadOnly);
  EXPECT_EQ(rom_open(nullptr, kReadOnly, 0), nullptr);
  EXPECT_EQ(rom_size(), 0x100u);  // a null name leaves the open image alone

  EXPECT_EQ(rom_open(dir.file("missing").c_str(), kReadOnly, 0), nullptr);
  EXPECT_EQ(rom_handle(), nullptr);

  // Access 2 would truncate the file on open.
  open(0x100, kReadOnly);
  EXPECT_EQ(rom_open(cartridge.c_str(), 0x16, 0), nullptr);
  EXPECT_EQ(read_file(cartridge), original);
}

TEST_F(RomImageTest, OpenRefusesALoadThatFallsShort) {
  // A directory reports a length but cannot be read: the load comes up short.
  struct stat status {};
  ASSERT_EQ(::stat(dir.path().string().c_str(), &status), 0);
  if (status.st_size == 0) GTEST_SKIP() << "directory reports no length here";
  EXPECT_EQ(rom_open(dir.path().string().c_str(), kReadOnly, 0), nullptr);
  EXPECT_EQ(rom_handle(), nullptr);
}

TEST_F(RomImageTest, OpenWithALargerSizeZeroFillsTheTail) {
  write_file(cartridge, {1, 2, 3});
  ASSERT_NE(rom_open(cartridge.c_str(), kReadOnly, 6), nullptr);
  EXPECT_EQ(image_bytes(), (std::vector<std::uint8_t>{1, 2, 3, 0, 0, 0}));
}

TEST_F(RomImageTest, SaveReplacesTheContentAndKeepsPermissions) {
  open(0x1000, kReadWrite);
#ifndef _WIN32
  ASSERT_EQ(::chmod(cartridge.c_str(), 0640), 0);
#endif
  const std::vector<std::uint8_t> patch = {0xAA, 0xBB, 0xCC};
  ASSERT_EQ(rom_write_at(patch.data(), 3, 0x800, 1), 1);
  EXPECT_EQ(rom_save(nullptr), 1);
  std::vector<std::uint8_t> expected = original;
  std::copy(patch.begin(), patch.end(), expected.begin() + 0x800);
  EXPECT_EQ(read_file(cartridge), expected);
#ifndef _WIN32
  struct stat status {};
  ASSERT_EQ(::stat(cartridge.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  // (On Windows the old file, still open, may keep a name until it is closed.)
  EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"cart.smc"});
#endif

  // The image stays open and saves again.
  ASSERT_EQ(rom_write_at(patch.data(), 1, 0, 1), 1);
  EXPECT_EQ(rom_save(nullptr), 1);
  expected[0] = 0xAA;
  EXPECT_EQ(read_file(cartridge), expected);
  EXPECT_EQ(rom_save(cartridge.c_str()), 0);  // another name is not offered
  rom_close();
  EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"cart.smc"});
}

// A save begun ahead saves exactly the image as it is at rom_save, wherever
// the writes since fell and whatever was declared final on the way (each
// write declares everything up to its end final, as an insertion does, and
// later writes land in pages already sent), and a close without a save leaves
// the file as it was.
TEST_F(RomImageTest, SaveBegunAheadSavesEveryWriteMadeSince) {
  struct Write {
    std::uint32_t offset;
    std::uint32_t length;
  };
  struct Case {
    const char* what;
    std::uint32_t from, to;
    std::vector<Write> writes;
  };
  // The image is 0x2345 bytes: eight whole pages and a part of one.
  const Case cases[] = {
      {"writes inside the range", 0x1000, 0x1800, {{0x1000, 0x10}, {0x17F0, 0x10}}},
      {"writes into pages already final", 0x0, 0x2345, {{0x0, 0x2000}, {0x800, 8}, {0x1FFF, 1}}},
      {"writes outside it, across pages", 0x1000, 0x1800, {{0x0FFE, 4}, {0x0, 1}, {0x1FFF, 2}}},
      {"a write into the last part page", 0x0, 0x10, {{0x2344, 1}}},
      {"the range reaches the end", 0x2000, 0xFFFFFFFF, {{0x2300, 0x45}, {0x5, 3}}},
      {"an empty range", 0x800, 0x800, {{0x800, 0x1000}}},
      {"a range past the end", 0x3000, 0x4000, {{0x100, 0x2000}}},
      {"no writes at all", 0x1000, 0x2000, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool save : {true, false}) {
      open(0x2345, kReadWrite);
      // Windows names the new file at once, so nothing is saved ahead there.
#ifndef _WIN32
      EXPECT_TRUE(rom_save_ahead(c.from, c.to));
#else
      EXPECT_FALSE(rom_save_ahead(c.from, c.to));
#endif
      std::vector<std::uint8_t> expected = original;
      for (const Write& w : c.writes) {
        const std::vector<std::uint8_t> bytes(w.length, 0xE5);
        ASSERT_EQ(rom_write_at(bytes.data(), w.length, w.offset, 1), 1);
        std::fill_n(expected.begin() + w.offset, w.length, 0xE5);
        rom_save_final(c.from, w.offset + w.length);
      }
      if (save) {
        EXPECT_EQ(rom_save(nullptr), 1);
        EXPECT_EQ(read_file(cartridge), expected);
        // Saving again starts anew and still holds every write.
        const std::uint8_t last = 0x5A;
        ASSERT_EQ(rom_write_at(&last, 1, 0x2344, 1), 1);
        expected[0x2344] = last;
        EXPECT_EQ(rom_save(nullptr), 1);
        EXPECT_EQ(read_file(cartridge), expected);
      }
      rom_close();
      EXPECT_EQ(read_file(cartridge), save ? expected : original);
      EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"cart.smc"});
    }
  }
  // Only a writable image saves ahead.
  open(0x100, kReadOnly);
  EXPECT_FALSE(rom_save_ahead(0, 0x10));
}

#ifndef _WIN32
// Symbolic links, FIFOs, other users and file size limits as POSIX systems
// have them; the Windows replacement has tests of its own.
TEST_F(RomImageTest, SaveThroughASymbolicLinkReplacesItsTarget) {
  fs::create_directory(dir.path() / "real");
  const std::string target = dir.file("real/target.smc");
  original = pattern(0x100);
  write_file(target, original);
  const std::string link = dir.file("link.smc");
  fs::create_symlink("real/target.smc", link);

  ASSERT_NE(rom_open(link.c_str(), kReadWrite, 0), nullptr);
  const std::uint8_t byte = 0x42;
  ASSERT_EQ(rom_write_at(&byte, 1, 0x10, 1), 1);
  EXPECT_EQ(rom_save(nullptr), 1);
  EXPECT_TRUE(fs::is_symlink(link));
  std::vector<std::uint8_t> expected = original;
  expected[0x10] = 0x42;
  EXPECT_EQ(read_file(target), expected);
  EXPECT_EQ(directory_entries(dir.path() / "real"), std::vector<std::string>{"target.smc"});
}

// Between load and save the cartridge's name comes to lead to another file:
// the save refuses, and neither file changes.
TEST_F(RomImageTest, SaveRefusesWhenTheNameNoLongerLeadsToTheLoadedFile) {
  const std::vector<std::uint8_t> other = pattern(0x40);
  struct Case {
    const char* what;
    void (*change)(const std::string& link, const std::string& loaded, const std::string& other);
  };
  const Case cases[] = {
      {"link retargeted",
       [](const std::string& link, const std::string&, const std::string&) {
         fs::remove(link);
         fs::create_symlink("other.smc", link);
       }},
      {"another file moved in its place",
       [](const std::string&, const std::string& loaded, const std::string& other) {
         fs::copy_file(other, loaded + ".new");
         fs::rename(loaded + ".new", loaded);
       }},
  };
  for (const Case& c : cases) {
    for (const bool ahead : {false, true}) {
      SCOPED_TRACE(c.what);
      SCOPED_TRACE(ahead ? "save begun ahead" : "save at once");
      TempDir place;
      const std::string loaded = place.file("loaded.smc");
      const std::string link = place.file("link.smc");
      const std::string second = place.file("other.smc");
      write_file(loaded, pattern(0x100));
      write_file(second, other);
      fs::create_symlink("loaded.smc", link);
      ASSERT_NE(rom_open(link.c_str(), kReadWrite, 0), nullptr);
      if (ahead) {
        ASSERT_TRUE(rom_save_ahead(0x10, 0x20));
      }
      c.change(link, loaded, second);
      const std::vector<std::uint8_t> now_loaded = read_file(loaded);
      std::string reason;
      EXPECT_EQ(rom_save(nullptr, &reason), 0);
      EXPECT_EQ(reason, "the name now leads to another file");
      EXPECT_EQ(read_file(second), other);
      EXPECT_EQ(read_file(loaded), now_loaded);
      EXPECT_EQ(directory_entries(place.path()).size(), 3u);
      rom_close();
    }
  }
}

TEST_F(RomImageTest, OpenGivesTheReasonAndNeverWaitsOnAFifo) {
  ASSERT_EQ(::mkfifo(cartridge.c_str(), 0600), 0);
  const struct {
    std::string name;
    std::uint32_t flags;
    const char* reason;
  } cases[] = {
      {cartridge, kReadOnly, "not a regular file"},  // no writer: a blocking open would hang
      {cartridge, kReadWrite, "not a regular file"},
      {dir.file("missing"), kReadOnly, "No such file or directory"},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_EQ(rom_open(c.name.c_str(), c.flags, 0, &reason), nullptr);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(rom_handle(), nullptr);
  }
}

// Runs body in a child process and returns its exit code (-1 if it did not exit).
template <typename Body>
int in_child(Body body) {
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RomImageTest, SaveFailsCleanlyWhenNoFileCanBeCreatedBesideTheCartridge) {
  original = pattern(0x100);
  write_file(cartridge, original);
  const bool as_root = ::geteuid() == 0;
  constexpr uid_t nobody = 65534;
  if (as_root) {
    ASSERT_EQ(::chown(cartridge.c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chown(dir.path().c_str(), nobody, nobody), 0);
  }
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const int code = in_child([&] {
    // Without this, the superuser could create files in the locked directory.
    if (as_root && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) return 10;
    if (rom_open(cartridge.c_str(), kReadWrite, 0) == nullptr) return 11;
    const std::uint8_t byte = 0;
    if (rom_write_at(&byte, 1, 0, 1) != 1) return 12;
    return rom_save(nullptr) == 0 ? 0 : 13;
  });
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(read_file(cartridge), original);
  EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"cart.smc"});
}

TEST_F(RomImageTest, SaveCutShortByAFileSizeLimitLeavesTheOriginal) {
  original = pattern(0x10000);
  write_file(cartridge, original);
  const int code = in_child([&] {
    if (rom_open(cartridge.c_str(), kReadWrite, 0) == nullptr) return 11;
    const std::uint8_t byte = 0;
    if (rom_write_at(&byte, 1, 0, 1) != 1) return 12;
    struct rlimit limit {
      0x8000, 0x8000
    };
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    return rom_save(nullptr) == 0 ? 0 : 13;
  });
  EXPECT_EQ(code, 0);  // the process survives and the save reports failure
  EXPECT_EQ(read_file(cartridge), original);
  EXPECT_EQ(directory_entries(dir.path()), std::vector<std::string>{"cart.smc"});
}

#endif

}  // namespace
}  // namespace tilvex
