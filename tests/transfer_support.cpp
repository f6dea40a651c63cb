#include "transfer_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "common/run_settings.h"
#include "demo/demo_cartridge.h"
#include "rom/address.h"
#include "rom/image.h"
#include "transfer/catalogue.h"

namespace tilvex::testing {

const std::vector<std::uint8_t>& demo_cartridge(std::uint32_t size) {
  static std::map<std::uint32_t, std::vector<std::uint8_t>> built;
  auto found = built.find(size);
  if (found == built.end()) {
    std::vector<std::uint8_t> image = build_demo_cartridge(size, kDemoSeed);
    if (image.empty()) throw std::runtime_error("the demo cartridge cannot be built");
    found = built.emplace(size, std::move(image)).first;
  }
  return found->second;
}

bool open_image(const std::string& path, bool writable, std::uint32_t run_mode) {
  run_settings = RunSettings{};
  run_settings.rom_name = path;
  run_settings.run_mode = run_mode | (writable ? 1u : 0u);
  run_settings.cartridge_size = static_cast<std::uint32_t>(std::filesystem::file_size(path));
  return rom_open(path.c_str(), (writable ? 1u : 0u) | kRomFixedSize | kRomLoadWhole, 0) != nullptr;
}

std::vector<std::uint8_t> image_bytes() {
  std::vector<std::uint8_t> bytes(rom_size());
  if (!bytes.empty()) rom_read_at(bytes.data(), rom_size(), 0, 1);
  return bytes;
}

std::uint32_t pointer_target(const std::vector<std::uint8_t>& image, std::uint32_t index) {
  const std::uint8_t* entry = image.data() + kPointerTableOffset + 3 * index;
  return snes_to_file(entry[0] | entry[1] << 8 | entry[2] << 16, kMap32, 1);
}

void set_pointer(std::vector<std::uint8_t>& image, std::uint32_t index, std::uint32_t offset) {
  const std::uint32_t address = file_to_snes(offset, kMap32, 1);
  std::uint8_t* entry = image.data() + kPointerTableOffset + 3 * index;
  entry[0] = static_cast<std::uint8_t>(address);
  entry[1] = static_cast<std::uint8_t>(address >> 8);
  entry[2] = static_cast<std::uint8_t>(address >> 16);
}

std::vector<std::uint8_t> combined_part(const std::vector<std::uint8_t>& combined,
                                        std::uint32_t index) {
  layout_offsets(true);
  const std::uint32_t offset = structure_offset(index);
  return std::vector<std::uint8_t>(combined.begin() + offset,
                                   combined.begin() + offset + structure_sizes[index]);
}

void set_combined_part(std::vector<std::uint8_t>& combined, std::uint32_t index,
                       const std::vector<std::uint8_t>& bytes) {
  layout_offsets(true);
  std::copy(bytes.begin(), bytes.end(), combined.begin() + structure_offset(index));
}

std::vector<std::uint8_t> demo_combined_file() {
  std::vector<std::uint8_t> combined(kCombinedFileSize);
  for (std::uint32_t i = 0; i < kStructureCount; ++i) {
    set_combined_part(combined, i, demo_structure(i, kDemoSeed));
  }
  return combined;
}

ScopedCwd::ScopedCwd(const std::string& directory)
    : previous_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(directory);
}

ScopedCwd::~ScopedCwd() {
  std::error_code error;
  std::filesystem::current_path(previous_, error);
}

RestrictedResult run_restricted(const std::string& program, const std::vector<std::string>& args,
                                const std::string& cwd, const Restrictions& restrictions) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::dup2(pipe_fds[1], STDERR_FILENO);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    if (restrictions.as_nobody && ::geteuid() == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(126);
    }
    if (restrictions.file_size_limit != 0) {
      const rlimit limit{restrictions.file_size_limit, restrictions.file_size_limit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(125);
    }
    std::signal(SIGXFSZ, SIG_DFL);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  RestrictedResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (got > 0) {
      result.output.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::string hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

}  // namespace tilvex::testing
