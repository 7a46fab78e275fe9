#include "platform/dispatch/dispatch.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/dispatch/run_loop.h"

struct dispatch_queue_s {
  enum class Kind { kMain, kBackground } kind;
};

namespace {

dispatch_queue_s g_main_queue{dispatch_queue_s::Kind::kMain};
dispatch_queue_s g_global_queue{dispatch_queue_s::Kind::kBackground};

// The global queue: one worker thread, started by the first task, running the
// tasks in the order they were posted. Each task counts as background work
// from the moment it is posted until it has run, so that RunLoop::settle()
// waits for it and for what it posts to the main queue.
class BackgroundQueue {
 public:
  BackgroundQueue() {
    pthread_atfork(nullptr, nullptr, [] { instance().resetAfterFork(); });
  }

  static BackgroundQueue& instance() {
    static auto* queue = new BackgroundQueue();  // the worker may outlive static destructors
    return *queue;
  }

  void post(std::function<void()> task) {
    dispatch::beginBackgroundWork();
    std::lock_guard<std::mutex> g(mu_);
    tasks_.push_back(std::move(task));
    if (!started_) {
      started_ = true;
      std::thread([this] { work(); }).detach();
    }
    cv_.notify_one();
  }

 private:
  void work() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [this] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      {
        objc::AutoreleasePool pool;
        task();
        task = nullptr;
      }
      dispatch::endBackgroundWork();
    }
  }

  // The worker thread does not exist in a forked child; the next post starts one.
  void resetAfterFork() {
    new (&mu_) std::mutex();
    new (&cv_) std::condition_variable();
    tasks_.clear();
    started_ = false;
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;  // guarded by mu_
  bool started_ = false;                     // guarded by mu_
};

}  // namespace

dispatch_queue_t dispatch_get_main_queue() { return &g_main_queue; }

dispatch_queue_t dispatch_get_global_queue(long, unsigned long) { return &g_global_queue; }

void dispatch_async(dispatch_queue_t queue, Block<void()>* block) {
  if (queue == nullptr || block == nullptr) objc_fatal("dispatch_async: nil queue or block");
  // The task holds the block (and so what it captured) until it has run.
  std::function<void()> task = [keep = Strong<Block<void()>>(block)] { keep->call(); };
  if (queue->kind == dispatch_queue_s::Kind::kMain) {
    dispatch::RunLoop::main().post(std::move(task));
  } else {
    BackgroundQueue::instance().post(std::move(task));
  }
}
