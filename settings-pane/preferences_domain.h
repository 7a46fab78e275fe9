// The names the pane shares with the tweak library: the preferences domain,
// the master switch's key, and the change notification.
#pragma once

#include "runtime/literal.h"

namespace vlp {

inline NSString* preferencesDomain() { return "com.qel.velmopreferences"_ns; }
inline NSString* enabledKey() { return "enabled"_ns; }
inline NSString* changedNotification() { return "com.qel.velmopreferences/changed"_ns; }

}  // namespace vlp
