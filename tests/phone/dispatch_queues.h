// DispatchQueues: the model of libdispatch that a loaded image sees. The
// main queue (&_dispatch_main_q) and the global queues are FIFO lists of
// copied blocks; nothing runs until the test drains them. DrainMain() runs
// the main queue's blocks, as the main thread's run loop would;
// DrainBackground() runs the others off the main queue. OffMain() runs C++
// code (typically a reply block's invocation) as if on another queue.
// on_main() is what the model's thread checks (pthread_main_np) read.
// Used from one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "tests/phone/blocks.h"
#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class DispatchQueues {
 public:
  DispatchQueues(Runtime& runtime, Blocks& blocks);

  uint64_t main_queue() const { return main_queue_; }
  uint64_t global_queue() const { return global_queue_; }
  size_t pending_main() const { return main_.size(); }
  size_t pending_background() const { return background_.size(); }
  // Each returns how many blocks ran.
  size_t DrainMain();
  size_t DrainBackground();
  bool on_main() const { return on_main_; }
  void OffMain(const std::function<void()>& fn);

 private:
  size_t Drain(std::deque<uint64_t>& queue, bool on_main);

  Runtime& rt_;
  Blocks& blocks_;
  uint64_t main_queue_, global_queue_;
  std::deque<uint64_t> main_, background_;
  bool on_main_ = true;
};

}  // namespace velmo::phone
