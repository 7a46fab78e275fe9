// velmo-device demo: a walk through the system on a fresh device.
#include "device/console.h"
#include "device/programs.h"

namespace program {

int demoMain(const Options&) {
  print("error: the demo is not written yet");
  return 1;
}

}  // namespace program
