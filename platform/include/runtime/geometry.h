// CoreGraphics' geometry of the simulated device.
#pragma once

#include "platform/uikit/geometry.h"
