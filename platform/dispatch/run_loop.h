// The main thread's run loop: it runs the main queue's tasks and watches file
// descriptors (standard input, notification sockets). The device programs
// drive it; the system only sees the main queue.
//
// The queue is swapped out under its lock and the swapped-out tasks run with
// the lock released, so a task may post more tasks (they run on the next turn).
// Each task runs inside an autorelease pool.
//
// Thread safety: post() and the in-flight counters may be used from any
// thread; everything else only from the main thread (the thread that first
// called RunLoop::main(), or markMainThread()).
#pragma once

#include <functional>

namespace dispatch {

class RunLoop {
 public:
  static RunLoop& main();

  // Posts a task for the main thread and wakes the loop.
  void post(std::function<void()> task);
  // Calls `on_readable` on the main thread whenever `fd` is readable.
  void watch(int fd, std::function<void()> on_readable);
  void unwatch(int fd);

  // Runs every posted task, then waits up to `timeout_ms` (-1: forever) for a
  // task or a watched descriptor, and runs what became ready. Returns false
  // when it timed out with nothing to do.
  bool runOnce(int timeout_ms);
  // Runs until the main queue is empty and no background work is in flight
  // (work that will post to the main queue when done), or `timeout_ms` passes.
  // Returns false on timeout. Watched descriptors are not served meanwhile.
  bool settle(int timeout_ms = 10000);
  // Runs until stop().
  void run();
  void stop();

  bool isMainThread() const;
};

// Marks the calling thread as the main thread. Programs call it first thing.
void markMainThread();
bool isMainThread();

// Work in flight on other threads that will post to the main queue (an
// authentication reply, a background task). settle() waits for it.
void beginBackgroundWork();
void endBackgroundWork();

}  // namespace dispatch
