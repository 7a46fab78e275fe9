// The Face ID grant of the phone build: in Photos every bundle reports the
// usage text in a new copy of its information dictionary; in the privacy
// daemon the Face ID service's list gains the Photos app's two identifiers,
// handed on as an immutable copy, and every other service's list passes
// unchanged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/velmo/velmo_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;

class TweakFaceIdTest : public VelmoTest {};

TEST_P(TweakFaceIdTest, EveryBundleOfPhotosReportsTheUsageText) {
  uint64_t info = phone.foundation.Dictionary(
      {{"CFBundleIdentifier", phone.foundation.String("com.apple.mobileslideshow")},
       {"NSFaceIDUsageDescription", phone.foundation.String("old")}});
  StartPhotos();
  WriteSettings({{"enabled", true}});
  LoadVelmo();

  uint64_t bundle = phone.foundation.Bundle("com.apple.mobileslideshow", info);
  uint64_t reported = phone.objc.Send(bundle, "infoDictionary").u;
  ASSERT_TRUE(phone.foundation.IsDictionary(reported));
  EXPECT_NE(reported, info) << "a copy, not the bundle's own dictionary";
  std::map<std::string, std::string> texts;
  for (const auto& [key, value] : phone.foundation.Entries(reported))
    texts[key] = phone.objc.StringValue(value);
  EXPECT_THAT(texts, UnorderedElementsAre(Pair("CFBundleIdentifier", "com.apple.mobileslideshow"),
                                          Pair("NSFaceIDUsageDescription", kReason)));
  EXPECT_EQ(phone.objc.StringValue(phone.foundation.Lookup(info, "NSFaceIDUsageDescription")),
            "old");

  // The main bundle, which has no dictionary here, reports the one key.
  uint64_t main = phone.objc.Send(phone.objc.Class("NSBundle").address, "mainBundle").u;
  uint64_t made = phone.objc.Send(main, "infoDictionary").u;
  ASSERT_TRUE(phone.foundation.IsDictionary(made));
  auto entries = phone.foundation.Entries(made);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, "NSFaceIDUsageDescription");
  EXPECT_EQ(phone.objc.StringValue(entries[0].second), kReason);
}

TEST_P(TweakFaceIdTest, TheDaemonAllowsPhotosTheFaceIdService) {
  StartPrivacyDaemon();
  WriteSettings({{"enabled", true}});
  LoadVelmo();
  uint64_t list = phone.foundation.Array({phone.foundation.String("com.apple.Preferences"),
                                          phone.foundation.String("com.apple.mobileslideshow")});
  phone.objc.Send(daemon_->Service("kTCCServiceFaceID"),
                  "setDefaultAllowedIdentifiersList:", {list});
  phone.objc.Send(daemon_->Service("kTCCServiceCamera"),
                  "setDefaultAllowedIdentifiersList:", {list});
  ASSERT_EQ(daemon_->allow_lists().size(), 2u);
  const PrivacyDaemon::AllowList& face_id = daemon_->allow_lists()[0];
  EXPECT_THAT(face_id.identifiers,
              ElementsAre("com.apple.Preferences", "com.apple.mobileslideshow",
                          "com.apple.mobileslideshow", "com.apple.PhotosUICore"));
  EXPECT_EQ(face_id.list_class, "NSArray");
  EXPECT_NE(face_id.list, list);
  EXPECT_EQ(phone.foundation.Items(list).size(), 2u) << "the daemon's list is left alone";
  EXPECT_EQ(daemon_->allow_lists()[1].list, list);
}

VELMO_ON_EACH_SLICE(TweakFaceIdTest);

}  // namespace
}  // namespace velmo::phone
