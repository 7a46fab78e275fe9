#include "bench/virtual_counter.h"

namespace bench {
namespace {

class CountingBumper : public Bumper {
 public:
  long bump(long by) override { return n_ += by; }

 private:
  long n_ = 0;
};

}  // namespace

std::unique_ptr<Bumper> newCountingBumper() { return std::make_unique<CountingBumper>(); }

}  // namespace bench
