// Strong references and autorelease pools of the simulated device.
#pragma once

#include "platform/objc/strong.h"
#include "runtime/objc.h"
