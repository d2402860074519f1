#include "hosts/sdl/Signals.hpp"

#include <SDL.h>

#if !defined(_WIN32)
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#endif

namespace qr {

#if !defined(_WIN32)

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kCount = 3;
// A signal this soon after the first is taken as the same request.
constexpr std::int64_t kSameRequestMs = 250;

// When the first signal came (steady milliseconds; 0: none yet). Lock-free, as the handler needs.
std::atomic<std::int64_t> firstSignalMs{0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

struct sigaction previous[kCount];
bool taken[kCount] = {};

// Never 0. Safe in a signal handler.
std::int64_t MonotonicMs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000 + 1;
}

// Only what is safe in a signal handler: atomics, clock_gettime, write, sigaction, raise.
extern "C" void OnQuitSignal(int sig) {
  const std::int64_t now = MonotonicMs();
  std::int64_t first = 0;
  if (firstSignalMs.compare_exchange_strong(first, now)) return;  // the first: the window loop sees it
  if (now - first < kSameRequestMs) return;
  static const char kLine[] = "quillmarsh-rall: ended at once on a second signal\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(sig, &fallback, nullptr);
  ::raise(sig);  // delivered as the handler returns: the signal's own default, ending the process
}

}  // namespace

QuitSignals::QuitSignals() {
  firstSignalMs.store(0);
  struct sigaction quit {};
  quit.sa_handler = OnQuitSignal;
  sigemptyset(&quit.sa_mask);
  for (const int sig : kQuitSignals) sigaddset(&quit.sa_mask, sig);
  quit.sa_flags = SA_RESTART;
  for (int i = 0; i < kCount; ++i) {
    struct sigaction& old = previous[i];
    taken[i] = ::sigaction(kQuitSignals[i], nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
               old.sa_handler == SIG_DFL && ::sigaction(kQuitSignals[i], &quit, nullptr) == 0;
  }
}

QuitSignals::~QuitSignals() {
  for (int i = 0; i < kCount; ++i) {
    if (taken[i]) ::sigaction(kQuitSignals[i], &previous[i], nullptr);
    taken[i] = false;
  }
}

bool QuitSignals::Forward() {
  if (forwarded_ || !Seen()) return false;
  forwarded_ = true;
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  return true;
}

bool QuitSignals::Seen() const { return firstSignalMs.load() != 0; }

#else

QuitSignals::QuitSignals() = default;
QuitSignals::~QuitSignals() = default;
bool QuitSignals::Forward() { return false; }
bool QuitSignals::Seen() const { return false; }

#endif

}  // namespace qr
