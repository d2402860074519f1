#include "hosts/sdl/EndDeadline.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace qr {

void EndDeadline::Arm() {
  std::lock_guard lock(mutex_);
  if (watcher_.joinable() || disarmed_) return;
  try {
    watcher_ = std::thread([this] { Watch(); });
  } catch (const std::system_error&) {
    // No thread to be had: no deadline, as before there was one.
  }
}

void EndDeadline::Disarm() {
  {
    std::lock_guard lock(mutex_);
    disarmed_ = true;
  }
  ended_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void EndDeadline::Watch() {
  std::unique_lock lock(mutex_);
  if (ended_.wait_for(lock, std::chrono::milliseconds(kEndWithinMs), [this] { return disarmed_; })) return;
  std::fprintf(stderr, "quillmarsh-rall: the game has not ended %lld s after the signal; ending without it\n",
               static_cast<long long>(kEndWithinMs / 1000));
  std::fflush(stderr);
  std::_Exit(1);  // the game thread is still running: nothing may be torn down under it
}

}  // namespace qr
