// libdispatch of the simulated device.
#pragma once

#include "platform/dispatch/dispatch.h"
