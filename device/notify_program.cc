// velmo-device notify: posts a Darwin notification, or with --watch prints
// `notified NAME` for each delivery until its input closes.
#include <unistd.h>

#include "device/console.h"
#include "device/programs.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/nsstring.h"
#include "platform/notify/notify.h"

namespace program {
namespace {

void printNotified(CFNotificationCenterRef, void*, CFStringRef name, const void*, CFDictionaryRef) {
  print("notified " + foundation::stdString(name));
}

}  // namespace

int notifyMain(const Options& options) {
  dispatch::markMainThread();
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  if (options.positional.size() != 1) {
    print("error: give exactly one notification name");
    return 2;
  }
  if (std::string e = notify::nameError(options.positional[0]); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  objc::AutoreleasePool pool;
  NSString* name = foundation::makeString(options.positional[0]);
  auto center = CFNotificationCenterGetDarwinNotifyCenter();
  if (!options.has("--watch")) {
    CFNotificationCenterPostNotification(center, name, nullptr, nullptr, true);
    return 0;
  }
  CFNotificationCenterAddObserver(center, nullptr, &printNotified, name, nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
  Console console("notify");
  console.addQuit("stop watching");
  return console.run();
}

}  // namespace program
