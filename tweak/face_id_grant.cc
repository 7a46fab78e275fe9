#include "tweak/face_id_grant.h"

#include "runtime/literal.h"
#include "tweak/host/foundation.h"
#include "tweak/host/privacy.h"
#include "tweak/settings.h"

namespace velmo {

id (*originalInfoDictionary)(id, SEL) = nullptr;
void (*originalSetDefaultAllowedIdentifiersList)(id, SEL, id) = nullptr;

id usageText(id self, SEL _cmd) {
  id info = originalInfoDictionary(self, _cmd);
  Strong<objc_object> copy =
      info != nullptr ? host::newMutableCopy(info) : host::newMutableDictionary();
  host::setObjectForKey(copy, reason, "NSFaceIDUsageDescription"_ns);
  return copy.autorelease();
}

void allowList(id self, SEL _cmd, id list) {
  if (!host::isEqualToString(host::serviceName(self), "kTCCServiceFaceID"_ns)) {
    originalSetDefaultAllowedIdentifiersList(self, _cmd, list);
    return;
  }
  // A missing list starts empty, so the grant is never lost with it.
  Strong<objc_object> identifiers =
      list != nullptr ? host::newMutableCopy(list) : host::newMutableArray();
  host::addObject(identifiers, "com.apple.mobileslideshow"_ns);
  host::addObject(identifiers, "com.apple.PhotosUICore"_ns);
  Strong<objc_object> frozen = host::newCopy(identifiers);
  originalSetDefaultAllowedIdentifiersList(self, _cmd, frozen);
}

}  // namespace velmo
