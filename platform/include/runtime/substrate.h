// The hooking runtime of the simulated device (platform/substrate/substrate.h).
#pragma once

#include "platform/substrate/substrate.h"
