#include "tests/phone/local_authentication.h"

namespace velmo::phone {

LocalAuthentication::LocalAuthentication(Runtime& runtime, Blocks& blocks, DispatchQueues& dispatch)
    : rt_(runtime), blocks_(blocks), dispatch_(dispatch) {
  rt_.DefineClass("NSError");
  rt_.DefineClass("LAContext")
      .Method("canEvaluatePolicy:error:", "B@:q^@",
              [this](Msg& m) -> Value {
                checked_.push_back(m.I(0));
                if (!can_evaluate_ && m.U(1) != 0) {
                  uint64_t error = rt_.Autorelease(rt_.AllocObject(&rt_.Class("NSError")));
                  rt_.emulator().Write64(m.U(1), error);
                }
                return can_evaluate_;
              })
      .Method("evaluatePolicy:localizedReason:reply:", "v@:q@@?", [this](Msg& m) -> Value {
        if (m.U(2) == 0) throw ModelError("evaluatePolicy:localizedReason:reply: with no reply");
        Evaluation e;
        e.context = rt_.Retain(m.self());
        e.policy = m.I(0);
        e.reason = m.U(1) ? m.Str(1) : "<nil>";
        e.reply = blocks_.Copy(m.U(2));
        evaluations_.push_back(e);
        return {};
      });
}

void LocalAuthentication::Reply(size_t index, bool success) {
  if (index >= evaluations_.size()) throw ModelError("no such evaluation");
  Evaluation& e = evaluations_[index];
  if (e.reply == 0) throw ModelError("the platform replies once per evaluation");
  uint64_t reply = e.reply, context = e.context;
  e.reply = 0;
  dispatch_.OffMain([&] {
    uint64_t pool = rt_.PushPool();
    uint64_t error = success ? 0 : rt_.Autorelease(rt_.AllocObject(&rt_.Class("NSError")));
    blocks_.Invoke(reply, "v@?B@", {Value(success), Value(error)});
    rt_.PopPool(pool);
  });
  blocks_.Release(reply);
  rt_.Release(context);
}

}  // namespace velmo::phone
