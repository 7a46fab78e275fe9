// The Darwin notify center of the simulated device; its CFString is the
// simulated NSString itself.
#pragma once

#include "platform/notify/notify.h"

inline CFStringRef toCFString(NSString* string) { return string; }
