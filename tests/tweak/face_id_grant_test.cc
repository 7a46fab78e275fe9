// The Face ID grant: every bundle of the app describes Face ID with the
// prompt's text, without any bundle's own information changing, and the
// privacy daemon's Face ID service lets the Photos app in. With both in
// place the prompt offers Face ID and a face answers it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsbundle.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/localauth/face_id.h"
#include "platform/localauth/prompt.h"
#include "platform/objc/message.h"
#include "platform/photos/photos_app.h"
#include "platform/tcc/daemon.h"
#include "platform/tcc/tcc_service.h"
#include "tests/tweak/tweak_device.h"

namespace tweak_test {
namespace {

constexpr char kUsageKey[] = "NSFaceIDUsageDescription";

std::vector<std::string> strings(id array) {
  std::vector<std::string> out;
  if (!foundation::isArray(array)) return out;
  for (const auto& item : static_cast<NSArray*>(array)->items) {
    out.push_back(foundation::stdString(item));
  }
  return out;
}

Strong<NSArray> arrayOf(const std::vector<std::string>& items) {
  Strong<NSArray> array = foundation::newArray();
  for (const std::string& item : items) array->items.emplace_back(foundation::makeString(item));
  return array;
}

id usageText(id info) {
  return msg<id>(info, "objectForKey:"_sel, static_cast<id>(foundation::makeString(kUsageKey)));
}

NSBundle* bundleAt(const std::string& path) {
  return static_cast<NSBundle*>(
      msg<id>(foundation::bundleClass(), "bundleWithPath:"_sel, foundation::makeString(path)));
}

// Sends the list to a service of `name` made for the purpose and answers what it kept.
std::vector<std::string> listKeptBy(const std::string& name, const std::vector<std::string>& list) {
  Strong<TCCDService> service = tcc::newService(name);
  Strong<NSArray> given = arrayOf(list);
  msg<void>(service, "setDefaultAllowedIdentifiersList:"_sel, given.get());
  EXPECT_EQ(strings(given), list) << "the list given to " << name << " was changed";
  return strings(msg<id>(service, "defaultAllowedIdentifiersList"_sel));
}

class FaceIdGrant : public TweakTest {};

TEST_F(FaceIdGrant, EveryBundleReportsThePromptsTextAsItsUsageDescription) {
  id bundles = msg<id>(foundation::bundleClass(), "allBundles"_sel);
  ASSERT_EQ(msg<unsigned long>(bundles, "count"_sel), 4u);
  for (const auto& bundle : static_cast<NSArray*>(bundles)->items) {
    std::string path = static_cast<NSBundle*>(bundle.get())->path;
    EXPECT_EQ(foundation::stdString(usageText(msg<id>(bundle, "infoDictionary"_sel))), kReasonText)
        << path;
    EXPECT_EQ(foundation::stdString(msg<id>(bundle, "objectForInfoDictionaryKey:"_sel,
                                            foundation::makeString(kUsageKey))),
              kReasonText)
        << path;
  }
  // The rest of a bundle's information still answers.
  id main = msg<id>(foundation::bundleClass(), "mainBundle"_sel);
  EXPECT_EQ(foundation::stdString(msg<id>(main, "bundleIdentifier"_sel)),
            "com.apple.mobileslideshow");
  EXPECT_EQ(foundation::stdString(msg<id>(bundleAt(photos::kPhotosPath), "bundleIdentifier"_sel)),
            "com.apple.Photos");
  // A bundle without information gets a dictionary of that one key.
  id bare = msg<id>(bundleAt(photos::kPhotoLibraryServicesPath), "infoDictionary"_sel);
  EXPECT_EQ(msg<unsigned long>(bare, "count"_sel), 1u);
}

TEST_F(FaceIdGrant, NoBundlesOwnInformationIsChanged) {
  NSBundle* main = bundleAt(photos::kAppBundlePath);
  NSBundle* framework = bundleAt(photos::kPhotosPath);
  NSBundle* bare = bundleAt(photos::kPhotoLibraryServicesPath);
  for (NSBundle* bundle : {main, framework, bare}) {
    SCOPED_TRACE(bundle->path);
    id first = msg<id>(bundle, "infoDictionary"_sel);
    id second = msg<id>(bundle, "infoDictionary"_sel);
    // A copy each time: what one caller does to it, the next does not see.
    EXPECT_NE(first, second);
    msg<void>(first, "setObject:forKey:"_sel, "changed by a caller"_ns,
              static_cast<id>(foundation::makeString(kUsageKey)));
    EXPECT_EQ(foundation::stdString(usageText(msg<id>(bundle, "infoDictionary"_sel))), kReasonText);
  }
  // The dictionaries the bundles read from their Info.plist files.
  ASSERT_TRUE(main->infoLoaded);
  EXPECT_EQ(usageText(main->info), nullptr);
  EXPECT_EQ(foundation::stdString(usageText(framework->info)), kFrameworkUsageText);
  EXPECT_EQ(bare->info.get(), nullptr);
  plist::Result onDisk = plist::readFile(device::devicePath(main->path + "/Info.plist"));
  ASSERT_TRUE(foundation::isDictionary(onDisk.value));
  EXPECT_EQ(msg<unsigned long>(main->info, "count"_sel),
            msg<unsigned long>(onDisk.value, "count"_sel));
}

TEST_F(FaceIdGrant, TheFaceIdServiceGainsThePhotosIdentifiersAtItsEnd) {
  tcc::Daemon daemon = tcc::startDaemon();
  ASSERT_EQ(daemon.error, "");
  bool face_id_seen = false;
  for (const auto& service : daemon.services) {
    std::string name = foundation::stdString(msg<id>(service, "name"_sel));
    std::vector<std::string> list = strings(msg<id>(service, "defaultAllowedIdentifiersList"_sel));
    if (name == "kTCCServiceFaceID") {
      face_id_seen = true;
      ASSERT_GE(list.size(), 2u);
      EXPECT_EQ(std::vector<std::string>(list.end() - 2, list.end()),
                (std::vector<std::string>{"com.apple.mobileslideshow", "com.apple.PhotosUICore"}));
    } else {
      for (const std::string& identifier : list) {
        EXPECT_NE(identifier, "com.apple.PhotosUICore") << name;
      }
    }
  }
  EXPECT_TRUE(face_id_seen);

  // Set again, with the identifiers already there: appended all the same.
  const std::vector<std::string> granted = {"com.apple.camera", "com.apple.mobileslideshow",
                                            "com.apple.PhotosUICore"};
  std::vector<std::string> twice = granted;
  twice.push_back("com.apple.mobileslideshow");
  twice.push_back("com.apple.PhotosUICore");
  EXPECT_EQ(listKeptBy("kTCCServiceFaceID", granted), twice);
  EXPECT_EQ(listKeptBy("kTCCServiceFaceID", {}),
            (std::vector<std::string>{"com.apple.mobileslideshow", "com.apple.PhotosUICore"}));
  // A service given no list at all still grants the Photos app.
  Strong<TCCDService> bare = tcc::newService("kTCCServiceFaceID");
  msg<void>(bare, "setDefaultAllowedIdentifiersList:"_sel, static_cast<id>(nullptr));
  EXPECT_EQ(strings(msg<id>(bare, "defaultAllowedIdentifiersList"_sel)),
            (std::vector<std::string>{"com.apple.mobileslideshow", "com.apple.PhotosUICore"}));
  // Every other service keeps exactly what it is given; the name must match whole.
  for (const char* other :
       {"kTCCServiceCamera", "kTCCServicePhotos", "kTCCServiceFaceIDx", "kTCCServicefaceid", ""}) {
    EXPECT_EQ(listKeptBy(other, granted), granted) << other;
    EXPECT_EQ(listKeptBy(other, {}), std::vector<std::string>{}) << other;
  }
}

TEST_F(FaceIdGrant, WithBothGrantsThePromptOffersFaceIdAndAFaceUnlocks) {
  // Before the privacy daemon has published its lists: the passcode only.
  std::error_code ec;
  std::filesystem::remove(device::devicePath(tcc::kAllowListsPath), ec);
  ASSERT_EQ(app().tap("Hidden"), "");
  auto prompt = localauth::pendingPrompt();
  ASSERT_TRUE(prompt.has_value());
  EXPECT_FALSE(prompt->faceOffered);
  EXPECT_FALSE(localauth::answerFace().taken);
  dismissPrompts();

  ASSERT_EQ(tcc::startDaemon().error, "");
  ASSERT_EQ(app().tap("Hidden"), "");
  prompt = localauth::pendingPrompt();
  ASSERT_TRUE(prompt.has_value());
  EXPECT_TRUE(prompt->faceOffered);
  EXPECT_EQ(prompt->reason, kReasonText);
  ASSERT_TRUE(localauth::answerFace().taken);
  ASSERT_TRUE(settle());
  EXPECT_EQ(app().where(), "Albums > Hidden");
  EXPECT_TRUE(*library().accessed);
  if (isPad()) {
    EXPECT_EQ(events_, std::vector<std::string>{"completed Hidden"});
  }
}

}  // namespace
}  // namespace tweak_test
