#include "tweak/authentication.h"

#include "runtime/dispatch.h"
#include "tweak/host/authentication.h"
#include "tweak/settings.h"

namespace velmo {

void authenticateWithCompletion(id, SEL, id completion) {
  Strong<Block<void(BOOL)>> done = copyBlock(block_cast<void(BOOL)>(completion));
  Strong<objc_object> context = host::newAuthenticationContext();
  if (!host::canEvaluatePolicy(context, host::kLAPolicyDeviceOwnerAuthentication)) {
    if (done) done->call(NO);
    return;
  }
  auto reply = makeBlock<void(BOOL, id)>([done](BOOL success, id /*error*/) {
    dispatch_async(dispatch_get_main_queue(), makeBlock<void()>([done, success] {
                     if (done) done->call(success);
                   }));
  });
  host::evaluatePolicy(context, host::kLAPolicyDeviceOwnerAuthentication, reason, reply.get());
}

void addVelmoCategory() { host::addAuthenticateWithCompletion(&authenticateWithCompletion); }

}  // namespace velmo
