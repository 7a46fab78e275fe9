// LocalAuthentication: LAContext as the tweak uses it. Whether the device
// can evaluate a policy is the test's choice; each evaluation is recorded
// with its policy, its reason text and its reply block, and waits until the
// test answers it with Reply(), which calls the block off the main queue, as
// the platform's own queue would. A pending evaluation keeps its context and
// its reply alive, as the platform does. Used from one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/phone/blocks.h"
#include "tests/phone/dispatch_queues.h"
#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class LocalAuthentication {
 public:
  struct Evaluation {
    uint64_t context = 0;
    int64_t policy = 0;
    std::string reason;
    uint64_t reply = 0;  // the copied reply block; 0 once answered
  };

  LocalAuthentication(Runtime& runtime, Blocks& blocks, DispatchQueues& dispatch);

  void set_can_evaluate(bool can) { can_evaluate_ = can; }
  // The policies canEvaluatePolicy:error: was asked about, in order.
  const std::vector<int64_t>& checked_policies() const { return checked_; }
  const std::vector<Evaluation>& evaluations() const { return evaluations_; }
  // Answers evaluation `index` once: the reply block runs off the main queue
  // with (success, error), then the platform lets go of the block and context.
  void Reply(size_t index, bool success);

 private:
  Runtime& rt_;
  Blocks& blocks_;
  DispatchQueues& dispatch_;
  bool can_evaluate_ = true;
  std::vector<int64_t> checked_;
  std::vector<Evaluation> evaluations_;
};

}  // namespace velmo::phone
