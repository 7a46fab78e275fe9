#include "platform/uikit/uidevice.h"

#include <gtest/gtest.h>

#include "platform/foundation/nsstring.h"
#include "platform/foundation/test_device_root.h"

namespace {

TEST(Device, AnswersFromTheDeviceConfiguration) {
  testing_support::testDeviceRoot();
  objc::AutoreleasePool pool;
  device::Config config;
  config.model = "iPad";
  config.systemVersion = "14.8";
  ASSERT_EQ(device::writeConfig(config), "");
  id current = msg<id>(uikit::deviceClass(), "currentDevice"_sel);
  EXPECT_EQ(current, msg<id>(uikit::deviceClass(), "currentDevice"_sel));
  EXPECT_EQ(foundation::stdString(msg<id>(current, "model"_sel)), "iPad");
  EXPECT_EQ(foundation::stdString(msg<id>(current, "systemVersion"_sel)), "14.8");
  EXPECT_EQ(msg<long>(current, "userInterfaceIdiom"_sel), UIUserInterfaceIdiomPad);

  config.model = "iPhone";
  ASSERT_EQ(device::writeConfig(config), "");
  EXPECT_EQ(foundation::stdString(msg<id>(current, "model"_sel)), "iPhone");
  EXPECT_EQ(msg<long>(current, "userInterfaceIdiom"_sel), UIUserInterfaceIdiomPhone);
}

}  // namespace
