#include "test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace tilvex::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    fs::path candidate = fs::temp_directory_path() / ("tilvex-test-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
    if (error) throw std::runtime_error("cannot create a temporary directory: " + error.message());
  }
}

TempDir::~TempDir() {
  std::error_code error;
  // Undo any permission changes a test made, so everything can be removed.
  for (auto it = fs::recursive_directory_iterator(path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

#ifndef _WIN32  // the Windows version is in test_support_windows.cpp
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& cwd, const Restrictions& restrictions) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    int null_fd = ::open("/dev/null", O_RDONLY);
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
    if (restrictions.seconds != 0) ::alarm(restrictions.seconds);  // kept across exec
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  ProcessResult result;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
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
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.raw_output = result.output;
  return result;
}
#endif

std::vector<std::uint8_t> make_cartridge(std::uint32_t size, std::uint8_t version) {
  std::vector<std::uint8_t> bytes(size);
  for (std::uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  if (size >= kVersionOffset + 1) {
    std::memcpy(bytes.data() + kTitleOffset, kExpectedTitle, kTitleLength);
    bytes[kCountryOffset] = kCountryUs;
    bytes[kVersionOffset] = version;
  }
  return bytes;
}

std::string captured_from(void (*call)(void*, std::FILE*), void* context) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  const std::unique_ptr<std::FILE, Closer> stream(std::tmpfile());
  if (!stream) throw std::runtime_error("cannot create a temporary file");
  call(context, stream.get());
  std::string text;
  std::rewind(stream.get());
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream.get())) > 0;) {
    text.append(buffer, got);
  }
  return text;
}

}  // namespace tilvex::testing
