#include "tweak/host/authentication.h"

#include "runtime/class_reference.h"
#include "runtime/message.h"

namespace host {

Strong<objc_object> newAuthenticationContext() {
  return adopt(msg<id>("LAContext"_cls, "new"_sel));
}

BOOL canEvaluatePolicy(id context, long policy) {
  id error = nullptr;
  return msg<BOOL>(context, "canEvaluatePolicy:error:"_sel, policy, &error);
}

void evaluatePolicy(id context, long policy, id localizedReason, Block<void(BOOL, id)>* reply) {
  msg<void>(context, "evaluatePolicy:localizedReason:reply:"_sel, policy, localizedReason, reply);
}

void addAuthenticateWithCompletion(void (*implementation)(id, SEL, id)) {
  addMethod("UIViewController"_cls, "authenticateWithCompletion:"_sel, implementation);
}

void authenticateWithCompletion(id viewController, Block<void(BOOL)>* completion) {
  msg<void>(viewController, "authenticateWithCompletion:"_sel, completion);
}

}  // namespace host
