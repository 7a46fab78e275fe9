// LocalAuthentication as the library uses it, and the category method through
// which a view controller asks for authentication.
#pragma once

#include "runtime/block.h"
#include "runtime/objc.h"

namespace host {

// Biometrics with the device passcode as fallback.
inline constexpr long kLAPolicyDeviceOwnerAuthentication = 2;

Strong<objc_object> newAuthenticationContext();
BOOL canEvaluatePolicy(id context, long policy);
// `reply` is called once, on a queue of the platform's, with (success, error).
void evaluatePolicy(id context, long policy, id localizedReason, Block<void(BOOL, id)>* reply);

// Adds `authenticateWithCompletion:` to UIViewController (the category Velmo).
void addAuthenticateWithCompletion(void (*implementation)(id, SEL, id));
// Sends `authenticateWithCompletion:` to a view controller.
void authenticateWithCompletion(id viewController, Block<void(BOOL)>* completion);

}  // namespace host
