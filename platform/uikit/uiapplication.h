// The application's life cycle and what stands between the owner's finger and
// the app.
//
// Life-cycle notification names, as the platform spells them: the device
// programs make NSNotifications with these names and hand them to the
// handlers that a real app would have registered.
//
// System alerts: a system prompt (the authentication prompt) is drawn over
// the app in a window of its own. While one is on screen it is modal: no
// touch reaches the app. The service that shows the prompt says when one is
// up (setSystemAlert); the app's input path asks (systemAlert) before it
// delivers a touch.
//
// Resigning active: when the app is about to leave the screen, the handlers
// added with addWillResignActiveHandler run, in the order they were added,
// before the app is told it entered the background. System services use this
// to end what must not outlive the app on screen (a prompt gets the system's
// cancel).
//
// Thread safety: every function may be called from any thread. Handlers run
// on the thread that calls applicationWillResignActive, with no lock held.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/nsstring.h"

extern NSString* const UIApplicationDidEnterBackgroundNotification;
extern NSString* const UIApplicationWillEnterForegroundNotification;
extern NSString* const UIApplicationDidBecomeActiveNotification;
extern NSString* const UIApplicationWillResignActiveNotification;

namespace uikit {

// A system alert over the app: `description` names it for a person
// ("the authentication prompt"); nullopt takes it away.
void setSystemAlert(std::optional<std::string> description);
// The system alert on screen, if any.
std::optional<std::string> systemAlert();

void addWillResignActiveHandler(std::function<void()> handler);
// The app is about to leave the screen: runs the handlers.
void applicationWillResignActive();

}  // namespace uikit
