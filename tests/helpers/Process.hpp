#pragma once
// Starting the game's programs from the tests, the same way on POSIX systems and on Windows: no
// shell, so that no argument needs quoting for one.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
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

inline void SleepMicroseconds(int us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

// The system's own words for an error: errno on POSIX systems, GetLastError() on Windows.
inline std::string SystemErrorText(unsigned long code);

// Why a program could not be started: the call that failed and the system's error.
struct SpawnFailure {
  std::string call;  // "fork", "execv", "CreateProcessW", ...
  unsigned long code = 0;

  std::string Text() const { return call + " failed: error " + std::to_string(code) + ", " + SystemErrorText(code); }
  // False for what another try cannot mend (no such program, not a program); true for what a
  // busy machine can cause (no memory, too many processes or handles, a program file in use).
  bool MayPass(const std::string& program) const;
};

// How often a start is tried (for up to about 3 s). A loaded machine may now and then fail to
// create a process: under Wine a killed child stays a zombie until the system reaps it, a second
// or two later, and where the processes of a user or a container are limited a start fails
// (error 1359: the new process died while starting) until then.
inline constexpr int kStartTries = 7;

// Calls start(failure) until it starts the program argv[0], up to `tries` times in all while the
// failure may pass (SpawnFailure::MayPass), after 50, 100, 200, ... ms. Every failure is printed
// on standard error and added to failures. True when a try started the program.
template <class Start>
bool StartTrying(const std::vector<std::string>& argv, int tries, std::vector<std::string>& failures, Start start) {
  const std::string program = argv.empty() ? std::string() : argv[0];
  for (int t = 1; t <= tries; ++t) {
    SpawnFailure failure;
    if (start(failure)) return true;
    failures.push_back(failure.Text());
    std::fprintf(stderr, "starting %s: try %d of %d: %s\n", program.c_str(), t, tries, failures.back().c_str());
    if (!failure.MayPass(program)) return false;
    if (t < tries) SleepMicroseconds(50000 << (t - 1 < 6 ? t - 1 : 6));
  }
  return false;
}

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

inline std::string SystemErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) {
    const int len = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(len > 0 ? len : 0));
    if (len > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len, nullptr, nullptr);
  }
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out.empty() ? "the system has no text for it" : out;
}

inline bool SpawnFailure::MayPass(const std::string& program) const {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      // Wine (8.0) says "not found" for a program file that another process holds open where
      // Windows says ERROR_SHARING_VIOLATION: a program that is there may be free again soon.
      return GetFileAttributesW(Wide(program).c_str()) != INVALID_FILE_ATTRIBUTES;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_PARAMETER:
      return false;
    default:
      return true;
  }
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

// Starts argv with the given standard handles; false when it cannot be started, with the
// system's error in *error when error is given.
inline bool Spawn(const std::vector<std::string>& argv, const ProcessOptions& o, HANDLE out, HANDLE err,
                  PROCESS_INFORMATION& pi, DWORD* error = nullptr) {
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
  if (!started && error != nullptr) *error = GetLastError();
  CloseHandle(in);
  for (const auto& [name, value] : saved)
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  return started;
}

// Runs argv to its end; its exit code, -1 when it could not be started (see StartTrying).
inline int RunProcess(const std::vector<std::string>& argv, const ProcessOptions& o = {}) {
  HANDLE out = o.outFile.empty() ? nullptr : InheritableFile(o.outFile, true);
  HANDLE err = o.errFile.empty() ? nullptr : InheritableFile(o.errFile, true);
  PROCESS_INFORMATION pi{};
  std::vector<std::string> failures;
  const bool started = StartTrying(argv, kStartTries, failures, [&](SpawnFailure& failure) {
    DWORD error = 0;
    if (Spawn(argv, o, out, err, pi, &error)) return true;
    failure = {"CreateProcessW", error};
    return false;
  });
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
  // tries: see StartTrying.
  explicit ChildProcess(const std::vector<std::string>& argv, int tries = kStartTries) {
    StartTrying(argv, tries, failures_, [&](SpawnFailure& failure) { return TryStart(argv, failure); });
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
  // Every try that failed, in the words of SpawnFailure::Text (a start that succeeded in the end
  // may have some).
  const std::vector<std::string>& Failures() const { return failures_; }
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
  bool TryStart(const std::vector<std::string>& argv, SpawnFailure& failure) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE write = nullptr;
    if (CreatePipe(&out_, &write, &sa, 0) == 0) {
      failure = {"CreatePipe", GetLastError()};
      out_ = nullptr;
      return false;
    }
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION pi{};
    DWORD error = 0;
    if (Spawn(argv, {}, write, nullptr, pi, &error)) {
      process_ = pi.hProcess;
      CloseHandle(pi.hThread);
    } else {
      failure = {"CreateProcessW", error};
    }
    CloseHandle(write);
    if (process_ == nullptr) {
      CloseHandle(out_);
      out_ = nullptr;
    }
    return process_ != nullptr;
  }

  static constexpr UINT kKilled = 0xDEAD;
  HANDLE process_ = nullptr;
  HANDLE out_ = nullptr;
  std::vector<std::string> failures_;
};

#else

inline std::string SystemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }

inline bool SpawnFailure::MayPass(const std::string&) const {
  switch (static_cast<int>(code)) {
    case ENOENT:
    case ENOTDIR:
    case EACCES:
    case EPERM:
    case ENOEXEC:
    case ELOOP:
    case ENAMETOOLONG:
    case EISDIR:
    case EINVAL:
    case E2BIG:
      return false;
    default:
      return true;
  }
}

inline int OpenForChild(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); }

// In a child that could not become the program: tells the parent through fd (when >= 0) which
// step failed (0 chdir, 1 execv) and errno, and ends.
[[noreturn]] inline void ChildFails(int fd, int step) {
  const int message[2] = {step, errno};
  if (fd >= 0 && ::write(fd, message, sizeof message) < 0) ::_exit(126);
  ::_exit(127);
}

// Starts argv in a child; its pid, or -1. outFd >= 0 becomes its standard output. When failure is
// given, a child that cannot change to its directory or run the program tells why through a pipe
// that a successful exec closes, and Spawn returns -1 with the failed call and its errno.
inline pid_t Spawn(const std::vector<std::string>& argv, const ProcessOptions& o, int outFd,
                   SpawnFailure* failure = nullptr) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int report[2] = {-1, -1};
  if (failure != nullptr) {
    if (::pipe(report) != 0) {
      *failure = {"pipe", static_cast<unsigned long>(errno)};
      return -1;
    }
    ::fcntl(report[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(report[1], F_SETFD, FD_CLOEXEC);
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!o.dir.empty() && ::chdir(o.dir.c_str()) != 0) ChildFails(report[1], 0);
    for (const auto& [name, value] : o.env) ::setenv(name.c_str(), value.c_str(), 1);
    const int out = outFd >= 0 ? outFd : o.outFile.empty() ? -1 : OpenForChild(o.outFile);
    const int err = o.errFile.empty() ? -1 : OpenForChild(o.errFile);
    if (out >= 0) ::dup2(out, STDOUT_FILENO);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    ::execv(args[0], args.data());
    ChildFails(report[1], 1);
  }
  const int forkError = errno;
  if (failure == nullptr) return pid;
  ::close(report[1]);
  int message[2] = {0, 0};
  ssize_t n = 0;
  if (pid > 0) {
    do {
      n = ::read(report[0], message, sizeof message);
    } while (n < 0 && errno == EINTR);
  }
  ::close(report[0]);
  if (pid < 0) {
    *failure = {"fork", static_cast<unsigned long>(forkError)};
    return -1;
  }
  if (n == static_cast<ssize_t>(sizeof message)) {
    ::waitpid(pid, nullptr, 0);
    *failure = {message[0] == 0 ? "chdir" : "execv", static_cast<unsigned long>(message[1])};
    return -1;
  }
  return pid;
}

// Runs argv to its end; its exit code, -1 when it could not be started (see StartTrying) or was
// killed.
inline int RunProcess(const std::vector<std::string>& argv, const ProcessOptions& o = {}) {
  pid_t pid = -1;
  std::vector<std::string> failures;
  StartTrying(argv, kStartTries, failures, [&](SpawnFailure& failure) {
    pid = Spawn(argv, o, -1, &failure);
    return pid >= 0;
  });
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program that runs until it is killed, its standard output read through a pipe.
class ChildProcess {
 public:
  // tries: see StartTrying.
  explicit ChildProcess(const std::vector<std::string>& argv, int tries = kStartTries) {
    StartTrying(argv, tries, failures_, [&](SpawnFailure& failure) { return TryStart(argv, failure); });
  }
  ~ChildProcess() {
    if (pid_ > 0) Kill();
    if (out_ >= 0) ::close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  const std::vector<std::string>& Failures() const { return failures_; }
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
  bool TryStart(const std::vector<std::string>& argv, SpawnFailure& failure) {
    int fds[2];
    if (::pipe(fds) != 0) {
      failure = {"pipe", static_cast<unsigned long>(errno)};
      return false;
    }
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    pid_ = Spawn(argv, {}, fds[1], &failure);
    ::close(fds[1]);
    if (pid_ < 0) {
      ::close(fds[0]);
      return false;
    }
    out_ = fds[0];
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::vector<std::string> failures_;
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

}  // namespace qr::test
