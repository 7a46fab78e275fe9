// The screen of an app program: the app's window and, while an
// authentication prompt is pending, the system's prompt drawn over it (the
// screen dimmed, a card with the Face ID glyph when Face ID is offered, the
// app's name, the reason, the passcode field with a dot for each digit typed
// so far, a keypad and Cancel).
//
// It gives a program three commands:
//   screenshot PATH   the whole screen as a PNG, answered `screenshot PATH WxH`
//   views             each window's view tree, a view a line (uikit::viewTreeLines)
//   touch X Y         a touch at a point in screen points, hit-tested
//
// A touch is modal while a prompt is on screen: it reaches only the prompt.
// Its keys type a passcode, Delete takes back a digit, OK answers with the
// digits typed (as `answer passcode` does), Cancel cancels the prompt (as
// `answer cancel` does); a touch outside the prompt's card is refused as the
// app's own commands are while the prompt is up ("the authentication prompt
// is on screen: answer or cancel it first"). Otherwise, unless the program's
// touch gate refuses every touch (an app in the background: the same error
// wherever the touch lands), the view it reaches goes to the program's
// `deliver`, which does what a tap there does, through the same code its
// typed commands use.
//
// Thread safety: main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/console.h"
#include "platform/uikit/uiwindow.h"

namespace program {

class Screen {
 public:
  // What a tap on `view` (the view a touch reached in the app's window) does.
  using Deliver = std::function<CommandResult(UIView* view)>;

  // `window` answers the app's window laid out as it is now.
  Screen(std::function<UIWindow*()> window, Deliver deliver);

  // `gate` answers "" while touches reach the app's window, else the error
  // every touch there answers. None: they always do.
  void setTouchGate(std::function<CommandResult()> gate) { gate_ = std::move(gate); }

  CommandResult screenshot(const std::string& path);
  CommandResult views();
  CommandResult touch(const std::string& arguments);

  // Forgets the digits typed on the prompt's keypad (the prompt was answered
  // some other way).
  void forgetTyped() { typed_.clear(); }

  // Adds screenshot, views and touch to `console`; the caller keeps this
  // screen alive as long as the console.
  void addCommands(Console* console);
  // The same, for a screen the commands keep alive themselves.
  static void addCommands(const std::shared_ptr<Screen>& screen, Console* console);

  // The windows on screen now, bottom first, laid out.
  std::vector<UIView*> windows();

 private:
  std::function<UIWindow*()> window_;
  Deliver deliver_;
  std::function<CommandResult()> gate_;
  Strong<UIWindow> prompt_window_;  // rebuilt each time the screen is read
  std::string typed_;               // digits typed on the prompt's keypad so far
  std::uint64_t typed_for_ = 0;     // the serial of the prompt they were typed on
};

// The nearest of `view` and its superviews that is of class `cls`, or nullptr.
UIView* enclosing(UIView* view, Class cls);

}  // namespace program
