// Fuzz target: the settings file as Velmo reads it. Each input becomes the
// settings file of a scratch device; reloadSettings reads it through the
// platform's file and property-list checks and libplist, and converts each
// value with boolValue / longLongValue. Besides crashes, hangs and leaks, it
// checks the one rule a reader of the file can state without restating the
// code: a file that is not a dictionary reads as an empty one, every option
// NO and the count 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "tests/fuzz/fuzz_device.h"
#include "tweak/settings.h"

namespace {

std::string& settingsFile() {
  static std::string path;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::makeScratchDevice();
  objc::AutoreleasePool pool;
  settingsFile() = device::devicePath(foundation::stdString(velmo::settingsPath()));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes = fuzz_support::asText(data, size);
  fuzz_support::putFile(settingsFile(), bytes);
  // Values from "before": a reload of a file that is no dictionary must clear them.
  lockRecentlyDeleted = popToRoot = hiddenItemCountEnabled = showLockIcon = YES;
  hiddenItemCount = 12345;
  objc::AutoreleasePool pool;
  reloadSettings();
  if (!foundation::isDictionary(plist::parse(bytes).value)) {
    if (lockRecentlyDeleted || popToRoot || hiddenItemCountEnabled || showLockIcon ||
        hiddenItemCount != 0) {
      std::abort();  // a file that does not parse as a dictionary must read as empty
    }
  }
  return 0;
}
