// The authentication gate: the category Velmo on UIViewController adds
// authenticateWithCompletion:, which asks the device owner to authenticate
// (biometrics, with the passcode as fallback) and reports the outcome to a
// block taking one BOOL.
//
// The completion runs exactly once: on the main queue after the owner has
// answered the prompt, or at once on the calling thread, before the method
// returns, when the device cannot evaluate the policy (no passcode set).
// It is retained until it has run.
#pragma once

#include "runtime/objc.h"

namespace velmo {

void authenticateWithCompletion(id self, SEL _cmd, id completion);
// Attaches the category to UIViewController.
void addVelmoCategory();

}  // namespace velmo
