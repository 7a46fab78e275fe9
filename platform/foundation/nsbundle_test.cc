#include "platform/foundation/nsbundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/test_device_root.h"

namespace {

using foundation::makeString;
using foundation::stdString;
using testing_support::testDeviceRoot;

// Makes a bundle folder on the device, with an Info.plist naming `identifier`
// unless it is empty.
void makeBundle(const std::string& system_path, const std::string& identifier) {
  objc::AutoreleasePool pool;
  std::string real = device::devicePath(system_path);
  std::filesystem::create_directories(real);
  if (identifier.empty()) return;
  auto info = foundation::newDictionary(true);
  msg<void>(info, "setObject:forKey:"_sel, makeString(identifier), "CFBundleIdentifier"_ns);
  msg<void>(info, "setObject:forKey:"_sel, makeString("Face ID for " + identifier),
            "NSFaceIDUsageDescription"_ns);
  ASSERT_EQ(plist::writeFile(real + "/Info.plist", info), "");
}

id bundleAt(const std::string& system_path) {
  return msg<id>(foundation::bundleClass(), "bundleWithPath:"_sel, makeString(system_path));
}

TEST(Bundle, MainBundleAndFrameworksAreListedInLoadOrder) {
  objc::AutoreleasePool pool;
  testDeviceRoot();
  makeBundle("/Applications/Test.app", "com.velmo.testapp");
  makeBundle("/System/Library/Frameworks/One.framework", "com.velmo.one");
  makeBundle("/System/Library/Frameworks/Bare.framework", "");
  foundation::setMainBundle("/Applications/Test.app");
  foundation::addLoadedBundle("/System/Library/Frameworks/One.framework");
  foundation::addLoadedBundle("/System/Library/Frameworks/Bare.framework");
  foundation::addLoadedBundle("/System/Library/Frameworks/One.framework");  // once only

  id main = msg<id>(foundation::bundleClass(), "mainBundle"_sel);
  EXPECT_EQ(stdString(msg<id>(main, "bundleIdentifier"_sel)), "com.velmo.testapp");
  EXPECT_EQ(stdString(msg<id>(main, "bundlePath"_sel)), "/Applications/Test.app");
  EXPECT_EQ(
      stdString(msg<id>(main, "objectForInfoDictionaryKey:"_sel, "NSFaceIDUsageDescription"_ns)),
      "Face ID for com.velmo.testapp");

  id all = msg<id>(foundation::bundleClass(), "allBundles"_sel);
  ASSERT_EQ(msg<unsigned long>(all, "count"_sel), 3u);
  EXPECT_EQ(msg<id>(all, "objectAtIndex:"_sel, 0ul), main);
  EXPECT_EQ(stdString(msg<id>(msg<id>(all, "objectAtIndex:"_sel, 1ul), "bundleIdentifier"_sel)),
            "com.velmo.one");
  id bare = msg<id>(all, "objectAtIndex:"_sel, 2ul);
  EXPECT_EQ(msg<id>(bare, "infoDictionary"_sel), nullptr);
  EXPECT_EQ(msg<id>(bare, "bundleIdentifier"_sel), nullptr);

  // One object per path; no object for a folder the device does not have.
  EXPECT_EQ(bundleAt("/Applications/Test.app/"), main);
  EXPECT_EQ(bundleAt("/Applications/Missing.app"), nullptr);
}

TEST(Bundle, IdentifierAndInfoKeysComeThroughAReplacedInfoDictionary) {
  objc::AutoreleasePool pool;
  testDeviceRoot();
  makeBundle("/Applications/Hooked.app", "com.velmo.hooked");
  id bundle = bundleAt("/Applications/Hooked.app");
  ASSERT_NE(bundle, nullptr);

  static IMP original = nullptr;
  auto replacement = +[](id self, SEL sel) -> id {
    id info = reinterpret_cast<id (*)(id, SEL)>(original)(self, sel);
    auto changed = adopt(static_cast<NSDictionary*>(msg<id>(info, "mutableCopy"_sel)));
    msg<void>(changed, "setObject:forKey:"_sel, "com.velmo.replaced"_ns, "CFBundleIdentifier"_ns);
    return changed.autorelease();
  };
  original = class_replaceMethod(foundation::bundleClass(), "infoDictionary"_sel,
                                 reinterpret_cast<IMP>(replacement), objc::signature<id>());
  std::string identifier = stdString(msg<id>(bundle, "bundleIdentifier"_sel));
  std::string through_key =
      stdString(msg<id>(bundle, "objectForInfoDictionaryKey:"_sel, "CFBundleIdentifier"_ns));
  class_replaceMethod(foundation::bundleClass(), "infoDictionary"_sel, original,
                      objc::signature<id>());

  EXPECT_EQ(identifier, "com.velmo.replaced");
  EXPECT_EQ(through_key, "com.velmo.replaced");
  EXPECT_EQ(stdString(msg<id>(bundle, "bundleIdentifier"_sel)), "com.velmo.hooked");
}

TEST(Bundle, ResourcesAreFoundByNameAndType) {
  objc::AutoreleasePool pool;
  testDeviceRoot();
  makeBundle("/Library/PreferenceBundles/Res.bundle", "com.velmo.res");
  std::ofstream(device::devicePath("/Library/PreferenceBundles/Res.bundle/velmo.png")) << "png";
  id bundle = bundleAt("/Library/PreferenceBundles/Res.bundle");
  EXPECT_EQ(stdString(msg<id>(bundle, "pathForResource:ofType:"_sel, "velmo"_ns, "png"_ns)),
            "/Library/PreferenceBundles/Res.bundle/velmo.png");
  EXPECT_EQ(msg<id>(bundle, "pathForResource:ofType:"_sel, "missing"_ns, "png"_ns), nullptr);
  EXPECT_EQ(msg<id>(bundle, "pathForResource:ofType:"_sel, "../Res"_ns, "bundle"_ns), nullptr);
}

}  // namespace
