#include "settings-pane/change_notification.h"

#include "platform/notify/notify.h"
#include "settings-pane/preferences_domain.h"

namespace vlp {

void postChangeNotification() {
  CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                       changedNotification(), nullptr, nullptr, true);
}

}  // namespace vlp
