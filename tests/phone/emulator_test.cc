#include "tests/phone/emulator.h"
