// velmo-device photos: the Photos app. It runs as a process named
// MobileSlideShow, registers the app's classes, lets the hooking runtime load
// its libraries, and then answers the commands of a person or a test.
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

#include "device/console.h"
#include "device/options.h"
#include "device/photos_pid.h"
#include "device/programs.h"
#include "device/screen.h"
#include "device/tweak_state.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/nsstring.h"
#include "platform/localauth/prompt.h"
#include "platform/notify/notify.h"
#include "platform/photos/list_views.h"
#include "platform/photos/photo_library.h"
#include "platform/photos/photos_app.h"

namespace program {
namespace {

constexpr const char* kChanged = "com.qel.velmopreferences/changed";

void printNotified(CFNotificationCenterRef, void*, CFStringRef name, const void*, CFDictionaryRef) {
  print("notified " + foundation::stdString(name));
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string promptLine(const localauth::Prompt& prompt) {
  return "prompt " + quoted(prompt.reason) + (prompt.faceOffered ? " face+passcode" : " passcode");
}

// The album titles of the device's library, for completion.
std::vector<std::string> albumTitles() {
  objc::AutoreleasePool pool;
  std::vector<std::string> titles;
  for (const auto& collection : photos::readLibrary().collections) {
    titles.push_back(foundation::stdString(collection->localizedTitle));
  }
  return titles;
}

std::string promptLine() {
  auto prompt = localauth::pendingPrompt();
  return prompt ? promptLine(*prompt) : "prompt none";
}

}  // namespace

int photosMain(const Options& options) {
  prctl(PR_SET_NAME, "MobileSlideShow");
  dispatch::markMainThread();
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  photos::registerClasses();
  photos::bootBundles();
  for (const std::string& e : loadTweaks("MobileSlideShow")) print("error: " + e);

  photos::PhotosApp app([](const std::string& line) { print(line); });
  if (!app.libraryError().empty()) print("error: " + app.libraryError());
  CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                  &printNotified, foundation::makeString(kChanged), nullptr,
                                  CFNotificationSuspensionBehaviorCoalesce);
  localauth::setPromptShownHandler(
      [](const localauth::Prompt& prompt) { print(promptLine(prompt)); });

  Console console("photos");
  console.add("albums", {"albums", "the album list as the app draws it", [&](const std::string&) {
                           for (const std::string& line : app.albums()) print(line);
                           return CommandResult();
                         }});
  auto tap = [&](const std::string& rest) {
    if (rest.empty()) return CommandResult("usage: tap <album title>");
    CommandResult result = app.tap(rest);
    if (result.rfind("no album named", 0) == 0) {
      result += " (albums lists them)";
    } else if (result == "the album list is not on screen") {
      result += " (back returns to it)";
    }
    return result;
  };
  auto back = [&](const std::string&) { return app.back(); };
  console.add("tap", {"tap <album title>", "tap an album (the sidebar on iPad)", tap, albumTitles});
  console.add("prompt", {"prompt", "the pending authentication prompt", [&](const std::string&) {
                           print(promptLine());
                           return CommandResult();
                         }});
  // A touch on a row is the row's tap; on the back button, back.
  Screen screen([&] { return app.window(); },
                [&](UIView* view) -> CommandResult {
                  for (UIView* v = view; v != nullptr; v = v->superview) {
                    if (v->accessibilityIdentifier == "BackButton") return back("");
                  }
                  if (auto* row = enclosing(view, photos::listCellClass())) {
                    return tap(photos::cellTitle(static_cast<PXNavigationListCell*>(row)));
                  }
                  auto* cell =
                      static_cast<UITableViewCell*>(enclosing(view, uikit::tableViewCellClass()));
                  if (cell != nullptr && cell->textLabel && app.isPad()) {
                    return tap(uikit::labelText(cell->textLabel));  // a sidebar item
                  }
                  return CommandResult();
                });
  console.add(
      "answer",
      {"answer passcode <code>|face|cancel", "answer the prompt as the device's owner",
       [&](const std::string& rest) {
         auto [how, code] = splitFirst(rest);
         // A prompt never outlives the app on screen, so in the background
         // there is nothing to answer.
         if (app.inBackground()) return CommandResult("the app is in the background (no prompt)");
         localauth::AnswerResult r;
         if (how == "passcode" && !code.empty()) {
           r = localauth::answerPasscode(code);
         } else if (how == "face" && code.empty()) {
           r = localauth::answerFace();
         } else if (how == "cancel" && code.empty()) {
           r = localauth::answerCancel();
         } else {
           return CommandResult("usage: answer passcode <code> | answer face | answer cancel");
         }
         if (!r.taken) {
           const std::string prefix = "error: ";
           return r.message.rfind(prefix, 0) == 0 ? r.message.substr(prefix.size()) : r.message;
         }
         screen.forgetTyped();
         if (!r.message.empty()) print(r.message);
         return CommandResult();
       },
       [] {
         return std::vector<std::string>{"passcode ", "face", "cancel"};
       }});
  console.add("back", {"back", "the navigation back button", back});
  console.add("background", {"background", "the app leaves the screen",
                             [&](const std::string&) { return app.background(); }});
  console.add("foreground", {"foreground", "the app returns to the screen",
                             [&](const std::string&) { return app.foreground(); }});
  console.add("where", {"where", "the navigation stack", [&](const std::string&) {
                          print("where " + app.where());
                          return CommandResult();
                        }});
  // In the background no touch reaches the app, wherever it lands.
  screen.setTouchGate([&] { return app.refuseTouch(); });
  screen.addCommands(&console);
  console.addListing("hooks", "the hooks installed in this process", hookLines);
  console.addListing("vars", "the tweak's exported variables", varLines);
  console.addListing("bundles", "each bundle's Face ID usage description", bundleLines);
  console.addQuit("end the app");
  if (isatty(STDIN_FILENO))
    std::fprintf(stderr, "Photos (MobileSlideShow, pid %d). Type help for commands.\n", getpid());
  // A process the device's killall cannot see must not run: Settings could
  // not restart it, and it would keep stale options.
  if (std::string e = recordPhotosPid(); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  int code = console.run();
  forgetPhotosPid();
  return code;
}

}  // namespace program
