#include "tests/phone/dispatch_queues.h"

namespace velmo::phone {

DispatchQueues::DispatchQueues(Runtime& runtime, Blocks& blocks) : rt_(runtime), blocks_(blocks) {
  Emulator& emu = rt_.emulator();
  main_queue_ = emu.Alloc(128);
  global_queue_ = emu.Alloc(128);
  rt_.Data("_dispatch_main_q", main_queue_);
  rt_.Function("dispatch_get_global_queue", "^vqQ",
               [this](Msg&) -> Value { return global_queue_; });
  auto enqueue = [this](uint64_t queue, uint64_t block, const char* function) {
    if (block == 0) throw ModelError("dispatch with a nil block");
    if (queue == main_queue_)
      main_.push_back(blocks_.Copy(block, function));
    else if (queue == global_queue_)
      background_.push_back(blocks_.Copy(block, function));
    else
      throw ModelError("dispatch to a queue the model does not know");
  };
  rt_.Function("dispatch_async", "v^v@?", [enqueue](Msg& m) -> Value {
    enqueue(m.U(0), m.U(1), "dispatch_async");
    return {};
  });
  // Delays are not modelled: the block waits in its queue like any other.
  rt_.Function("dispatch_after", "vQ^v@?", [enqueue](Msg& m) -> Value {
    enqueue(m.U(1), m.U(2), "dispatch_after");
    return {};
  });
  rt_.Function("dispatch_time", "QQq", [](Msg& m) -> Value { return m.U(0) + m.U(1); });
  rt_.Function("pthread_main_np", "i", [this](Msg&) -> Value { return on_main_ ? 1 : 0; });
}

size_t DispatchQueues::Drain(std::deque<uint64_t>& queue, bool on_main) {
  bool was = on_main_;
  on_main_ = on_main;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{on_main_, was};
  size_t ran = 0;
  while (!queue.empty()) {
    if (++ran > 100000) throw ModelError("a queue kept refilling itself: over 100000 blocks");
    uint64_t block = queue.front();
    queue.pop_front();
    blocks_.Invoke(block, "v@?");
    blocks_.Release(block);
  }
  return ran;
}

size_t DispatchQueues::DrainMain() { return Drain(main_, true); }
size_t DispatchQueues::DrainBackground() { return Drain(background_, false); }

void DispatchQueues::OffMain(const std::function<void()>& fn) {
  bool was = on_main_;
  on_main_ = false;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{on_main_, was};
  fn();
}

}  // namespace velmo::phone
