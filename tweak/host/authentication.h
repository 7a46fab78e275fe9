// LocalAuthentication as the library uses it, and the category method through
// which a view controller asks for authentication. Defined inline, so that
// each call compiles to its sends alone at the caller.
#pragma once

#include "runtime/block.h"
#include "runtime/class_reference.h"
#include "runtime/message.h"
#include "runtime/objc.h"
#include "runtime/strong.h"

namespace host {

// Biometrics with the device passcode as fallback.
inline constexpr long kLAPolicyDeviceOwnerAuthentication = 2;

inline Strong<objc_object> newAuthenticationContext() {
  return adopt(msg<id>("LAContext"_cls, "new"_sel));
}

inline BOOL canEvaluatePolicy(id context, long policy) {
  id error = nullptr;
  return msg<BOOL>(context, "canEvaluatePolicy:error:"_sel, policy, &error);
}

// `reply` is called once, on a queue of the platform's, with (success, error).
inline void evaluatePolicy(id context, long policy, id localizedReason,
                           Block<void(BOOL, id)>* reply) {
  msg<void>(context, "evaluatePolicy:localizedReason:reply:"_sel, policy, localizedReason, reply);
}

// Adds `authenticateWithCompletion:` to UIViewController (the category Velmo).
inline void addAuthenticateWithCompletion(void (*implementation)(id, SEL, id)) {
  addMethod("UIViewController"_cls, "authenticateWithCompletion:"_sel, implementation);
}

// Sends `authenticateWithCompletion:` to a view controller.
inline void authenticateWithCompletion(id viewController, Block<void(BOOL)>* completion) {
  msg<void>(viewController, "authenticateWithCompletion:"_sel, completion);
}

}  // namespace host
