// The album navigation guard as the user meets it: taps on the album list
// (iPhone) or the sidebar (iPad), the owner's answers, and the app going to
// the background after an unlock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/localauth/prompt.h"
#include "platform/objc/message.h"
#include "platform/photos/list_gadget.h"
#include "platform/uikit/uinavigationcontroller.h"
#include "tests/tweak/tweak_device.h"

namespace tweak_test {
namespace {

using Operation = UINavigationController::Operation;

const char* const kOrdinaryAlbums[] = {"Recents", "Favorites", "Holidays", "Family"};

// The owner's ways of not getting in.
enum class Failure { kCancel, kFiveWrongPasscodes };

void fail(Failure how) {
  if (how == Failure::kCancel) {
    ASSERT_TRUE(localauth::answerCancel().taken);
    return;
  }
  for (int i = 0; i < localauth::kMaxPasscodeAttempts; ++i) {
    ASSERT_TRUE(localauth::answerPasscode(wrongPasscode(i)).taken);
  }
  // The device now makes its owner wait; these tests are about the album.
  forgetFailedPasscodes();
}

const char* name(Failure how) {
  return how == Failure::kCancel ? "cancel" : "five wrong passcodes";
}

class NavigationGuard : public TweakTest {
 protected:
  UINavigationController* navigation() {
    return static_cast<UINavigationController*>(app().navigationController());
  }
  BOOL accessed() const { return *library().accessed; }

  // A tap that must raise a prompt and leave the screen as it was.
  void tapProtected(const std::string& title) {
    std::string before = app().where();
    ASSERT_EQ(app().tap(title), "");
    ASSERT_EQ(localauth::promptCount(), 1u) << title << " did not ask";
    EXPECT_EQ(app().where(), before) << title << " moved before the answer";
  }

  void answerRight() {
    ASSERT_TRUE(localauth::answerPasscode(kPasscode).taken);
    ASSERT_TRUE(settle());
    EXPECT_EQ(localauth::promptCount(), 0u);
  }

  void unlock(const std::string& title) {
    ASSERT_NO_FATAL_FAILURE(tapProtected(title));
    ASSERT_NO_FATAL_FAILURE(answerRight());
  }
};

class NavigationGuardPhone : public NavigationGuard {
 protected:
  void SetUp() override {
    if (isPad()) GTEST_SKIP() << "the album list guard is not installed on iPad";
    NavigationGuard::SetUp();
  }
};

class NavigationGuardPad : public NavigationGuard {
 protected:
  void SetUp() override {
    if (!isPad()) GTEST_SKIP() << "the sidebar is iPad only";
    NavigationGuard::SetUp();
  }
};

TEST_F(NavigationGuardPhone, OrdinaryAlbumsOpenAtTheirTapAsWithoutTheLibrary) {
  std::vector<std::string> titles(std::begin(kOrdinaryAlbums), std::end(kOrdinaryAlbums));
  titles.push_back("Recently Deleted");  // not protected while its lock is off
  for (const std::string& title : titles) {
    ASSERT_EQ(app().tap(title), "");
    EXPECT_EQ(localauth::promptCount(), 0u) << title;
    EXPECT_EQ(app().where(), "Albums > " + title);
    EXPECT_EQ(navigation()->lastOperation, Operation::kPush);
    EXPECT_TRUE(navigation()->lastAnimated) << title;
    ASSERT_EQ(app().back(), "");
  }
  // The host's own result and animation flag pass through unchanged.
  id item = photos::listItemTitled(app().gadget(), "Family");
  id shown = msg<id>(app().gadget(), "_navigateTolistItem:animated:"_sel, item, NO);
  EXPECT_NE(shown, nullptr);
  EXPECT_EQ(shown, msg<id>(navigation(), "topViewController"_sel));
  EXPECT_EQ(app().where(), "Albums > Family");
  EXPECT_FALSE(navigation()->lastAnimated);
  ASSERT_TRUE(settle());
  EXPECT_EQ(localauth::promptCount(), 0u);
  EXPECT_FALSE(accessed());
}

TEST_F(NavigationGuardPhone, HiddenAsksAtEveryTapAlsoAfterAnUnlock) {
  ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
  EXPECT_FALSE(accessed());
  ASSERT_NO_FATAL_FAILURE(answerRight());
  EXPECT_EQ(app().where(), "Albums > Hidden");
  EXPECT_TRUE(accessed());

  ASSERT_EQ(app().back(), "");
  ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
  ASSERT_NO_FATAL_FAILURE(answerRight());
  EXPECT_EQ(app().where(), "Albums > Hidden");
}

TEST_F(NavigationGuardPhone, RecentlyDeletedAsksOnlyWhileItsLockIsOn) {
  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true}));
  ASSERT_NO_FATAL_FAILURE(unlock("Recently Deleted"));
  EXPECT_EQ(app().where(), "Albums > Recently Deleted");
  EXPECT_TRUE(accessed());
  ASSERT_EQ(app().back(), "");

  ASSERT_TRUE(changeOptions({}));
  ASSERT_EQ(app().tap("Recently Deleted"), "");
  EXPECT_EQ(localauth::promptCount(), 0u);
  EXPECT_EQ(app().where(), "Albums > Recently Deleted");
}

TEST_F(NavigationGuardPhone, AFailedAnswerLeavesTheListWhereItWasAndAccessedAsItWas) {
  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true}));
  for (bool unlocked_before : {false, true}) {
    if (unlocked_before) {
      ASSERT_NO_FATAL_FAILURE(unlock("Hidden"));
      ASSERT_EQ(app().back(), "");
    }
    for (const char* title : {"Hidden", "Recently Deleted"}) {
      for (Failure how : {Failure::kCancel, Failure::kFiveWrongPasscodes}) {
        SCOPED_TRACE(std::string(title) + ", " + name(how) +
                     (unlocked_before ? ", unlocked before" : ""));
        Operation last = navigation()->lastOperation;
        ASSERT_NO_FATAL_FAILURE(tapProtected(title));
        ASSERT_NO_FATAL_FAILURE(fail(how));
        ASSERT_TRUE(settle());
        EXPECT_EQ(localauth::promptCount(), 0u);
        EXPECT_EQ(app().where(), "Albums");
        EXPECT_EQ(navigation()->lastOperation, last);
        EXPECT_EQ(accessed(), unlocked_before);
      }
    }
  }
}

TEST_F(NavigationGuardPhone, TheHostSeesNoResultForAGuardedTap) {
  id item = photos::listItemTitled(app().gadget(), "Hidden");
  EXPECT_EQ(msg<id>(app().gadget(), "_navigateTolistItem:animated:"_sel, item, YES), nullptr);
  EXPECT_EQ(localauth::promptCount(), 1u);
  // Also when the device cannot ask at all.
  ASSERT_TRUE(setPasscode(false));
  dismissPrompts();
  EXPECT_EQ(msg<id>(app().gadget(), "_navigateTolistItem:animated:"_sel, item, YES), nullptr);
  EXPECT_EQ(localauth::promptCount(), 0u);
  ASSERT_TRUE(settle());
  EXPECT_EQ(app().where(), "Albums");
  EXPECT_FALSE(accessed());
}

TEST_F(NavigationGuardPhone, EachSuccessOpensExactlyItsTappedAlbumWithTheTapsArguments) {
  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true}));
  // Two guarded navigations wait at once: Recently Deleted without
  // animation, then Hidden with.
  id deleted = photos::listItemTitled(app().gadget(), "Recently Deleted");
  EXPECT_EQ(msg<id>(app().gadget(), "_navigateTolistItem:animated:"_sel, deleted, NO), nullptr);
  // A person cannot tap under the prompt; the host's method is called directly.
  EXPECT_NE(app().tap("Hidden"), "");
  id hidden = photos::listItemTitled(app().gadget(), "Hidden");
  EXPECT_EQ(msg<id>(app().gadget(), "_navigateTolistItem:animated:"_sel, hidden, YES), nullptr);
  ASSERT_EQ(localauth::promptCount(), 2u);
  EXPECT_EQ(app().where(), "Albums");

  ASSERT_TRUE(localauth::answerPasscode(kPasscode).taken);
  ASSERT_TRUE(settle());
  EXPECT_EQ(app().where(), "Albums > Recently Deleted");
  EXPECT_FALSE(navigation()->lastAnimated);
  EXPECT_EQ(localauth::promptCount(), 1u);

  // The second answer opens its own album, where the host puts it.
  ASSERT_TRUE(localauth::answerPasscode(kPasscode).taken);
  ASSERT_TRUE(settle());
  EXPECT_EQ(app().where(), "Albums > Recently Deleted > Hidden");
  EXPECT_TRUE(navigation()->lastAnimated);
  // No answer is used twice.
  ASSERT_TRUE(settle());
  EXPECT_EQ(app().where(), "Albums > Recently Deleted > Hidden");
}

TEST_F(NavigationGuardPhone, BackgroundAfterAnUnlockReturnsToTheRootWithoutAnimation) {
  ASSERT_TRUE(changeOptions({.popToRoot = true}));
  ASSERT_NO_FATAL_FAILURE(unlock("Hidden"));
  ASSERT_EQ(app().where(), "Albums > Hidden");
  ASSERT_EQ(app().background(), "");
  EXPECT_EQ(app().where(), "Albums");
  EXPECT_EQ(navigation()->lastOperation, Operation::kPopToRoot);
  EXPECT_FALSE(navigation()->lastAnimated);
  EXPECT_FALSE(accessed());

  // Back on screen, the album asks again.
  ASSERT_EQ(app().foreground(), "");
  ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
}

TEST_F(NavigationGuardPhone, WithPopToRootOffTheUnlockedAlbumStaysAfterBackground) {
  ASSERT_NO_FATAL_FAILURE(unlock("Hidden"));
  ASSERT_EQ(app().background(), "");
  EXPECT_EQ(app().where(), "Albums > Hidden");
  EXPECT_EQ(navigation()->lastOperation, Operation::kPush);
  EXPECT_TRUE(accessed());

  // The unlock is still remembered: with the option on now, the next
  // background pops.
  ASSERT_EQ(app().foreground(), "");
  ASSERT_TRUE(changeOptions({.popToRoot = true}));
  ASSERT_EQ(app().background(), "");
  EXPECT_EQ(app().where(), "Albums");
  EXPECT_FALSE(accessed());
}

TEST_F(NavigationGuardPhone, WithoutANavigationControllerBackgroundKeepsTheUnlock) {
  ASSERT_TRUE(changeOptions({.popToRoot = true}));
  ASSERT_NO_FATAL_FAILURE(unlock("Hidden"));
  ASSERT_TRUE(accessed());
  // The album list leaves its navigation controller (as while the app
  // rebuilds its screens): there is nothing to pop, so nothing is forgotten.
  auto* albums = static_cast<UIViewController*>(app().albumsViewController());
  Strong<UIViewController> keep(albums);
  msg<void>(albums, "removeFromParentViewController"_sel);
  ASSERT_EQ(msg<id>(albums, "navigationController"_sel), nullptr);
  Operation before = navigation()->lastOperation;
  std::string stack = app().where();
  ASSERT_EQ(app().background(), "");
  EXPECT_TRUE(accessed()) << "cleared without a pop";
  EXPECT_EQ(navigation()->lastOperation, before);
  EXPECT_EQ(app().where(), stack);
}

TEST_F(NavigationGuardPhone, WithoutAnUnlockBackgroundPopsNothing) {
  ASSERT_TRUE(changeOptions({.popToRoot = true}));
  // A refused unlock does not count.
  ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
  ASSERT_TRUE(localauth::answerCancel().taken);
  ASSERT_TRUE(settle());
  ASSERT_EQ(app().tap("Holidays"), "");
  ASSERT_EQ(app().background(), "");
  EXPECT_EQ(app().where(), "Albums > Holidays");
  EXPECT_EQ(navigation()->lastOperation, Operation::kPush);
  EXPECT_FALSE(accessed());
}

TEST_F(NavigationGuardPhone, AnAnswerAfterTheAppWentAwayFindsWhatItNeedsStillAlive) {
  ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
  // The app is gone before the owner answers; the deferred navigation
  // still holds its list and the tapped row.
  relaunch();
  ASSERT_NO_FATAL_FAILURE(answerRight());
  EXPECT_TRUE(accessed());
  EXPECT_EQ(app().where(), "Albums");
  ASSERT_EQ(app().tap("Holidays"), "");
  EXPECT_EQ(app().where(), "Albums > Holidays");
}

TEST_F(NavigationGuardPad, TheSidebarAsksAndAFailedAnswerNeverCompletesTheNavigation) {
  for (Failure how : {Failure::kCancel, Failure::kFiveWrongPasscodes}) {
    SCOPED_TRACE(name(how));
    ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
    EXPECT_EQ(events_, std::vector<std::string>{});
    ASSERT_NO_FATAL_FAILURE(fail(how));
    ASSERT_TRUE(settle());
    EXPECT_EQ(events_, std::vector<std::string>{});
    EXPECT_EQ(app().where(), "Albums");
    EXPECT_FALSE(accessed());
  }
  ASSERT_NO_FATAL_FAILURE(unlock("Hidden"));
  EXPECT_EQ(events_, std::vector<std::string>{"completed Hidden"});
  EXPECT_EQ(app().where(), "Albums > Hidden");
  EXPECT_TRUE(accessed());
  ASSERT_TRUE(settle());
  EXPECT_EQ(events_, std::vector<std::string>{"completed Hidden"});
}

TEST_F(NavigationGuardPad, OrdinaryEntriesCompleteAtOnceAndRecentlyDeletedFollowsItsLock) {
  for (const char* title : kOrdinaryAlbums) {
    events_.clear();
    ASSERT_EQ(app().tap(title), "");
    EXPECT_EQ(localauth::promptCount(), 0u);
    EXPECT_EQ(events_, std::vector<std::string>{std::string("completed ") + title});
    EXPECT_EQ(app().where(), std::string("Albums > ") + title);
  }
  events_.clear();
  ASSERT_EQ(app().tap("Recently Deleted"), "");
  EXPECT_EQ(events_, std::vector<std::string>{"completed Recently Deleted"});

  events_.clear();
  ASSERT_TRUE(changeOptions({.lockRecentlyDeleted = true}));
  ASSERT_EQ(app().tap("Holidays"), "");
  ASSERT_NO_FATAL_FAILURE(tapProtected("Recently Deleted"));
  EXPECT_EQ(events_, std::vector<std::string>{"completed Holidays"});
  ASSERT_NO_FATAL_FAILURE(answerRight());
  EXPECT_EQ(events_,
            (std::vector<std::string>{"completed Holidays", "completed Recently Deleted"}));
  EXPECT_EQ(app().where(), "Albums > Recently Deleted");
}

TEST_F(NavigationGuardPad, TheSameItemFlagReachesTheHostAfterTheUnlock) {
  ASSERT_NO_FATAL_FAILURE(unlock("Hidden"));
  id shown = msg<id>(navigation(), "topViewController"_sel);
  // Hidden again while it is shown: the host keeps what it shows.
  ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
  ASSERT_NO_FATAL_FAILURE(answerRight());
  EXPECT_EQ(msg<id>(navigation(), "topViewController"_sel), shown);
  EXPECT_EQ(events_, (std::vector<std::string>{"completed Hidden", "completed Hidden"}));
}

TEST_F(NavigationGuardPad, BackgroundNeverPops) {
  ASSERT_TRUE(changeOptions({.popToRoot = true}));
  ASSERT_NO_FATAL_FAILURE(unlock("Hidden"));
  ASSERT_EQ(app().background(), "");
  EXPECT_EQ(app().where(), "Albums > Hidden");
  EXPECT_NE(navigation()->lastOperation, Operation::kPopToRoot);
  EXPECT_TRUE(accessed());
}

TEST_F(NavigationGuardPad, AnAnswerAfterTheAppWentAwayStillCompletesTheHostsNavigation) {
  ASSERT_NO_FATAL_FAILURE(tapProtected("Hidden"));
  // The deferred navigation holds the sidebar, its item and the host's
  // completion handler, which reports to the old app's sink.
  relaunch();
  ASSERT_NO_FATAL_FAILURE(answerRight());
  EXPECT_EQ(events_, std::vector<std::string>{"completed Hidden"});
  EXPECT_TRUE(accessed());
  EXPECT_EQ(app().where(), "Albums");
}

}  // namespace
}  // namespace tweak_test
