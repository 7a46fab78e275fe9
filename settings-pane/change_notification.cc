#include "settings-pane/change_notification.h"

#include "runtime/notify.h"
#include "settings-pane/preferences_domain.h"

namespace vlp {

void postChangeNotification() {
  CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                       toCFString(changedNotification()), nullptr, nullptr, true);
}

}  // namespace vlp
