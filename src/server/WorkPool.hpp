#pragma once
// A fixed number of threads working through a bounded queue: a job that finds the queue full is
// refused at once, so that a flood of submissions is answered "busy" instead of piling up.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qr {

class WorkPool {
 public:
  // threads: at least 1; queue: the jobs that may wait besides those being worked on.
  WorkPool(std::size_t threads, std::size_t queue);
  ~WorkPool();  // Drain()
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  // False when every thread is busy and the queue is full, or the pool is draining: the job is
  // not run.
  bool TrySubmit(std::function<void()> job);
  // Refuses new jobs, finishes those queued and in flight, and joins the threads.
  void Drain();

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::size_t queueLimit_;
  std::size_t idle_ = 0;  // threads waiting for a job
  bool draining_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace qr
