#include "platform/sdl/Signals.hpp"

#include <SDL.h>

#include <csignal>

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace qr {

#if !defined(_WIN32)

namespace {

volatile std::sig_atomic_t hangupSeen = 0;
bool handlerSet = false;  // window thread only

extern "C" void OnHangup(int) { hangupSeen = 1; }

}  // namespace

void ForwardHangupAsQuit() {
  if (!handlerSet) {
    handlerSet = true;
    struct sigaction old {};
    if (::sigaction(SIGHUP, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_DFL) {
      struct sigaction hangup {};
      hangup.sa_handler = OnHangup;
      sigemptyset(&hangup.sa_mask);
      hangup.sa_flags = SA_RESTART;
      ::sigaction(SIGHUP, &hangup, nullptr);
    }
  }
  if (hangupSeen != 0) {
    hangupSeen = 0;
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
  }
}

#else

void ForwardHangupAsQuit() {}  // no SIGHUP here

#endif

}  // namespace qr
