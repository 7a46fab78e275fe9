// Photos over a long run: its open descriptors and its memory stay flat over
// 100,000 commands (VELMO_SOAK_FACTOR times as many under `make soak`) that
// walk every road of the app: the album list drawn, ordinary albums opened
// and left, the Hidden album's prompt answered wrongly, cancelled and rightly
// (each answer a reply on another thread), backgrounding, the variables read.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/foundation/device.h"
#include "tests/support/device_fixture.h"

namespace {

using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::Lines;
using testing_support::soakFactor;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

int openDescriptors(pid_t pid) {
  int n = 0;
  std::error_code ec;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    ++n;
  return n;
}

// Resident memory in KiB, from /proc/<pid>/status.
long residentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// One walk through the app: 20 commands, each answered with "ok" (a wrong
// passcode and a cancel answer ok too: the command worked).
const std::vector<std::string> kWalk = {
    "albums",
    "tap Holidays",
    "back",
    "tap Hidden",
    "answer passcode 1111",
    "answer cancel",
    "tap Recently Deleted",
    "back",
    "tap Hidden",
    "answer face",
    "back",
    "tap Hidden",
    "answer passcode 1234",
    "where",
    "background",
    "foreground",
    "vars",
    "prompt",
    "tap Family",
    "back",
};

class ResourcesTest : public DeviceTest {};

TEST_F(ResourcesTest, PhotosDescriptorsAndMemoryStayFlatOverAHundredThousandCommands) {
  signal(SIGPIPE, SIG_IGN);
  if (kAddressSanitizer) {
    // Freed memory sits in ASan's quarantine (256 MB) before reuse, which
    // would look like growth: the child keeps almost none.
    std::string options = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (options + ":quarantine_size_mb=1").c_str(), 1);
  }
  initDeviceInMemory();
  // The walk answers the passcode ten thousand times: the device's verifier
  // is made anew at the lowest work factor, a tenth of a second a check being
  // the point on a phone, not here.
  ASSERT_EQ(device::writeVerifier(device::makeVerifier("1234", device::kMinPasscodeIterations),
                                  root_ + "/var/db/passcode-verifier.plist"),
            "");
  writeSettings(enabledWith({{"popToRoot", "<true/>"}, {"showLockIcon", "<true/>"}}));
  {
    auto tccd = start("tccd");  // publishes the allow lists: Face ID is offered
    ASSERT_NE(tccd->waitForLine("service kTCCServiceFaceID:", 5000), "");
  }
  auto photos = start("photos");
  testing_support::waitReady(*photos);

  const long total = 100000L * soakFactor();
  const long warm_up = total / 10;
  long sent = 0, errors = 0;
  int fds_after_warm_up = 0;
  long rss_after_warm_up = 0;
  std::string batch;
  for (const std::string& c : kWalk) batch += c + "\n";
  while (sent < total) {
    ASSERT_TRUE(photos->send(batch));
    for (size_t answered = 0; answered < kWalk.size();) {
      std::string line;
      ASSERT_TRUE(photos->nextLine(&line)) << "Photos stopped answering after " << sent;
      if (line == "ok") ++answered;
      if (line.rfind("error:", 0) == 0) {
        ++answered;
        ++errors;
      }
    }
    sent += static_cast<long>(kWalk.size());
    photos->seen.clear();
    if (sent >= warm_up && rss_after_warm_up == 0) {
      fds_after_warm_up = openDescriptors(photos->pid());
      rss_after_warm_up = residentKiB(photos->pid());
    }
  }
  int fds = openDescriptors(photos->pid());
  long rss = residentKiB(photos->pid());
  EXPECT_EQ(errors, 0) << "every command of the walk works";
  EXPECT_EQ(fds, fds_after_warm_up) << "descriptors after the warm-up and at the end";
  // Flat: a leak of even 40 bytes a command would be 3.6 MB over the run
  // (ASan's allocator keeps caches and metadata that grow a little).
  const long bound = kAddressSanitizer ? 8192 : 2048;
  EXPECT_LE(rss - rss_after_warm_up, bound) << "KiB of resident memory gained after the warm-up";
  EXPECT_EQ(photos->finish(), 0);
  std::printf(
      "[ what ran ] %ld commands to Photos; descriptors %d after the first %ld and %d at "
      "the end; resident memory %ld KiB then %ld KiB\n",
      sent, fds_after_warm_up, warm_up, fds, rss_after_warm_up, rss);
}

}  // namespace
