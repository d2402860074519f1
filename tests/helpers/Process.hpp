#pragma once
// Starting the game's programs from the tests, the same way on POSIX systems and on Windows: no
// shell, so that no argument needs quoting for one.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace qr::test {

struct ProcessOptions {
  std::string dir;                                       // the working directory ("": this one)
  std::vector<std::pair<std::string, std::string>> env;  // variables to set for the program
  std::string outFile;                                   // standard output goes here ("": inherited)
  std::string errFile;                                   // standard error goes here ("": inherited)
};

// Sets (value != nullptr) or removes an environment variable of this process.
inline void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
#endif
}

inline unsigned long CurrentProcessId() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(::getpid());
#endif
}

#if defined(_WIN32)

inline std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// One argument as the C runtime's command-line parser reads it back.
inline std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

inline HANDLE InheritableFile(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(path.empty() ? L"NUL" : Wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts argv with the given standard handles; false when it cannot be started.
inline bool Spawn(const std::vector<std::string>& argv, const ProcessOptions& o, HANDLE out, HANDLE err,
                  PROCESS_INFORMATION& pi) {
  std::wstring line;
  for (const std::string& a : argv) line += (line.empty() ? L"" : L" ") + QuoteArgument(Wide(a));
  // The child takes this process's environment, with the variables asked for, set meanwhile.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const auto& [name, value] : o.env) {
    const std::wstring wname = Wide(name);
    std::wstring old(32768, L'\0');
    const DWORD n = GetEnvironmentVariableW(wname.c_str(), old.data(), static_cast<DWORD>(old.size()));
    saved.emplace_back(wname, n == 0 ? std::wstring() : old.substr(0, n));
    SetEnvironmentVariableW(wname.c_str(), Wide(value).c_str());
  }
  HANDLE in = InheritableFile("", false);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out != nullptr ? out : GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = err != nullptr ? err : GetStdHandle(STD_ERROR_HANDLE);
  const std::wstring dir = Wide(o.dir);
  const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      dir.empty() ? nullptr : dir.c_str(), &si, &pi) != 0;
  CloseHandle(in);
  for (const auto& [name, value] : saved)
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  return started;
}

// Runs argv to its end; its exit code, -1 when it could not be started.
inline int RunProcess(const std::vector<std::string>& argv, const ProcessOptions& o = {}) {
  HANDLE out = o.outFile.empty() ? nullptr : InheritableFile(o.outFile, true);
  HANDLE err = o.errFile.empty() ? nullptr : InheritableFile(o.errFile, true);
  PROCESS_INFORMATION pi{};
  const bool started = Spawn(argv, o, out, err, pi);
  if (out != nullptr) CloseHandle(out);
  if (err != nullptr) CloseHandle(err);
  if (!started) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

// A program that runs until it is killed, its standard output read through a pipe.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE write = nullptr;
    if (CreatePipe(&out_, &write, &sa, 0) == 0) return;
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION pi{};
    if (Spawn(argv, {}, write, nullptr, pi)) {
      process_ = pi.hProcess;
      CloseHandle(pi.hThread);
    }
    CloseHandle(write);
  }
  ~ChildProcess() {
    if (process_ != nullptr) {
      TerminateProcess(process_, 1);
      CloseHandle(process_);
    }
    if (out_ != nullptr) CloseHandle(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  // Waits for the first bytes the program writes.
  bool ReadSome() {
    char buffer[8];
    DWORD n = 0;
    return ReadFile(out_, buffer, sizeof buffer, &n, nullptr) != 0 && n > 0;
  }
  // Kills the program at once and waits for its end: true when it was the kill that ended it.
  bool Kill() {
    if (TerminateProcess(process_, kKilled) == 0) return false;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    return code == kKilled;
  }

 private:
  static constexpr UINT kKilled = 0xDEAD;
  HANDLE process_ = nullptr;
  HANDLE out_ = nullptr;
};

#else

inline int OpenForChild(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); }

// Starts argv in a child; its pid, or -1. outFd >= 0 becomes its standard output.
inline pid_t Spawn(const std::vector<std::string>& argv, const ProcessOptions& o, int outFd) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (!o.dir.empty() && ::chdir(o.dir.c_str()) != 0) ::_exit(127);
  for (const auto& [name, value] : o.env) ::setenv(name.c_str(), value.c_str(), 1);
  const int out = outFd >= 0 ? outFd : o.outFile.empty() ? -1 : OpenForChild(o.outFile);
  const int err = o.errFile.empty() ? -1 : OpenForChild(o.errFile);
  if (out >= 0) ::dup2(out, STDOUT_FILENO);
  if (err >= 0) ::dup2(err, STDERR_FILENO);
  ::execv(args[0], args.data());
  ::_exit(127);
}

// Runs argv to its end; its exit code, -1 when it could not be started or was killed.
inline int RunProcess(const std::vector<std::string>& argv, const ProcessOptions& o = {}) {
  const pid_t pid = Spawn(argv, o, -1);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program that runs until it is killed, its standard output read through a pipe.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    pid_ = Spawn(argv, {}, fds[1]);
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~ChildProcess() {
    if (pid_ > 0) Kill();
    if (out_ >= 0) ::close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  bool ReadSome() {
    char buffer[8];
    return ::read(out_, buffer, sizeof buffer) > 0;
  }
  bool Kill() {
    if (::kill(pid_, SIGKILL) != 0) return false;
    int status = 0;
    const bool waited = ::waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return waited && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

#endif

// The id of a process that has ended: no process has it, until the system gives it out again.
inline unsigned long EndedProcessId(const std::string& anyProgram) {
#if defined(_WIN32)
  PROCESS_INFORMATION pi{};
  HANDLE null = InheritableFile("", true);
  const bool started = Spawn({anyProgram}, {}, null, null, pi);
  CloseHandle(null);
  if (!started) return 0;
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return pi.dwProcessId;
#else
  (void)anyProgram;
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return static_cast<unsigned long>(pid);
#endif
}

inline void SleepMicroseconds(int us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

}  // namespace qr::test
