// LAContext: asks the device owner to authenticate.
//
//   -canEvaluatePolicy:error: (long, id* error) -> BOOL. Policy 2
//   (LAPolicyDeviceOwnerAuthentication) can be evaluated when the device has
//   a passcode; otherwise NO, and *error (when error is not nullptr) is set
//   to an autoreleased NSError, code LAErrorPasscodeNotSet. Sets -biometryType
//   (LABiometryTypeFaceID when the device has Face ID, else none).
//   -evaluatePolicy:localizedReason:reply: (long, id NSString, id block of
//   void(BOOL success, id error)) shows a prompt with the reason (prompt.h)
//   and replies exactly once, on a background thread. When the policy cannot
//   be evaluated no prompt is shown: the reply (on the background thread as
//   always) carries NO and the error that -canEvaluatePolicy:error: gives.
//
// Requests the phone refuses by raising an exception (a policy other than 1
// or 2, a missing or empty reason) are answered with NO and an error of this
// device's code LAErrorInvalidRequest; a nil reply block makes the call do
// nothing. Only policy 2 is evaluated: policy 1 is answered as
// LAErrorInvalidRequest too.
//
// When the app is about to leave the screen, every pending evaluation ends
// with NO and LAErrorSystemCancel, as on the phone.
//
// Errors are in the domain "com.apple.LocalAuthentication".
//
// Ownership: a pending evaluation keeps its context, reason and reply block.
//
// Thread safety: a context may be used from any thread.
#pragma once

#include "platform/objc/nsobject.h"

inline constexpr char LAErrorDomain[] = "com.apple.LocalAuthentication";

enum LAPolicy : long {
  LAPolicyDeviceOwnerAuthenticationWithBiometrics = 1,
  LAPolicyDeviceOwnerAuthentication = 2,
};

enum LAError : long {
  LAErrorAuthenticationFailed = -1,
  LAErrorUserCancel = -2,
  LAErrorUserFallback = -3,
  LAErrorSystemCancel = -4,
  LAErrorPasscodeNotSet = -5,
  LAErrorBiometryNotAvailable = -6,
  LAErrorInvalidRequest = -1000,  // this device's own: what the phone raises an exception for
};

enum LABiometryType : long {
  LABiometryTypeNone = 0,
  LABiometryTypeFaceID = 2,
};

struct LAContext : NSObject {
  long biometryType = LABiometryTypeNone;
};

namespace localauth {
Class contextClass();
}  // namespace localauth
