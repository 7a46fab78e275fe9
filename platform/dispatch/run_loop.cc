#include "platform/dispatch/run_loop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/objc/runtime.h"

namespace dispatch {
namespace {

using Clock = std::chrono::steady_clock;

// The thread id of the main thread; 0 means the process's first thread (whose
// thread id equals the process id), which is where programs start.
std::atomic<pid_t> g_main_thread{0};
std::atomic<long> g_background_work{0};

// Each thread keeps its answer to "am I the main thread?", so that asking
// costs no system call; the answers are good while the generation they were
// taken in is current. A new main thread and a fork start a new one.
std::atomic<unsigned> g_main_generation{1};
thread_local unsigned t_answered_in = 0;
thread_local bool t_is_main = false;

// In a forked child the forking thread is the process's first thread, and
// the parent's background work is not the child's. Registered when the
// library loads, so that it holds whether or not the run loop exists.
[[maybe_unused]] const bool kForkHandler = [] {
  pthread_atfork(nullptr, nullptr, [] {
    g_main_thread = 0;
    g_background_work = 0;
    ++g_main_generation;
  });
  return true;
}();

int newWakeFd() {
  int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) objc_fatal("dispatch: eventfd failed: errno %d", errno);
  return fd;
}

int remainingMs(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// poll() that resumes after a signal with the time that is left.
int pollFor(pollfd* fds, nfds_t count, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    int n = ::poll(fds, count, timeout_ms);
    if (n >= 0 || errno != EINTR) return n;
    if (timeout_ms >= 0) timeout_ms = remainingMs(deadline);
  }
}

void requireMainThread(const char* what) {
  if (!isMainThread()) objc_fatal("dispatch: RunLoop::%s called off the main thread", what);
}

}  // namespace

struct RunLoop::State {
  struct Watcher {
    int fd;
    std::shared_ptr<std::function<void()>> on_readable;
  };

  std::mutex mu;
  std::vector<std::function<void()>> queue;  // guarded by mu
  std::vector<Watcher> watchers;             // main thread only
  std::atomic<bool> stop_requested{false};

  // The wake-up counter, made when first needed (a post, or a turn of the
  // loop), so that a library that only watches a descriptor as it loads
  // does not pay for it. -1 until then, and again in a forked child, which
  // makes its own.
  std::mutex wake_mu;
  std::atomic<int> wake_fd{-1};

  int wakeFd() {
    int fd = wake_fd.load(std::memory_order_acquire);
    if (fd >= 0) return fd;
    std::lock_guard<std::mutex> g(wake_mu);
    fd = wake_fd.load(std::memory_order_relaxed);
    if (fd < 0) {
      fd = newWakeFd();
      wake_fd.store(fd, std::memory_order_release);
    }
    return fd;
  }

  void wake() {
    uint64_t one = 1;
    // EAGAIN means the counter is already far from zero: the loop will wake anyway.
    [[maybe_unused]] ssize_t n = ::write(wakeFd(), &one, sizeof one);
  }

  void drainWake() {
    uint64_t count;
    while (::read(wakeFd(), &count, sizeof count) > 0) {
    }
  }

  bool queueEmpty() {
    std::lock_guard<std::mutex> g(mu);
    return queue.empty();
  }

  // Runs the tasks posted so far; tasks they post wait for the next call.
  bool runPosted() {
    std::vector<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> g(mu);
      tasks.swap(queue);
    }
    for (auto& task : tasks) {
      objc::AutoreleasePool pool;
      task();
      task = nullptr;  // what the task captured goes inside its pool
    }
    return !tasks.empty();
  }

  // In a forked child only the forking thread exists: the wake-up counter
  // must not be shared with the parent, and the parent's tasks and background
  // work are not the child's.
  void resetAfterFork() {
    if (int fd = wake_fd.exchange(-1); fd >= 0) ::close(fd);
    new (&wake_mu) std::mutex();
    new (&mu) std::mutex();
    queue.clear();
    stop_requested = false;
  }
};

RunLoop::RunLoop() : state_(new State()) {
  pthread_atfork(nullptr, nullptr, [] { RunLoop::main().state_->resetAfterFork(); });
}

RunLoop& RunLoop::main() {
  static RunLoop loop;
  return loop;
}

void RunLoop::post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> g(state_->mu);
    state_->queue.push_back(std::move(task));
  }
  state_->wake();
}

void RunLoop::watch(int fd, std::function<void()> on_readable) {
  requireMainThread("watch");
  auto fn = std::make_shared<std::function<void()>>(std::move(on_readable));
  for (auto& w : state_->watchers) {
    if (w.fd == fd) {
      w.on_readable = std::move(fn);
      return;
    }
  }
  state_->watchers.push_back({fd, std::move(fn)});
}

void RunLoop::unwatch(int fd) {
  requireMainThread("unwatch");
  std::erase_if(state_->watchers, [fd](const State::Watcher& w) { return w.fd == fd; });
}

bool RunLoop::runOnce(int timeout_ms) {
  requireMainThread("runOnce");
  State& s = *state_;
  s.drainWake();
  bool did = s.runPosted();
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);

  for (;;) {
    // The watchers as they are now; a watcher may watch or unwatch others.
    std::vector<State::Watcher> watching = s.watchers;
    std::vector<pollfd> fds;
    fds.reserve(watching.size() + 1);
    fds.push_back({s.wakeFd(), POLLIN, 0});
    for (const auto& w : watching) fds.push_back({w.fd, POLLIN, 0});

    int wait = did ? 0 : timeout_ms < 0 ? -1 : remainingMs(deadline);
    // stop() sets its flag before it wakes the loop; the wake-up may have been
    // drained above, so the flag is what tells a waiting turn to give way.
    if (wait != 0 && s.stop_requested.load()) return did;
    int n = pollFor(fds.data(), fds.size(), wait);
    if (n <= 0) return did;

    // Tasks posted by this turn's tasks wait for the next turn.
    if (fds[0].revents != 0 && !did) {
      s.drainWake();
      did = s.runPosted();
    }
    for (size_t i = 0; i < watching.size(); ++i) {
      short ev = fds[i + 1].revents;
      if (ev == 0) continue;
      int fd = watching[i].fd;
      if (ev & POLLNVAL) {  // closed without unwatching: nothing will ever come
        std::erase_if(s.watchers, [fd](const State::Watcher& w) { return w.fd == fd; });
        continue;
      }
      // Call only a watcher that is still the one registered for the descriptor.
      bool current = false;
      for (const auto& w : s.watchers) {
        current = current || (w.fd == fd && w.on_readable == watching[i].on_readable);
      }
      if (!current) continue;
      objc::AutoreleasePool pool;
      (*watching[i].on_readable)();
      did = true;
    }
    // A wake-up whose tasks were already run, or a dropped descriptor: keep waiting.
    if (did) return true;
  }
}

bool RunLoop::settle(int timeout_ms) {
  requireMainThread("settle");
  State& s = *state_;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    s.runPosted();
    // Background work posts before it ends, so once none is in flight an empty
    // queue stays empty.
    if (g_background_work.load() == 0 && s.queueEmpty()) return true;
    int wait = timeout_ms < 0 ? -1 : remainingMs(deadline);
    if (timeout_ms >= 0 && wait == 0) return false;
    pollfd fd{s.wakeFd(), POLLIN, 0};
    if (pollFor(&fd, 1, wait) > 0) s.drainWake();
  }
}

void RunLoop::run() {
  requireMainThread("run");
  while (!state_->stop_requested.load()) runOnce(-1);
  state_->stop_requested = false;
}

void RunLoop::stop() {
  state_->stop_requested = true;
  state_->wake();
}

bool RunLoop::isMainThread() const { return dispatch::isMainThread(); }

void markMainThread() {
  g_main_thread = gettid();
  ++g_main_generation;
}

bool isMainThread() {
  unsigned generation = g_main_generation.load();
  if (t_answered_in != generation) {
    pid_t main = g_main_thread.load();
    t_is_main = gettid() == (main != 0 ? main : getpid());
    t_answered_in = generation;
  }
  return t_is_main;
}

void beginBackgroundWork() { ++g_background_work; }

void endBackgroundWork() {
  if (--g_background_work < 0)
    objc_fatal("dispatch: endBackgroundWork without beginBackgroundWork");
  RunLoop::main().post([] {});  // wakes a settle() waiting for this work
}

}  // namespace dispatch
