#include "device/web/connection_threads.h"

namespace web {

ConnectionThreads::~ConnectionThreads() { shutdown(); }

void ConnectionThreads::enqueue(std::function<void()> fn) {
  std::lock_guard<std::mutex> g(mu_);
  jobs_.push_back(std::move(fn));
  if (idle_ < jobs_.size() && threads_.size() < max_) {
    ++idle_;  // counted idle until it takes its first job
    threads_.emplace_back([this] { work(); });
  }
  cv_.notify_one();
}

void ConnectionThreads::shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> g(mu_);
    shutdown_ = true;
    threads.swap(threads_);
  }
  cv_.notify_all();
  for (std::thread& t : threads) t.join();
}

void ConnectionThreads::work() {
  std::unique_lock<std::mutex> lock(mu_);
  while (true) {
    cv_.wait(lock, [this] { return !jobs_.empty() || shutdown_; });
    if (jobs_.empty()) return;  // shut down, nothing left to run
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    --idle_;
    lock.unlock();
    job();
    lock.lock();
    ++idle_;
  }
}

}  // namespace web
