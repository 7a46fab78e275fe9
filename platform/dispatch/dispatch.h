// Dispatch queues: the main queue, run by the main thread's run loop, and a
// global background queue with a thread of its own.
//
//   dispatch_async(dispatch_get_main_queue(), makeBlock<void()>([] { ... }));
//
// dispatch_async retains the block until it has run. Tasks on one queue run
// one at a time, in the order they were posted, from whatever thread posted
// them.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include "platform/objc/block.h"

struct dispatch_queue_s;
using dispatch_queue_t = dispatch_queue_s*;

dispatch_queue_t dispatch_get_main_queue();
dispatch_queue_t dispatch_get_global_queue(long identifier, unsigned long flags);
void dispatch_async(dispatch_queue_t queue, Block<void()>* block);
inline void dispatch_async(dispatch_queue_t queue, const Strong<Block<void()>>& block) {
  dispatch_async(queue, block.get());
}
