// UIControl (a UIView) with target-action, and UISwitch, an on/off control.
//
// UIControl: -addTarget:action:forControlEvents: (id, SEL, unsigned long),
// -removeTarget:action:forControlEvents:, -sendActionsForControlEvents:
// (unsigned long), -isEnabled/-setEnabled:. An action is sent with as many
// arguments as its selector has colons: none, the sender, or the sender and
// a nil event. A nil target is skipped.
//
// UISwitch: -isOn (and -on), -setOn: and -setOn:animated: (BOOL, BOOL), which
// do not send actions, as on the platform; -onTintColor/-setOnTintColor:;
// the tint colour is the view's. uikit::userToggle plays the owner flipping
// the switch: the state changes and value-changed actions are sent.
// A switch describes itself as "switch on" or "switch off", then its tint
// colours when set: "switch on tint rgba(...) onTint rgba(...)".
//
// Ownership: targets are not retained (as on the platform); the owner of a
// control keeps its targets alive, typically by being the target.
//
// Thread safety: main thread only.
#pragma once

#include <vector>

#include "platform/uikit/uicolor.h"
#include "platform/uikit/uiview.h"

enum UIControlEvents : unsigned long {
  UIControlEventTouchDown = 1ul << 0,
  UIControlEventTouchUpInside = 1ul << 6,
  UIControlEventValueChanged = 1ul << 12,
  UIControlEventPrimaryActionTriggered = 1ul << 13,
  UIControlEventAllEvents = 0xFFFFFFFFul,
};

struct UIControl : UIView {
  struct Target {
    id target;  // not retained
    SEL action;
    unsigned long events;
  };
  std::vector<Target> targets;
  bool enabled = true;
};

struct UISwitch : UIControl {
  bool on = false;
  bool lastAnimated = false;  // the animated flag of the latest -setOn:animated:
  Strong<UIColor> onTintColor;
};

namespace uikit {

Class controlClass();
Class switchClass();

// Sends the actions registered for any of `events`, in the order they were added.
void sendActions(UIControl* control, unsigned long events);
// The owner sets the switch to `on`: when that changes its state, the state
// changes and then value-changed actions are sent, and the result is true.
// A switch already in that state is left alone and sends nothing, as a
// switch sends value-changed only when its value changes.
bool userToggle(UISwitch* control, BOOL on);

}  // namespace uikit
