// libdispatch as the deliverables use it: the main queue, a global queue and
// dispatch_async, which copies the block and releases it after it has run.
#pragma once

#include "runtime/block.h"

struct dispatch_queue_s;
using dispatch_queue_t = dispatch_queue_s*;

extern "C" {
extern dispatch_queue_s _dispatch_main_q;
dispatch_queue_t dispatch_get_global_queue(long identifier, unsigned long flags);
void dispatch_async(dispatch_queue_t queue, Block<void()>* block);
}

inline dispatch_queue_t dispatch_get_main_queue() { return &_dispatch_main_q; }
inline void dispatch_async(dispatch_queue_t queue, const Strong<Block<void()>>& block) {
  dispatch_async(queue, block.get());
}
