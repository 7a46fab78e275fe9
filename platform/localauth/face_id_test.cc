#include "platform/localauth/face_id.h"

#include <gtest/gtest.h>

#include "platform/localauth/test_device.h"

namespace {

using localauth::answerFace;
using localauth::faceIdOffered;
using localauth::pendingPrompt;
using testing_support::AuthTest;
using testing_support::evaluate;
using testing_support::Replies;
using testing_support::settle;

using FaceId = AuthTest;

TEST_F(FaceId, OfferedWhenAllThreeGrantsHold) {
  EXPECT_TRUE(faceIdOffered());
  Replies replies;
  evaluate(allocInit(localauth::contextClass()), "reason", replies.block());
  ASSERT_TRUE(pendingPrompt());
  EXPECT_TRUE(pendingPrompt()->faceOffered);
  auto result = answerFace();
  EXPECT_TRUE(result.taken);
  EXPECT_EQ(result.message, "Face ID matched");
  settle();
  ASSERT_EQ(replies.get().size(), 1u);
  EXPECT_TRUE(replies.get()[0].success);
}

TEST_F(FaceId, NotOfferedWithoutFaceIdHardware) {
  testing_support::configure("1234", "none");
  EXPECT_FALSE(faceIdOffered());
  Replies replies;
  evaluate(allocInit(localauth::contextClass()), "reason", replies.block());
  EXPECT_FALSE(pendingPrompt()->faceOffered);
  auto result = answerFace();
  EXPECT_FALSE(result.taken);
  EXPECT_EQ(result.message, "error: Face ID is not offered");
  EXPECT_TRUE(pendingPrompt());  // still waiting for the passcode
  EXPECT_TRUE(localauth::answerPasscode("1234").taken);
  settle();
  ASSERT_EQ(replies.get().size(), 1u);
  EXPECT_TRUE(replies.get()[0].success);
}

TEST_F(FaceId, NotOfferedWithoutThePrivacyDaemonsGrant) {
  testing_support::allowFaceId({"com.example.other"});
  EXPECT_FALSE(faceIdOffered());
  testing_support::allowFaceId({});
  EXPECT_FALSE(faceIdOffered());
  std::filesystem::remove(device::devicePath(localauth::kAllowListsPath));
  EXPECT_FALSE(faceIdOffered());
  testing_support::writePlist(localauth::kAllowListsPath, foundation::newArray().get());
  EXPECT_FALSE(faceIdOffered());  // not a dictionary
  testing_support::allowFaceId({"com.example.other", testing_support::kAppIdentifier});
  EXPECT_TRUE(faceIdOffered());
}

// A replacement of -[NSBundle infoDictionary] that adds the usage text, as an
// add-on loaded into the app would.
IMP g_original_info = nullptr;
id infoWithUsage(id self, SEL cmd) {
  id info = reinterpret_cast<id (*)(id, SEL)>(g_original_info)(self, cmd);
  Strong<objc_object> copy = info ? adopt(msg<id>(info, "mutableCopy"_sel))
                                  : Strong<objc_object>(foundation::newDictionary(true));
  msg<void>(copy, "setObject:forKey:"_sel, static_cast<id>("Unlock."_ns),
            static_cast<id>(foundation::makeString(localauth::kFaceIdUsageKey)));
  return copy.autorelease();
}

TEST_F(FaceId, NeedsTheUsageTextAskedThroughTheRuntime) {
  testing_support::launchApp(testing_support::kAppWithoutUsage);
  EXPECT_FALSE(faceIdOffered());

  Class bundle = foundation::bundleClass();
  g_original_info = class_replaceMethod(
      bundle, "infoDictionary"_sel, reinterpret_cast<IMP>(&infoWithUsage), objc::signature<id>());
  EXPECT_TRUE(faceIdOffered());
  class_replaceMethod(bundle, "infoDictionary"_sel, g_original_info, objc::signature<id>());
  EXPECT_FALSE(faceIdOffered());
}

}  // namespace
