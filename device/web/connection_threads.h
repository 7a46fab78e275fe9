// The HTTP library's task queue for the WebServer: each accepted connection
// runs on a thread of its own, made when no thread is free, up to `max`
// threads; past that, connections wait for a thread in the order they came.
// A fixed pool would let a few slow clients hold every thread while a
// complete request waits behind them; here the limits on connections are
// the ConnectionTable's, and a connection past them is refused at once on
// its own thread. Threads stay for the next connection once made.
//
// Thread safety: enqueue() from any thread; shutdown() once, which runs
// every connection already queued and joins the threads.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace web {

class ConnectionThreads : public httplib::TaskQueue {
 public:
  explicit ConnectionThreads(size_t max) : max_(max) {}
  ~ConnectionThreads() override;

  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

 private:
  void work();

  const size_t max_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool shutdown_ = false;
};

}  // namespace web
