// Velmo's options: process-wide variables exported under the names of their
// settings keys, filled from the settings file when the library loads and
// refilled by reloadSettings whenever the settings pane posts its change
// notification.
//
// Thread safety: none needed; the variables are written by reloadSettings and
// read by the hooks, all on the host's main thread.
#pragma once

#include "runtime/literal.h"
#include "runtime/notify.h"

extern "C" {
extern BOOL lockRecentlyDeleted;
extern BOOL popToRoot;
extern BOOL hiddenItemCountEnabled;
extern BOOL showLockIcon;
extern long long hiddenItemCount;
// YES from a successful unlock until the album list is popped to its root.
extern BOOL accessed;
// The text of the authentication prompt and the Face ID usage description.
extern NSString* reason;
}

namespace velmo {

// The file of the preferences domain com.qel.velmopreferences.
NSString* settingsPath();
// The Darwin notification the settings pane posts after a change.
NSString* changedNotification();

}  // namespace velmo

// Rereads the four options and the count from the settings file; keeps every
// value when there is no file. Also the notification's callback, which is why
// it takes (and ignores) the notification center's arguments.
void reloadSettings(CFNotificationCenterRef center = nullptr, void* observer = nullptr,
                    CFStringRef name = nullptr, const void* object = nullptr,
                    CFDictionaryRef userInfo = nullptr);
