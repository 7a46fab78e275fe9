#include "platform/localauth/face_id.h"

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsbundle.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"

namespace localauth {
namespace {

bool allowListHolds(const std::string& service, id identifier) {
  plist::Result lists = plist::readFile(device::devicePath(kAllowListsPath));
  if (!foundation::isDictionary(lists.value)) return false;
  id list = static_cast<NSDictionary*>(lists.value.get())->find(foundation::makeString(service));
  return foundation::isArray(list) && msg<BOOL>(list, "containsObject:"_sel, identifier);
}

}  // namespace

bool faceIdOffered() {
  objc::AutoreleasePool pool;
  if (device::readConfig().biometry != "face") return false;
  id bundle = msg<id>(foundation::bundleClass(), "mainBundle"_sel);
  if (bundle == nullptr) return false;
  id info = msg<id>(bundle, "infoDictionary"_sel);
  if (!foundation::isDictionary(info) ||
      !foundation::isString(msg<id>(info, "objectForKey:"_sel,
                                    static_cast<id>(foundation::makeString(kFaceIdUsageKey))))) {
    return false;
  }
  id identifier = msg<id>(bundle, "bundleIdentifier"_sel);
  return foundation::isString(identifier) && allowListHolds(kFaceIdService, identifier);
}

}  // namespace localauth
