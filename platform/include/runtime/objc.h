// The runtime's C interface and object types, as the simulated device
// provides them (see platform/objc/runtime.h).
#pragma once

#include "platform/foundation/nsstring.h"
#include "platform/objc/runtime.h"
