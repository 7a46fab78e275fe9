// Blocks of the simulated device (platform/objc/block.h).
#pragma once

#include "platform/objc/block.h"

// Keeps a block that was passed in (the simulated device's blocks live on the
// heap from the start, so keeping one is a retain).
template <class Sig>
Strong<Block<Sig>> copyBlock(Block<Sig>* block) {
  return Strong<Block<Sig>>(block);
}
