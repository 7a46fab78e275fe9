#include "platform/photos/photos_app.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/device.h"
#include "platform/foundation/nsbundle.h"
#include "platform/objc/block.h"
#include "platform/photos/photo_library.h"
#include "platform/uikit/nsattributedstring.h"
#include "platform/uikit/uiviewcontroller.h"

namespace {

using Lines = std::vector<std::string>;

// The app's classes take the device's generation when they are defined, and
// a class cannot be undefined, so every scenario runs in a child process of
// its own on a fresh device. The child reports what it saw as lines; the
// parent compares them. A child that hangs is killed and the test fails.
struct Scenario {
  std::string model = "iPhone";
  std::string version = "16.4.1";
  bool install = true;
  // Runs after the classes are registered and before the app starts, like a
  // library the hooking runtime loads.
  std::function<void(Lines&)> beforeLaunch;
};

Scenario scenario(std::string model, std::string version = "16.4.1", bool install = true) {
  Scenario s;
  s.model = std::move(model);
  s.version = std::move(version);
  s.install = install;
  return s;
}

constexpr auto kChildTimeout = std::chrono::seconds(30);

[[noreturn]] void runChild(const Scenario& s,
                           const std::function<void(photos::PhotosApp&, Lines&)>& body,
                           int out_fd) {
  Lines lines;
  int status = 0;
  char pattern[] = "/tmp/velmo-photos-test-XXXXXX";
  const char* root = mkdtemp(pattern);
  if (root == nullptr) {
    lines.push_back("setup: no temporary folder");
    status = 3;
  } else {
    device::setRoot(root);
    device::Config config;
    config.model = s.model;
    config.systemVersion = s.version;
    std::string error = device::writeConfig(config);
    if (error.empty() && s.install) error = photos::installApp();
    if (!error.empty()) {
      lines.push_back("setup: " + error);
      status = 3;
    } else {
      objc::AutoreleasePool pool;
      photos::registerClasses();
      photos::bootBundles();
      if (s.beforeLaunch) s.beforeLaunch(lines);
      photos::PhotosApp app(
          [&lines](const std::string& line) { lines.push_back("event " + line); });
      body(app, lines);
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(out_fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(out_fd);
  // exit, not _exit: the leak checker of a sanitizer build runs at exit and
  // fails the child (and so the test) when the scenario leaked.
  std::exit(status);
}

Lines run(const Scenario& s, const std::function<void(photos::PhotosApp&, Lines&)>& body) {
  int fds[2];
  if (pipe(fds) != 0) return {"pipe failed"};
  std::fflush(nullptr);  // or the child would write the parent's buffered output again
  pid_t pid = fork();
  if (pid < 0) return {"fork failed"};
  if (pid == 0) {
    close(fds[0]);
    runChild(s, body, fds[1]);
  }
  close(fds[1]);
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + kChildTimeout;
  bool timed_out = false;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) {
      timed_out = true;
      break;
    }
    char buf[4096];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (timed_out) lines.push_back("child timed out");
  if (WIFSIGNALED(status))
    lines.push_back("child killed by signal " + std::to_string(WTERMSIG(status)));
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    lines.push_back("child exited with status " + std::to_string(WEXITSTATUS(status)));
  }
  return lines;
}

const Lines kDefaultAlbums = {
    "album Recents: 1204", "album Favorites: 37", "album Holidays: 212",
    "album Family: 88",    "album Hidden: 12",    "album Recently Deleted: 5",
};

void append(Lines& to, const Lines& from) { to.insert(to.end(), from.begin(), from.end()); }

std::string yesNo(BOOL b) { return b ? "YES" : "NO"; }

// --- generations ------------------------------------------------------------

TEST(Generations, SystemVersionReadsAsTheFloatThePlatformMakesOfIt) {
  EXPECT_TRUE(photos::hasCellConfiguration("15.0"));
  EXPECT_TRUE(photos::hasCellConfiguration("16.4.1"));
  EXPECT_TRUE(photos::hasCellConfiguration("15"));
  EXPECT_FALSE(photos::hasCellConfiguration("14.8"));
  EXPECT_FALSE(photos::hasCellConfiguration("beta"));
  EXPECT_FALSE(photos::hasCellConfiguration(""));
}

// From 15.0 cells are filled through _configureCell:forListItem:textColor:,
// and a change made after the original implementation is what the row shows.
TEST(Generations, FromFifteenTheGadgetConfiguresEachCellThroughTheRuntime) {
  for (const char* version : {"15.0", "16.4.1"}) {
    SCOPED_TRACE(version);
    Lines lines = run(scenario("iPhone", version), [](photos::PhotosApp& app, Lines& out) {
      id gadget = app.gadget();
      out.push_back("responds " +
                    yesNo(respondsTo(gadget, "_configureCell:forListItem:textColor:"_sel)));
      append(out, app.albums());
      using Configure = void (*)(id, SEL, id, id, id);
      static Configure original = nullptr;
      static Lines* log = nullptr;
      log = &out;
      Configure replacement = +[](id self, SEL sel, id cell, id item, id color) {
        original(self, sel, cell, item, color);
        log->push_back("configure " + foundation::stdString(msg<id>(item, "title"_sel)) + " " +
                       uikit::describe(color));
        if (msg<BOOL>(msg<id>(item, "collection"_sel), "px_isHiddenSmartAlbum"_sel)) {
          id label = msg<id>(msg<id>(cell, "valueForKey:"_sel, "badge"_ns), "badgeTextLabel"_sel);
          msg<void>(label, "setAttributedText:"_sel, uikit::newAttributedString("locked").get());
        }
      };
      original = reinterpret_cast<Configure>(class_replaceMethod(
          objc_getClass("PXNavigationListGadget"), "_configureCell:forListItem:textColor:"_sel,
          reinterpret_cast<IMP>(replacement), objc::signature<void, id, id, id>()));
      append(out, app.albums());
    });
    Lines expected = {"responds YES"};
    append(expected, kDefaultAlbums);
    for (const char* title :
         {"Recents", "Favorites", "Holidays", "Family", "Hidden", "Recently Deleted"}) {
      expected.push_back(std::string("configure ") + title + " labelColor");
    }
    append(expected, {"album Recents: 1204", "album Favorites: 37", "album Holidays: 212",
                      "album Family: 88", "album Hidden: locked", "album Recently Deleted: 5"});
    EXPECT_EQ(lines, expected);
  }
}

// Before 15.0 there is no _configureCell:..., the badge shows the item's
// count, and the item is made with initWithAssetCollection:itemCount: sent
// through the runtime on every reload.
TEST(Generations, BeforeFifteenTheBadgeShowsTheCountTheItemWasMadeWith) {
  for (const char* version : {"14.8", "beta"}) {
    SCOPED_TRACE(version);
    Lines lines = run(scenario("iPhone", version), [](photos::PhotosApp& app, Lines& out) {
      out.push_back("responds " +
                    yesNo(respondsTo(app.gadget(), "_configureCell:forListItem:textColor:"_sel)));
      append(out, app.albums());
      using Init = id (*)(id, SEL, id, long long);
      static Init original = nullptr;
      Init replacement = +[](id self, SEL sel, id collection, long long count) -> id {
        BOOL hidden = msg<BOOL>(collection, "px_isHiddenSmartAlbum"_sel);
        return original(self, sel, collection, hidden ? -3 : count);
      };
      original = reinterpret_cast<Init>(class_replaceMethod(
          objc_getClass("PXNavigationListAssetCollectionItem"),
          "initWithAssetCollection:itemCount:"_sel, reinterpret_cast<IMP>(replacement),
          objc::signature<id, id, long long>()));
      append(out, app.albums());
    });
    Lines expected = {"responds NO"};
    append(expected, kDefaultAlbums);
    append(expected, {"album Recents: 1204", "album Favorites: 37", "album Holidays: 212",
                      "album Family: 88", "album Hidden: -3", "album Recently Deleted: 5"});
    EXPECT_EQ(lines, expected);
  }
}

// --- iPhone navigation -------------------------------------------------------

TEST(PhoneNavigation, TapOpensTheAlbumAndBackReturns) {
  Lines lines = run(scenario("iPhone"), [](photos::PhotosApp& app, Lines& out) {
    // A loaded library's category on UIViewController reaches the gadget,
    // which finds the app's navigation controller through its parent.
    out.push_back(
        yesNo(msg<BOOL>(app.gadget(), "isKindOfClass:"_sel, uikit::viewControllerClass())));
    out.push_back(
        yesNo(msg<id>(app.gadget(), "navigationController"_sel) == app.navigationController()));
    out.push_back(app.where());
    out.push_back(app.back());
    out.push_back(app.tap("Nope"));
    out.push_back(app.tap("Hidden"));
    out.push_back(app.where());
    out.push_back(app.tap("Favorites"));
    out.push_back(app.back());
    out.push_back(app.where());
    out.push_back(app.tap("Recently Deleted"));
    out.push_back(app.where());
    id top = msg<id>(app.navigationController(), "topViewController"_sel);
    out.push_back(class_getName(object_getClass(top)));
    out.push_back(
        yesNo(msg<BOOL>(msg<id>(top, "collection"_sel), "px_isRecentlyDeletedSmartAlbum"_sel)));
  });
  EXPECT_EQ(lines, (Lines{"YES", "YES", "Albums", "no back button on the album list",
                          "no album named \"Nope\"", "", "Albums > Hidden",
                          "the album list is not on screen", "", "Albums", "",
                          "Albums > Recently Deleted", "PUAlbumViewController", "YES"}));
}

// A replacement of _navigateTolistItem:animated: is what a tap runs: the app
// sends the selector through the runtime, with animated YES, and the original
// answers the album it opened.
TEST(PhoneNavigation, ATapRunsTheReplacementOfTheListNavigation) {
  Lines lines = run(scenario("iPhone"), [](photos::PhotosApp& app, Lines& out) {
    using Navigate = id (*)(id, SEL, id, BOOL);
    static Navigate original = nullptr;
    static Lines* log = nullptr;
    log = &out;
    Navigate replacement = +[](id self, SEL sel, id item, BOOL animated) -> id {
      log->push_back("replacement " + foundation::stdString(msg<id>(item, "title"_sel)) +
                     " animated " + yesNo(animated));
      if (foundation::stdString(msg<id>(item, "title"_sel)) == "Hidden") return nullptr;
      id opened = original(self, sel, item, animated);
      log->push_back("opened " + foundation::stdString(msg<id>(opened, "title"_sel)));
      return opened;
    };
    original = reinterpret_cast<Navigate>(class_replaceMethod(
        objc_getClass("PXNavigationListGadget"), "_navigateTolistItem:animated:"_sel,
        reinterpret_cast<IMP>(replacement), objc::signature<id, id, BOOL>()));
    out.push_back(app.tap("Hidden"));
    out.push_back(app.where());
    out.push_back(app.tap("Holidays"));
    out.push_back(app.where());
  });
  EXPECT_EQ(lines, (Lines{"replacement Hidden animated YES", "", "Albums",
                          "replacement Holidays animated YES", "opened Holidays", "",
                          "Albums > Holidays"}));
}

// The albums view controller is told about the background with the
// platform's notification, on iPhone and iPad alike, once per departure.
TEST(PhoneNavigation, BackgroundTellsTheAlbumListWithItsNotification) {
  for (const char* model : {"iPhone", "iPad"}) {
    SCOPED_TRACE(model);
    Scenario s = scenario(model);
    s.beforeLaunch = [](Lines& out) {
      using Background = void (*)(id, SEL, id);
      static Lines* log = nullptr;
      log = &out;
      Background replacement = +[](id self, SEL, id notification) {
        log->push_back("background " + foundation::stdString(msg<id>(notification, "name"_sel)) +
                       " navigation " + (msg<id>(self, "navigationController"_sel) ? "yes" : "no"));
      };
      class_replaceMethod(objc_getClass("PUAlbumsGadgetViewController"),
                          "_applicationDidEnterBackground:"_sel, reinterpret_cast<IMP>(replacement),
                          objc::signature<void, id>());
    };
    Lines lines = run(s, [](photos::PhotosApp& app, Lines& out) {
      out.push_back(app.background());
      out.push_back(app.background());
      out.push_back(app.tap("Favorites"));
      out.push_back(app.back());
      out.push_back(app.foreground());
      out.push_back(app.foreground());
      out.push_back(app.tap("Favorites"));
    });
    Lines expected = {"background UIApplicationDidEnterBackgroundNotification navigation yes",
                      "",
                      "the app is already in the background",
                      "the app is in the background",
                      "the app is in the background",
                      "",
                      "the app is already on screen"};
    if (std::string(model) == "iPad") expected.push_back("event completed Favorites");
    expected.push_back("");
    EXPECT_EQ(lines, expected);
  }
}

// --- iPad sidebar ------------------------------------------------------------

TEST(PadSidebar, ShowsTheDestinationAndCallsTheHandlerOnce) {
  Scenario s = scenario("iPad");
  s.beforeLaunch = [](Lines& out) {
    using Navigate = void (*)(id, SEL, id, BOOL, id);
    static Navigate original = nullptr;
    static Lines* log = nullptr;
    log = &out;
    Navigate replacement = +[](id self, SEL sel, id item, BOOL same_item, id handler) {
      log->push_back("navigate " + foundation::stdString(msg<id>(item, "title"_sel)) +
                     " sameItem " + yesNo(same_item));
      original(self, sel, item, same_item, handler);
    };
    original = reinterpret_cast<Navigate>(class_replaceMethod(
        objc_getClass("PUSidebarViewController"),
        "_navigateToDestinationForItem:sameItem:completionHandler:"_sel,
        reinterpret_cast<IMP>(replacement), objc::signature<void, id, BOOL, id>()));
  };
  Lines lines = run(s, [](photos::PhotosApp& app, Lines& out) {
    out.push_back("where " + app.where());
    out.push_back(app.tap("Hidden"));
    out.push_back("where " + app.where());
    out.push_back(app.tap("Hidden"));
    out.push_back("where " + app.where());
    out.push_back(app.tap("Family"));
    out.push_back("where " + app.where());
    out.push_back(app.back());
    out.push_back("where " + app.where());
    out.push_back(app.tap("Nope"));
    out.push_back(
        std::to_string(msg<unsigned long>(msg<id>(app.sidebar(), "items"_sel), "count"_sel)));
  });
  EXPECT_EQ(
      lines,
      (Lines{"where Albums", "navigate Hidden sameItem NO", "event completed Hidden", "",
             "where Albums > Hidden", "navigate Hidden sameItem YES", "event completed Hidden", "",
             "where Albums > Hidden", "navigate Family sameItem NO", "event completed Family", "",
             "where Albums > Family", "", "where Albums", "no album named \"Nope\"", "6"}));
}

// A guard may hold the handler and run the navigation later; the handler
// outlives the tap and reports when it finally runs.
TEST(PadSidebar, AHandlerHeldPastTheTapStillReportsWhenItRuns) {
  Scenario s = scenario("iPad");
  static Strong<Block<void()>> later;
  s.beforeLaunch = [](Lines&) {
    using Navigate = void (*)(id, SEL, id, BOOL, id);
    static Navigate original = nullptr;
    Navigate replacement = +[](id self, SEL sel, id item, BOOL same_item, id handler) {
      Strong<objc_object> keep_self(self), keep_item(item), keep_handler(handler);
      later =
          makeBlock<void()>([=] { original(keep_self, sel, keep_item, same_item, keep_handler); });
    };
    original = reinterpret_cast<Navigate>(class_replaceMethod(
        objc_getClass("PUSidebarViewController"),
        "_navigateToDestinationForItem:sameItem:completionHandler:"_sel,
        reinterpret_cast<IMP>(replacement), objc::signature<void, id, BOOL, id>()));
  };
  Lines lines = run(s, [](photos::PhotosApp& app, Lines& out) {
    out.push_back(app.tap("Hidden"));
    out.push_back("where " + app.where());
    later->call();
    later = nullptr;
    out.push_back("where " + app.where());
  });
  EXPECT_EQ(lines, (Lines{"", "where Albums", "event completed Hidden", "where Albums > Hidden"}));
}

// --- library and bundles -----------------------------------------------------

TEST(Launch, InstalledAppHasItsBundlesAndDefaultLibrary) {
  Lines lines = run(scenario("iPhone"), [](photos::PhotosApp& app, Lines& out) {
    out.push_back("error " + app.libraryError());
    id bundles = msg<id>(foundation::bundleClass(), "allBundles"_sel);
    for (const auto& bundle : static_cast<NSArray*>(bundles)->items) {
      id identifier = msg<id>(bundle, "bundleIdentifier"_sel);
      out.push_back(identifier ? foundation::stdString(identifier) : "-");
    }
    append(out, app.albums());
  });
  Lines expected = {"error ", "com.apple.mobileslideshow", "com.apple.PhotosUICore",
                    "com.apple.Photos", "-"};
  append(expected, kDefaultAlbums);
  EXPECT_EQ(lines, expected);
}

TEST(Launch, AMissingLibraryLeavesAnEmptyListAndSaysWhy) {
  Lines lines =
      run(scenario("iPhone", "16.4.1", /*install=*/false), [](photos::PhotosApp& app, Lines& out) {
        out.push_back(app.libraryError().empty() ? "no error" : "error");
        out.push_back(std::to_string(app.albums().size()));
        out.push_back(app.tap("Hidden"));
        out.push_back(app.where());
      });
  EXPECT_EQ(lines, (Lines{"error", "0", "no album named \"Hidden\"", "Albums"}));
}

}  // namespace
