// Running a program as a process on Windows: standard input from NUL, standard
// output and standard error into one pipe, arguments quoted the way the C
// runtime splits them again. Line ends are read back as "\n".
#ifdef _WIN32
#include <windows.h>

#include <stdexcept>

#include "test_support.h"

namespace tilvex::testing {

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(2 * backslashes, L'\\');
  out.push_back(L'"');
  return out;
}

struct Handle {
  HANDLE value = nullptr;
  ~Handle() {
    if (value != nullptr && value != INVALID_HANDLE_VALUE) ::CloseHandle(value);
  }
};

}  // namespace

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& cwd, const Restrictions& restrictions) {
  if (restrictions.file_size_limit != 0 || restrictions.as_nobody) {
    throw std::runtime_error("process restrictions are not available on Windows");
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle read_end, write_end, null_input;
  if (!::CreatePipe(&read_end.value, &write_end.value, &inherit, 0) ||
      !::SetHandleInformation(read_end.value, HANDLE_FLAG_INHERIT, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  null_input.value = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input.value;
  startup.hStdOutput = write_end.value;
  startup.hStdError = write_end.value;
  std::wstring command_line = quoted(widen(program));
  for (const std::string& arg : args) command_line += L" " + quoted(widen(arg));
  const std::wstring directory = cwd.wstring();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(widen(program).c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, directory.c_str(), &startup, &process)) {
    throw std::runtime_error("cannot start " + program);
  }
  Handle process_handle{process.hProcess}, thread_handle{process.hThread};
  ::CloseHandle(write_end.value);
  write_end.value = nullptr;

  ProcessResult result;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(read_end.value, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.raw_output.append(buffer, got);
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  result.exit_status = static_cast<int>(code);
  for (std::size_t i = 0; i < result.raw_output.size(); ++i) {
    if (result.raw_output[i] == '\r' && i + 1 < result.raw_output.size() &&
        result.raw_output[i + 1] == '\n') {
      continue;
    }
    result.output.push_back(result.raw_output[i]);
  }
  return result;
}

}  // namespace tilvex::testing
#endif
