#include "server/WorkPool.hpp"

#include <algorithm>

namespace qr {

WorkPool::WorkPool(std::size_t threads, std::size_t queue) : queueLimit_(queue) {
  threads = std::max<std::size_t>(threads, 1);
  idle_ = threads;
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

WorkPool::~WorkPool() { Drain(); }

bool WorkPool::TrySubmit(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    if (draining_ || jobs_.size() >= queueLimit_ + idle_) return false;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void WorkPool::Drain() {
  {
    std::lock_guard lock(mutex_);
    draining_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void WorkPool::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return draining_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // draining, and nothing left
      job = std::move(jobs_.front());
      jobs_.pop_front();
      --idle_;
    }
    job();
    std::lock_guard lock(mutex_);
    ++idle_;
  }
}

}  // namespace qr
