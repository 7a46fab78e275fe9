// Watchdog for tests that could hang: if the guarded scope has not ended
// within its time limit, the process prints what hung and exits with a
// failure instead of waiting for an outside timeout.
//
//   Watchdog dog("settle after background work", 10s);
//
// Thread safety: one Watchdog per scope; it owns its timer thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

class Watchdog {
 public:
  Watchdog(std::string what, std::chrono::milliseconds limit)
      : what_(std::move(what)), timer_([this, limit] {
          std::unique_lock<std::mutex> lock(mu_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "FAILED: %s did not finish within %lld ms\n", what_.c_str(),
                         static_cast<long long>(limit.count()));
            std::_Exit(1);
          }
        }) {}

  ~Watchdog() {
    {
      std::lock_guard<std::mutex> g(mu_);
      done_ = true;
    }
    cv_.notify_one();
    timer_.join();
  }

  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread timer_;
};

}  // namespace testing_support
