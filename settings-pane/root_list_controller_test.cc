#include "settings-pane/root_list_controller.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>

#include "platform/dispatch/test_watchdog.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsuserdefaults.h"
#include "platform/preferences/ps_table_cell.h"
#include "platform/uikit/uikit.h"
#include "settings-pane/pane_test_support.h"

namespace pane_test {
int g_posts = 0;
int g_otherPosts = 0;
}  // namespace pane_test

// Counts each post, then hands it to the notify center.
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void* object, CFDictionaryRef userInfo,
                                          Boolean deliverImmediately) {
  using Post = decltype(&CFNotificationCenterPostNotification);
  static const Post next = [] {
    Dl_info self{};
    dladdr(reinterpret_cast<void*>(&CFNotificationCenterPostNotification), &self);
    return reinterpret_cast<Post>(dlsym(RTLD_NEXT, self.dli_sname));
  }();
  if (foundation::stdString(name) == "com.qel.velmopreferences/changed" && object == nullptr &&
      userInfo == nullptr && deliverImmediately) {
    ++pane_test::g_posts;
  } else {
    ++pane_test::g_otherPosts;
  }
  next(center, name, object, userInfo, deliverImmediately);
}

namespace {

using namespace pane_test;
using namespace std::chrono_literals;

void resetCounts() {
  g_notifications = 0;
  g_posts = 0;
  g_otherPosts = 0;
}

id defaults() { return msg<id>(foundation::userDefaultsClass(), "standardUserDefaults"_sel); }

id storedValue(const char* key) {
  return msg<id>(defaults(), "objectForKey:inDomain:"_sel,
                 static_cast<id>(foundation::makeString(key)),
                 static_cast<id>("com.qel.velmopreferences"_ns));
}

void store(const char* key, id value) {
  msg<void>(defaults(), "setObject:forKey:inDomain:"_sel, value,
            static_cast<id>(foundation::makeString(key)),
            static_cast<id>("com.qel.velmopreferences"_ns));
}

bool isBoolean(id value, bool expected) {
  if (!foundation::isNumber(value)) return false;
  auto* n = static_cast<NSNumber*>(value);
  return n->kind == NSNumber::Kind::kBool && (n->integer != 0) == expected;
}

// The cell the pane gives for the row with `key`, asked for as the table asks.
PSTableCell* cellFor(id pane, const char* key) {
  id specifier = msg<id>(pane, "specifierForID:"_sel, static_cast<id>(foundation::makeString(key)));
  id path = msg<id>(pane, "indexPathForSpecifier:"_sel, specifier);
  if (path == nullptr) return nullptr;
  return static_cast<PSTableCell*>(
      msg<id>(pane, "tableView:cellForRowAtIndexPath:"_sel, msg<id>(pane, "table"_sel), path));
}

using RootListControllerTest = PaneTest;

TEST_F(RootListControllerTest, OpeningThePanePostsTheChangeNotificationOnceEvenWhenNothingChanged) {
  testing_support::Watchdog dog("opening the pane", 20s);
  store("enabled", foundation::trueValue());
  settle();
  resetCounts();

  auto pane = openPane();
  settle();
  EXPECT_EQ(g_posts, 1);
  EXPECT_EQ(g_notifications, 1);
  EXPECT_TRUE(msg<BOOL>(pane->enableSwitch, "isOn"_sel)) << "the switch shows the stored state";
  EXPECT_FALSE(pane->enableSwitch->lastAnimated);
  EXPECT_TRUE(isBoolean(storedValue("enabled"), true)) << "opening writes nothing";
  EXPECT_EQ(readFile(device::devicePath(kKillallLog)), "") << "opening restarts nothing";

  // A missing or unreadable value shows the switch off; each opening posts.
  store("enabled", nullptr);
  auto second = openPane();
  EXPECT_FALSE(msg<BOOL>(second->enableSwitch, "isOn"_sel));
  settle();
  store("enabled", static_cast<id>(foundation::newArray({"x"_ns}).get()));
  auto third = openPane();
  EXPECT_FALSE(msg<BOOL>(third->enableSwitch, "isOn"_sel));
  settle();
  EXPECT_EQ(g_posts, 3);
  EXPECT_EQ(g_notifications, 3);
}

TEST_F(RootListControllerTest, TheMasterSwitchWritesABooleanRestartsPhotosAndPostsNoNotification) {
  testing_support::Watchdog dog("the master switch", 20s);
  auto pane = openPane();
  settle();
  resetCounts();

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  uikit::userToggle(pane->enableSwitch, YES);
  EXPECT_EQ(readFile(device::devicePath(kKillallLog)), "")
      << "the restart waits for the main queue";
  settle();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  EXPECT_TRUE(isBoolean(storedValue("enabled"), true));
  EXPECT_TRUE(msg<BOOL>(pane->enableSwitch, "isOn"_sel));
  EXPECT_TRUE(pane->enableSwitch->lastAnimated);
  EXPECT_EQ(readFile(device::devicePath(kKillallLog)), "killall -9 MobileSlideShow\n");
  EXPECT_EQ(g_posts, 0);
  EXPECT_EQ(g_notifications, 0);
  // The child was reaped: no zombie is left to the Settings app.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  uikit::userToggle(pane->enableSwitch, NO);
  settle();
  EXPECT_TRUE(isBoolean(storedValue("enabled"), false));
  EXPECT_EQ(readFile(device::devicePath(kKillallLog)),
            "killall -9 MobileSlideShow\nkillall -9 MobileSlideShow\n");
  EXPECT_EQ(g_posts, 0);
  EXPECT_EQ(g_notifications, 0);
}

TEST_F(RootListControllerTest, AMissingKillallIsIgnored) {
  testing_support::Watchdog dog("a failed restart", 20s);
  auto pane = openPane();
  std::string killall = device::devicePath("/var/jb/usr/bin/killall");
  fs::rename(killall, killall + ".away");
  uikit::userToggle(pane->enableSwitch, YES);
  settle();
  fs::rename(killall + ".away", killall);
  EXPECT_TRUE(isBoolean(storedValue("enabled"), true));
  EXPECT_EQ(readFile(device::devicePath(kKillallLog)), "");
}

TEST_F(RootListControllerTest, AnyOtherRowStoresItsValueAndPostsTheNotificationOnce) {
  testing_support::Watchdog dog("changing rows", 20s);
  auto pane = openPane();
  settle();

  for (const char* key :
       {"lockRecentlyDeleted", "popToRoot", "hiddenItemCountEnabled", "showLockIcon"}) {
    auto* cell = static_cast<PSSwitchTableCell*>(cellFor(pane, key));
    ASSERT_NE(cell, nullptr) << key;
    ASSERT_TRUE(
        msg<BOOL>(cell, "isKindOfClass:"_sel, static_cast<id>(preferences::switchTableCellClass())))
        << key;
    EXPECT_FALSE(msg<BOOL>(cell->control, "isOn"_sel)) << key << " starts off";
    resetCounts();
    uikit::userToggle(cell->control, YES);
    settle();
    EXPECT_TRUE(isBoolean(storedValue(key), true)) << key;
    EXPECT_EQ(g_posts, 1) << key;
    EXPECT_EQ(g_notifications, 1) << key;
    EXPECT_TRUE(msg<BOOL>(static_cast<PSSwitchTableCell*>(cellFor(pane, key))->control, "isOn"_sel))
        << key << ": a new cell shows the stored value";
  }

  auto* count = static_cast<PSEditableTableCell*>(cellFor(pane, "hiddenItemCount"));
  ASSERT_TRUE(msg<BOOL>(count, "isKindOfClass:"_sel,
                        static_cast<id>(preferences::editableTableCellClass())));
  resetCounts();
  preferences::userEnterText(count, "42");
  settle();
  EXPECT_EQ(foundation::stdString(storedValue("hiddenItemCount")), "42");
  EXPECT_EQ(g_posts, 1);
  EXPECT_EQ(g_notifications, 1);
  EXPECT_EQ(readFile(device::devicePath(kKillallLog)), "") << "options never restart Photos";
  EXPECT_EQ(storedValue("enabled"), nullptr) << "options leave the master switch alone";
}

TEST_F(RootListControllerTest, SpecifiersAreLoadedOnceAndTheSameListIsAnsweredAfterwards) {
  auto pane = openPane();
  id first = msg<id>(pane, "specifiers"_sel);
  ASSERT_TRUE(foundation::isArray(first));
  std::vector<std::string> keys;
  for (const auto& item : static_cast<NSArray*>(first)->items) {
    std::string key = preferences::stringProperty(static_cast<PSSpecifier*>(item.get()), "key");
    if (!key.empty()) keys.push_back(key);
    EXPECT_EQ(static_cast<PSSpecifier*>(item.get())->target, pane.get());
    if (!key.empty()) {
      EXPECT_EQ(preferences::stringProperty(static_cast<PSSpecifier*>(item.get()), "defaults"),
                "com.qel.velmopreferences");
      EXPECT_EQ(msg<id>(item, "propertyForKey:"_sel, static_cast<id>("PostNotification"_ns)),
                nullptr)
          << key << ": the controller posts the notification itself";
    }
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"lockRecentlyDeleted", "popToRoot", "showLockIcon",
                                            "hiddenItemCountEnabled", "hiddenItemCount"}));

  // Without its bundle the list could not be loaded again; it is not.
  msg<void>(pane, "setBundle:"_sel, static_cast<id>(nullptr));
  EXPECT_EQ(msg<id>(pane, "specifiers"_sel), first);
  EXPECT_EQ(msg<id>(pane, "specifiers"_sel), first);
}

TEST_F(RootListControllerTest, TheWrittenSettingsFileIsABinaryPropertyListOthersCanRead) {
  auto pane = openPane();
  uikit::userToggle(pane->enableSwitch, YES);
  preferences::userEnterText(static_cast<PSEditableTableCell*>(cellFor(pane, "hiddenItemCount")),
                             "7");
  settle();

  std::string path = device::devicePath(kSettingsPath);
  EXPECT_EQ(readFile(path).substr(0, 8), "bplist00");
  std::string xml = path + ".xml";
  ASSERT_EQ(std::system(("plistutil -i '" + path + "' -o '" + xml + "' -f xml").c_str()), 0);
  std::string text = readFile(xml);
  EXPECT_NE(text.find("<key>enabled</key>"), std::string::npos) << text;
  EXPECT_NE(text.find("<true/>"), std::string::npos) << text;
  EXPECT_NE(text.find("<string>7</string>"), std::string::npos) << text;

  std::string out = path + ".py";
  std::string python =
      "python3 -c 'import plistlib,sys; print(plistlib.load(open(sys.argv[1],\"rb\")))' '" + path +
      "' > '" + out + "'";
  ASSERT_EQ(std::system(python.c_str()), 0);
  std::string printed = readFile(out);
  EXPECT_NE(printed.find("'enabled': True"), std::string::npos) << printed;
  EXPECT_NE(printed.find("'hiddenItemCount': '7'"), std::string::npos) << printed;
}

}  // namespace
