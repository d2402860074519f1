#include "hosts/sdl/ThreadBridge.hpp"

#include <utility>

namespace qr {

void ThreadBridge::PostFrame(const Surface& surface) {
  bool answers = false;
  {
    std::lock_guard lock(mutex_);
    frame_.indices.assign(surface.Indices().begin(), surface.Indices().end());
    frame_.palette = surface.Palette();
    frameNew_ = true;
    const std::size_t before = frameStamps_.size();
    input_.TakeAnswered(frameStamps_);
    answers = frameStamps_.size() > before;
  }
  if (answers) wakeWindow_();
}

void ThreadBridge::TakeInput(std::vector<InputEvent>& events) {
  std::unique_lock lock(mutex_);
  resumed_.wait(lock, [this] { return !paused_; });
  input_.Take(events);
}

std::int64_t ThreadBridge::PausedMs() {
  std::lock_guard lock(mutex_);
  const Clock::duration d = pausedBefore_ + (paused_ ? Clock::now() - pausedSince_ : Clock::duration{});
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

void ThreadBridge::WaitForInput(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  inputArrived_.wait_until(lock, until, [this] { return input_.Waiting(); });
}

void ThreadBridge::Request(WindowRequest request) {
  std::unique_lock lock(mutex_);
  const std::uint64_t ticket = ++requestsPosted_;
  requests_.push_back(std::move(request));
  lock.unlock();
  wakeWindow_();
  lock.lock();
  requestDone_.wait(lock, [&] { return requestsDone_ >= ticket; });
}

void ThreadBridge::GameEnded() {
  {
    std::lock_guard lock(mutex_);
    gameDone_ = true;
  }
  wakeWindow_();
}

void ThreadBridge::PostInput(InputQueue& pending) {
  if (pending.Empty()) return;
  bool stamped = false;
  {
    std::lock_guard lock(mutex_);
    stamped = pending.Waiting();
    input_.Append(pending);
  }
  // A key's repeat and the events the window makes itself can wait.
  if (stamped) inputArrived_.notify_one();
}

void ThreadBridge::SetPaused(bool paused) {
  {
    std::lock_guard lock(mutex_);
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) {
      pausedSince_ = Clock::now();
    } else {
      pausedBefore_ += Clock::now() - pausedSince_;
    }
  }
  if (!paused) resumed_.notify_all();
}

void ThreadBridge::PostNotice(WindowNotice notice) {
  {
    std::lock_guard lock(mutex_);
    notices_.push_back(std::move(notice));
  }
  wakeWindow_();
}

std::vector<WindowNotice> ThreadBridge::TakeNotices() {
  std::lock_guard lock(mutex_);
  std::vector<WindowNotice> notices;
  notices.swap(notices_);
  return notices;
}

bool ThreadBridge::RunRequests(const std::function<void(const WindowRequest&)>& run) {
  std::deque<WindowRequest> requests;
  bool done = false;
  {
    std::lock_guard lock(mutex_);
    requests.swap(requests_);
    done = gameDone_;
  }
  if (!requests.empty()) {
    for (const WindowRequest& r : requests) run(r);
    {
      std::lock_guard lock(mutex_);
      requestsDone_ += requests.size();
    }
    requestDone_.notify_all();
  }
  return done;
}

bool ThreadBridge::TakeFrame(bool due, Frame& into, bool& fresh, std::vector<Stamp>& answered) {
  std::lock_guard lock(mutex_);
  fresh = false;
  // A frame that answers a key or a pad goes out at once: waiting for the next turn would add up
  // to a refresh to the time the player waits.
  const bool answers = frameNew_ && !frameStamps_.empty();
  if (!due && !answers) return false;
  if (frameNew_) {
    frameNew_ = false;
    fresh = true;
    std::swap(into, frame_);
    answered.insert(answered.end(), frameStamps_.begin(), frameStamps_.end());
    frameStamps_.clear();
  }
  return true;
}

}  // namespace qr
