// velmo-device clock: shows or moves the device's clock. Waits that the
// device imposes (the passcode lock-out) run on it, so they can be passed
// without waiting:
//
//   velmo-device clock --root DIR               clock 2026-12-07T18:00:00Z (+0s)
//   velmo-device clock --root DIR advance 5m    clock 2026-12-07T18:05:00Z (+300s)
#include <ctime>
#include <string>

#include "device/console.h"
#include "device/programs.h"
#include "platform/foundation/device_clock.h"

namespace program {
namespace {

std::string clockLine() {
  int64_t now = device::clockNow();
  std::time_t t = static_cast<std::time_t>(now);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string("clock ") + text + " (+" + std::to_string(device::clockOffset()) + "s)";
}

}  // namespace

int clockMain(const Options& options) {
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  const auto& words = options.positional;
  if (words.empty()) {
    print(clockLine());
    return 0;
  }
  int64_t seconds = 0;
  if (words.size() != 2 || words[0] != "advance" || !device::parseDuration(words[1], &seconds)) {
    print("error: usage: clock --root DIR [advance <N>s|m|h|d]");
    return 2;
  }
  if (std::string e = device::advanceClock(seconds); !e.empty()) {
    print("error: " + e);
    return 1;
  }
  print(clockLine());
  return 0;
}

}  // namespace program
