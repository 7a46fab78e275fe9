#include "platform/localauth/lacontext.h"

#include <string>

#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/localauth/face_id.h"
#include "platform/localauth/nserror.h"
#include "platform/localauth/prompt.h"
#include "platform/uikit/uiapplication.h"

namespace localauth {
namespace {

// Why `policy` cannot be evaluated now, as a new error; nullptr when it can.
Strong<NSError> refusal(long policy) {
  if (policy != LAPolicyDeviceOwnerAuthentication) {
    return newError(LAErrorDomain, LAErrorInvalidRequest,
                    "Policy " + std::to_string(policy) + " is not supported.");
  }
  if (!device::hasPasscode(device::readConfig())) {
    return newError(LAErrorDomain, LAErrorPasscodeNotSet, "Passcode not set.");
  }
  return nullptr;
}

Class defineContext() {
  // A prompt does not outlive the app on screen.
  uikit::addWillResignActiveHandler([] { cancelForSystem(); });
  Class cls = objc::defineClass<LAContext>("LAContext", objc::nsobjectClass());
  addMethod(
      cls, "canEvaluatePolicy:error:"_sel, +[](id self, SEL, long policy, id* error) -> BOOL {
        static_cast<LAContext*>(self)->biometryType =
            device::readConfig().biometry == "face" ? LABiometryTypeFaceID : LABiometryTypeNone;
        Strong<NSError> why = refusal(policy);
        if (!why) return YES;
        if (error != nullptr) *error = why.autorelease();
        return NO;
      });
  addMethod(
      cls, "biometryType"_sel,
      +[](id self, SEL) -> long { return static_cast<LAContext*>(self)->biometryType; });
  addMethod(
      cls, "evaluatePolicy:localizedReason:reply:"_sel,
      +[](id self, SEL, long policy, id reason, id reply) {
        Reply* done = block_cast<void(BOOL, id)>(reply);
        if (done == nullptr) return;
        Strong<NSError> why = refusal(policy);
        if (!why && foundation::stdString(reason).empty()) {
          why = newError(LAErrorDomain, LAErrorInvalidRequest,
                         "The localized reason must not be empty.");
        }
        if (why) {
          replyWithoutPrompt(done, NO, why);
          return;
        }
        present(self, reason, done, faceIdOffered());
      });
  return cls;
}

}  // namespace

Class contextClass() {
  static Class cls = defineContext();
  return cls;
}

}  // namespace localauth
