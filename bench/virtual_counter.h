// The yardstick of a message send: a C++ virtual call. The implementation
// lives in its own file, so the compiler of the benchmark sees no override it
// could call directly or inline.
#pragma once

#include <memory>

namespace bench {

class Bumper {
 public:
  virtual ~Bumper() = default;
  virtual long bump(long by) = 0;
};

std::unique_ptr<Bumper> newCountingBumper();

}  // namespace bench
