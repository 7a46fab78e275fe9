#include "platform/foundation/device_clock.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"

namespace device {
namespace {

constexpr int64_t kMaxStep = int64_t{100} * 366 * 24 * 3600;
// How far ahead of the machine the device's clock may run in all: far beyond
// any wait, and far from where the seconds would overflow.
constexpr int64_t kMaxOffset = kMaxStep * 10;

int64_t machineNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int64_t clockOffset() {
  objc::AutoreleasePool pool;
  plist::Result read = plist::readFile(devicePath(kClockPath));
  if (!foundation::isDictionary(read.value)) return 0;
  id value = static_cast<NSDictionary*>(read.value.get())->find("offsetSeconds"_ns);
  if (!foundation::isNumber(value)) return 0;
  long long offset = msg<long long>(value, "longLongValue"_sel);
  // A damaged file cannot take the clock back: too much is the most allowed.
  return offset <= 0 ? 0 : std::min<int64_t>(offset, kMaxOffset);
}

int64_t clockNow() { return machineNow() + clockOffset(); }

std::string advanceClock(int64_t seconds) {
  if (seconds < 0 || seconds > kMaxStep) return "the clock moves forward by up to 100 years";
  objc::AutoreleasePool pool;
  std::string path = devicePath(kClockPath);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) return "cannot create the folder of " + path + ": " + ec.message();
  int64_t offset = clockOffset();
  if (seconds > kMaxOffset - offset) {
    return "the device's clock is already " + std::to_string(offset / 86400) +
           " days ahead; it runs at most 1000 years ahead";
  }
  Strong<NSDictionary> dict = foundation::newDictionary(/*mutable_=*/true);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(offset + seconds),
            "offsetSeconds"_ns);
  return plist::writeFile(path, dict);
}

bool parseDuration(const std::string& text, int64_t* seconds) {
  if (text.empty()) return false;
  int64_t unit = 1;
  size_t digits = text.size();
  switch (text.back()) {
    case 's':
      unit = 1;
      --digits;
      break;
    case 'm':
      unit = 60;
      --digits;
      break;
    case 'h':
      unit = 3600;
      --digits;
      break;
    case 'd':
      unit = 86400;
      --digits;
      break;
    default:
      break;
  }
  if (digits == 0) return false;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + digits, value);
  if (error != std::errc() || end != text.data() + digits || value < 0) return false;
  if (value > kMaxStep / unit) return false;
  *seconds = value * unit;
  return true;
}

}  // namespace device
