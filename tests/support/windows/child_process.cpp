// Child processes on Windows: no fork, so a child is a new process of the
// same test program, started with "--opossvc-child <report handle> <role>
// <args...>". A listener that runs before the first test finds that on the
// command line, runs the role and ends the process. Lambda bodies (fork)
// fail loudly here; the tests that use them are POSIX-only.
#include "tests/support/child_process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace opossvc::test_support {
namespace {

constexpr char kChildFlag[] = "--opossvc-child";

[[noreturn]] void NoFork() { throw std::logic_error("no forked children on Windows"); }

// `text` as one argument of a command line (the rules CommandLineToArgvW and
// the C runtime read back): quoted, with the backslashes before a quote doubled.
std::string Quote(const std::string& text) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

std::string HandleText(HANDLE handle) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(handle));
}

HANDLE HandleOf(const std::string& text) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(text)));
}

// A C runtime descriptor for a pipe handle; the descriptor owns the handle.
int Descriptor(HANDLE handle, int mode) {
  return _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), mode | _O_BINARY);
}

// The child's side: before any test runs, a process started as a child runs
// its role and ends.
class ChildRoleRunner : public ::testing::EmptyTestEventListener {
  void OnTestProgramStart(const ::testing::UnitTest&) override {
    if (__argc < 4 || std::string(__argv[1]) != kChildFlag) return;
    ChildChecks checks(Descriptor(HandleOf(__argv[2]), _O_WRONLY));
    const std::vector<std::string> args(__argv + 4, __argv + __argc);
    try {
      ChildRole role = FindChildRole(__argv[3]);
      if (checks.Expect(role != nullptr, std::string("no child role ") + __argv[3])) {
        role(checks, args);
      }
    } catch (...) {
      checks.Expect(false, "child threw");
    }
    std::_Exit(0);
  }
};

[[maybe_unused]] const bool kRunnerInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new ChildRoleRunner);
  return true;
}();

}  // namespace

bool ChildChecks::Expect(bool ok, const std::string& what) {
  const std::string line = what + "\n";
  for (size_t done = 0; !ok && done < line.size();) {
    const int n = _write(fd_, line.data() + done, static_cast<unsigned>(line.size() - done));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return ok;
}

ChildProcess::ChildProcess(const std::function<void(ChildChecks&)>& /*body*/) { NoFork(); }

ChildProcess::ChildProcess(const char* role, std::vector<std::string> args) {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) return;
  // Only the report pipe's write end goes to this child, and to no later one.
  SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, sizeof program);
  std::string command =
      Quote(program) + " " + kChildFlag + " " + HandleText(write) + " " + Quote(role);
  for (const std::string& arg : args) command += " " + Quote(arg);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  const BOOL started = CreateProcessA(program, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  CloseHandle(write);
  if (!started) {
    CloseHandle(read);
    return;
  }
  CloseHandle(info.hThread);
  process_ = reinterpret_cast<std::intptr_t>(info.hProcess);
  report_fd_ = Descriptor(read, _O_RDONLY);
}

ChildProcess::~ChildProcess() { Kill(); }

void ChildProcess::Kill() {
  if (report_fd_ >= 0) TerminateProcess(reinterpret_cast<HANDLE>(process_), 9);
  Wait();
}

std::string ChildProcess::Wait() {
  if (report_fd_ < 0) return process_ == -1 ? "CreateProcess failed\n" : "";
  std::string report;
  char buffer[512];
  for (int n; (n = _read(report_fd_, buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<size_t>(n));
  }
  _close(report_fd_);
  report_fd_ = -1;
  const HANDLE process = reinterpret_cast<HANDLE>(process_);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  process_ = 0;
  if (code != 0) report += "child exited with " + std::to_string(code);
  return report;
}

Pipe::Pipe() {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  // Both ends are inherited by the children started while the pipe is whole.
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  if (!CreatePipe(&read, &write, &inherited, 0)) return;
  fds_[0] = Descriptor(read, _O_RDONLY);
  fds_[1] = Descriptor(write, _O_WRONLY);
}

Pipe::Pipe(const std::string& write_end) { fds_[1] = Descriptor(HandleOf(write_end), _O_WRONLY); }

Pipe::~Pipe() {
  for (int fd : fds_) {
    if (fd >= 0) _close(fd);
  }
}

Pipe& Pipe::Reader() {
  if (fds_[1] >= 0) _close(fds_[1]);
  fds_[1] = -1;
  return *this;
}

Pipe& Pipe::Writer() {
  if (fds_[0] >= 0) _close(fds_[0]);
  fds_[0] = -1;
  return *this;
}

std::string Pipe::WriteEnd() const {
  return HandleText(reinterpret_cast<HANDLE>(_get_osfhandle(fds_[1])));
}

bool Pipe::Send() {
  const char c = 'x';
  return _write(fds_[1], &c, 1) == 1;
}

// Anonymous pipes have no waits with a time-out: the bytes there are polled.
bool Pipe::Receive(std::chrono::milliseconds timeout) {
  const HANDLE read = reinterpret_cast<HANDLE>(_get_osfhandle(fds_[0]));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  DWORD available = 0;
  while (PeekNamedPipe(read, nullptr, 0, nullptr, &available, nullptr) && available == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    Sleep(1);
  }
  return available > 0 && Receive();
}

bool Pipe::Receive() {
  char c;
  return _read(fds_[0], &c, 1) == 1;
}

}  // namespace opossvc::test_support
