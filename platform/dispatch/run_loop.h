// The main thread's run loop: it runs the main queue's tasks and watches file
// descriptors (standard input, notification sockets). The device programs
// drive it; the system only sees the main queue.
//
// The queue is swapped out under its lock and the swapped-out tasks run with
// the lock released, so a task may post more tasks (they run on the next turn).
// Each task, and each call of a watcher, runs inside an autorelease pool.
//
// A descriptor's watcher is called when the descriptor is readable, at end of
// file and on error (poll's POLLIN, POLLHUP, POLLERR); a watcher that sees end
// of file should unwatch its descriptor. A descriptor closed while still
// watched is dropped from the watch list.
//
// There is one run loop, RunLoop::main(); it lives until the process ends.
// After fork() the child gets a fresh wake-up descriptor and an empty queue.
//
// Thread safety: post(), stop() and the in-flight counters may be used from
// any thread; everything else only from the main thread (the process's first
// thread, or the thread that called markMainThread()); a call from another
// thread aborts.
#pragma once

#include <functional>

namespace dispatch {

class RunLoop {
 public:
  static RunLoop& main();

  // Posts a task for the main thread and wakes the loop.
  void post(std::function<void()> task);
  // Calls `on_readable` on the main thread whenever `fd` is readable. Watching
  // a descriptor again replaces its watcher.
  void watch(int fd, std::function<void()> on_readable);
  void unwatch(int fd);

  // Runs every posted task, then waits up to `timeout_ms` (-1: forever) for a
  // task or a watched descriptor, and runs what became ready. Returns false
  // when it timed out with nothing to do. When posted tasks ran at the start,
  // it does not wait: ready descriptors are served and it returns true.
  bool runOnce(int timeout_ms);
  // Runs until the main queue is empty and no background work is in flight
  // (work that will post to the main queue when done), or `timeout_ms` passes.
  // Returns false on timeout. Watched descriptors are not served meanwhile.
  bool settle(int timeout_ms = 10000);
  // Runs until stop(). A stop() that comes before run() ends the next run().
  void run();
  void stop();

  bool isMainThread() const;

  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

 private:
  struct State;
  RunLoop();
  State* state_;  // never freed: the loop lives as long as the process
};

// Marks the calling thread as the main thread. Programs call it first thing.
void markMainThread();
bool isMainThread();

// Work in flight on other threads that will post to the main queue (an
// authentication reply, a background task). settle() waits for it.
void beginBackgroundWork();
void endBackgroundWork();

}  // namespace dispatch
