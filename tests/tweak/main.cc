// The tweak's behaviour tests: the device is set up, and the library loaded,
// before any test runs, as the Photos program does at its start.
//
//   tweak_behaviour_test [gtest flags] --model iPhone|iPad --system-version V
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/tweak/tweak_device.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tweak_test::Configuration configuration;
  if (std::string e = tweak_test::parseConfiguration(argc, argv, &configuration); !e.empty()) {
    std::fprintf(stderr, "tweak_behaviour_test: %s\n", e.c_str());
    return 2;
  }
  if (std::string e = tweak_test::bootDevice(configuration); !e.empty()) {
    std::fprintf(stderr, "tweak_behaviour_test: device set-up failed: %s\n", e.c_str());
    tweak_test::shutDownDevice();
    return 1;
  }
  std::printf("device: %s, system version %s\n", configuration.model.c_str(),
              configuration.systemVersion.c_str());
  int status = RUN_ALL_TESTS();
  tweak_test::shutDownDevice();
  return status;
}
