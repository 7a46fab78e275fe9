// The album navigation guard and the authentication gate of the phone
// build: a tap on a protected album through the list guard (iPhone) or the
// sidebar guard (iPad) asks LocalAuthentication with policy 2 and the
// prompt's text; a YES reply, given off the main queue, runs the host's
// navigation on the main queue with the tap's receiver and arguments and
// sets accessed; a NO reply leaves everything as it was. The background
// return pops the album list after an unlock when popToRoot is on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/velmo/velmo_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Album = PhotosApp::Album;

class TweakGuardTest : public VelmoTest {
 protected:
  void Start(const std::string& model, const DeviceFiles::PlistEntries& options = {}) {
    StartPhotos(model, "15.0");
    DeviceFiles::PlistEntries settings = options;
    settings.emplace_back("enabled", true);
    WriteSettings(settings);
    LoadVelmo();
  }
  uint64_t Tap(uint64_t gadget, uint64_t item, bool animated = true) {
    return phone.objc.Send(gadget, "_navigateTolistItem:animated:", {item, animated}).u;
  }
  void ExpectAskedOnce() {
    EXPECT_THAT(phone.local_auth.checked_policies(), ElementsAre(2));
    ASSERT_EQ(phone.local_auth.evaluations().size(), 1u);
    EXPECT_EQ(phone.local_auth.evaluations()[0].policy, 2);
    EXPECT_EQ(phone.local_auth.evaluations()[0].reason, kReason);
  }
};

TEST_P(TweakGuardTest, ListGuardAYesReplyOffTheMainQueueOpensTheAlbumOnTheMainQueue) {
  Start("iPhone");
  uint64_t gadget = photos_->NewObject("PXNavigationListGadget");
  uint64_t item = photos_->ListItem(Album::kHidden);
  EXPECT_EQ(Tap(gadget, item, true), 0u) << "the host sees no result for a guarded tap";
  EXPECT_THAT(photos_->list_navigations(), IsEmpty());
  ExpectAskedOnce();

  phone.local_auth.Reply(0, true);
  EXPECT_THAT(photos_->list_navigations(), IsEmpty()) << "navigated off the main queue";
  EXPECT_FALSE(Option("accessed"));
  EXPECT_EQ(phone.dispatch.DrainMain(), 1u);
  ASSERT_EQ(photos_->list_navigations().size(), 1u);
  const PhotosApp::ListNavigation& n = photos_->list_navigations()[0];
  EXPECT_EQ(n.receiver, gadget);
  EXPECT_EQ(n.item, item);
  EXPECT_TRUE(n.animated);
  EXPECT_TRUE(n.on_main);
  EXPECT_TRUE(Option("accessed"));

  // Unlocked or not, the next tap asks again.
  EXPECT_EQ(Tap(gadget, item, false), 0u);
  EXPECT_EQ(phone.local_auth.evaluations().size(), 2u);
  phone.local_auth.Reply(1, true);
  phone.dispatch.DrainMain();
  ASSERT_EQ(photos_->list_navigations().size(), 2u);
  EXPECT_FALSE(photos_->list_navigations()[1].animated);
}

TEST_P(TweakGuardTest, ListGuardANoReplyLeavesEverythingAsItWas) {
  Start("iPhone");
  uint64_t gadget = photos_->NewObject("PXNavigationListGadget");
  Tap(gadget, photos_->ListItem(Album::kHidden));
  ExpectAskedOnce();
  phone.local_auth.Reply(0, false);
  phone.dispatch.DrainMain();
  EXPECT_THAT(photos_->list_navigations(), IsEmpty());
  EXPECT_FALSE(Option("accessed"));
}

TEST_P(TweakGuardTest, ListGuardWithNoPasscodeAnswersNoAtOnceWithoutAPrompt) {
  Start("iPhone");
  phone.local_auth.set_can_evaluate(false);
  Tap(photos_->NewObject("PXNavigationListGadget"), photos_->ListItem(Album::kHidden));
  EXPECT_THAT(phone.local_auth.checked_policies(), ElementsAre(2));
  EXPECT_THAT(phone.local_auth.evaluations(), IsEmpty());
  EXPECT_EQ(phone.dispatch.pending_main(), 0u);
  EXPECT_THAT(photos_->list_navigations(), IsEmpty());
  EXPECT_FALSE(Option("accessed"));
}

TEST_P(TweakGuardTest, AnOrdinaryAlbumOpensAtOnceAsWithoutTheLibrary) {
  Start("iPhone", {{"lockRecentlyDeleted", true}});
  uint64_t gadget = photos_->NewObject("PXNavigationListGadget");
  uint64_t item = photos_->ListItem(Album::kOrdinary);
  uint64_t result = Tap(gadget, item, true);
  ASSERT_EQ(photos_->list_navigations().size(), 1u);
  EXPECT_EQ(photos_->list_navigations()[0].item, item);
  EXPECT_EQ(result, photos_->list_navigations()[0].result);
  EXPECT_THAT(phone.local_auth.checked_policies(), IsEmpty());
  EXPECT_THAT(photos_->questions(), ElementsAre("hidden", "recentlyDeleted"));
}

TEST_P(TweakGuardTest, RecentlyDeletedAsksOnlyWhenLockRecentlyDeletedIsOn) {
  Start("iPhone");
  uint64_t gadget = photos_->NewObject("PXNavigationListGadget");
  Tap(gadget, photos_->ListItem(Album::kRecentlyDeleted));
  EXPECT_EQ(photos_->list_navigations().size(), 1u);
  EXPECT_THAT(phone.local_auth.checked_policies(), IsEmpty());

  WriteSettings({{"enabled", true}, {"lockRecentlyDeleted", true}});
  phone.notify.Deliver(kChanged);
  Tap(gadget, photos_->ListItem(Album::kRecentlyDeleted));
  EXPECT_EQ(photos_->list_navigations().size(), 1u);
  ExpectAskedOnce();
  phone.local_auth.Reply(0, true);
  phone.dispatch.DrainMain();
  EXPECT_EQ(photos_->list_navigations().size(), 2u);
}

TEST_P(TweakGuardTest, SidebarGuardOnAnIPadKeepsTheHostsCompletionHandler) {
  Start("iPad");
  int handler_calls = 0;
  uint64_t handler = phone.blocks.Make("v@?", [&](Msg&) -> Value {
    ++handler_calls;
    return {};
  });
  uint64_t sidebar = photos_->NewObject("PUSidebarViewController");
  uint64_t item = photos_->ListItem(Album::kHidden);
  std::string sel = "_navigateToDestinationForItem:sameItem:completionHandler:";
  phone.objc.Send(sidebar, sel, {item, true, handler});
  EXPECT_THAT(photos_->sidebar_navigations(), IsEmpty());
  ExpectAskedOnce();
  phone.local_auth.Reply(0, true);
  phone.dispatch.DrainMain();
  ASSERT_EQ(photos_->sidebar_navigations().size(), 1u);
  const PhotosApp::SidebarNavigation& n = photos_->sidebar_navigations()[0];
  EXPECT_EQ(n.receiver, sidebar);
  EXPECT_EQ(n.item, item);
  EXPECT_TRUE(n.same_item);
  EXPECT_EQ(n.handler, handler);
  EXPECT_TRUE(n.on_main);
  EXPECT_TRUE(Option("accessed"));

  // A NO reply: no destination, and the handler is never called.
  phone.objc.Send(sidebar, sel, {item, false, handler});
  phone.local_auth.Reply(1, false);
  phone.dispatch.DrainMain();
  EXPECT_EQ(photos_->sidebar_navigations().size(), 1u);
  EXPECT_EQ(handler_calls, 0);

  // An ordinary album goes straight through.
  phone.objc.Send(sidebar, sel, {photos_->ListItem(Album::kOrdinary), false, handler});
  EXPECT_EQ(photos_->sidebar_navigations().size(), 2u);
  phone.blocks.Release(handler);
}

class TweakBackgroundTest : public TweakGuardTest {
 protected:
  // Unlocks the Hidden album, then sends the album list to the background.
  void UnlockThenBackground(bool with_navigation_controller) {
    Tap(photos_->NewObject("PXNavigationListGadget"), photos_->ListItem(Album::kHidden));
    phone.local_auth.Reply(0, true);
    phone.dispatch.DrainMain();
    ASSERT_TRUE(Option("accessed"));
    albums_ = photos_->NewObject("PUAlbumsGadgetViewController");
    if (with_navigation_controller) {
      navigation_ = photos_->NewObject("UINavigationController");
      phone.objc.SetField(albums_, "navigationController", navigation_);
    }
    note_ = photos_->NewObject("NSObject");
    phone.objc.Send(albums_, "_applicationDidEnterBackground:", {note_});
    ASSERT_EQ(photos_->backgrounds().size(), 1u);
    EXPECT_EQ(photos_->backgrounds()[0].receiver, albums_);
    EXPECT_EQ(photos_->backgrounds()[0].a, note_);
  }
  uint64_t albums_ = 0, navigation_ = 0, note_ = 0;
};

TEST_P(TweakBackgroundTest, WithPopToRootTheListReturnsToItsRootWithoutAnimation) {
  Start("iPhone", {{"popToRoot", true}});
  UnlockThenBackground(true);
  ASSERT_EQ(phone.uikit.pops().size(), 1u);
  EXPECT_EQ(phone.uikit.pops()[0].navigation_controller, navigation_);
  EXPECT_FALSE(phone.uikit.pops()[0].animated);
  EXPECT_FALSE(Option("accessed"));
}

TEST_P(TweakBackgroundTest, WithoutPopToRootOrANavigationControllerTheListStays) {
  Start("iPhone");
  UnlockThenBackground(true);
  EXPECT_THAT(phone.uikit.pops(), IsEmpty());
  EXPECT_TRUE(Option("accessed"));
}

TEST_P(TweakBackgroundTest, WithNoNavigationControllerAccessedStays) {
  Start("iPhone", {{"popToRoot", true}});
  UnlockThenBackground(false);
  EXPECT_THAT(phone.uikit.pops(), IsEmpty());
  EXPECT_TRUE(Option("accessed"));
}

VELMO_ON_EACH_SLICE(TweakGuardTest);
VELMO_ON_EACH_SLICE(TweakBackgroundTest);

}  // namespace
}  // namespace velmo::phone
