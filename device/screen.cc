#include "device/screen.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/foundation/nsstring.h"
#include "platform/localauth/prompt.h"
#include "platform/uikit/render.h"
#include "platform/uikit/uiapplication.h"
#include "platform/uikit/uikit.h"

namespace program {
namespace {

constexpr const char* kCancelIdentifier = "Cancel";
constexpr const char* kCardIdentifier = "PromptCard";
constexpr const char* kKeyPrefix = "Key";  // "Key7", "KeyDelete", "KeyOK"
constexpr double kCardWidth = 270;
constexpr size_t kMaxTyped = 16;

Strong<UIView> plainView(const CGRect& frame, const char* color) {
  Strong<UIView> view = uikit::newView(uikit::viewClass(), frame);
  if (color != nullptr) view->backgroundColor = uikit::namedColor(color);
  return view;
}

// The system's authentication prompt as a window over the app: the screen
// dimmed, and a card in its middle.
Strong<UIWindow> promptWindow(const localauth::Prompt& prompt, const uikit::Screen& screen,
                              size_t typed) {
  Strong<UIWindow> window = uikit::newWindow(nullptr, screen);
  window->backgroundColor = nullptr;
  window->statusBar = nullptr;
  Strong<UIView> dim = plainView(CGRect{0, 0, screen.size.width, screen.size.height}, nullptr);
  dim->backgroundColor = static_cast<UIColor*>(
      msg<id>(uikit::colorClass(), "colorWithRed:green:blue:alpha:"_sel, 0.0, 0.0, 0.0, 0.4));
  uikit::addSubview(window, dim);

  Strong<UIView> card = plainView(CGRect{0, 0, kCardWidth, 0}, "whiteColor");
  card->accessibilityIdentifier = kCardIdentifier;
  uikit::layerOf(card)->cornerRadius = 14;
  card->clipsToBounds = true;
  double y = 20;
  if (prompt.faceOffered) {
    Strong<UIView> glyph =
        uikit::newView(uikit::imageViewClass(), CGRect{(kCardWidth - 56) / 2, y, 56, 56});
    static_cast<UIImageView*>(glyph.get())->image = static_cast<UIImage*>(
        msg<id>(uikit::imageClass(), "systemImageNamed:"_sel, static_cast<id>("faceid"_ns)));
    glyph->tintColor = uikit::namedColor("systemBlueColor");
    uikit::addSubview(card, glyph);
    y += 56 + 14;
  }
  auto addText = [&](const std::string& text, double size, bool bold, const char* color) {
    Strong<UILabel> label = uikit::newLabel(
        text, uikit::systemFont(size, bold ? UIFontWeightBold : UIFontWeightRegular),
        uikit::namedColor(color));
    label->numberOfLines = 0;
    label->textAlignment = NSTextAlignmentCenter;
    double width = kCardWidth - 32;
    CGSize size_used = uikit::labelTextSize(label, width);
    label->frame = CGRect{16, y, width, size_used.height};
    uikit::addSubview(card, label);
    y += size_used.height;
  };
  addText(std::string("Enter ") + (screen.pad ? "iPad" : "iPhone") + " Passcode for “Photos”", 17,
          true, "labelColor");
  y += 4;
  addText(prompt.reason, 13, false, "labelColor");
  y += 16;
  // The passcode field: a dot for each digit typed so far, the row of dots
  // centred, closer together when a long passcode would not fit otherwise.
  const double field_width = kCardWidth - 32;
  Strong<UIView> field = plainView(CGRect{16, y, field_width, 36}, "systemGroupedBackgroundColor");
  uikit::layerOf(field)->cornerRadius = 8;
  field->accessibilityIdentifier = "PasscodeField";
  constexpr double kDot = 10, kDotPitch = 16, kFieldMargin = 12;
  double pitch = typed < 2 ? kDotPitch
                           : std::min(kDotPitch, (field_width - 2 * kFieldMargin - kDot) /
                                                     static_cast<double>(typed - 1));
  double row = typed == 0 ? 0 : kDot + pitch * static_cast<double>(typed - 1);
  for (size_t i = 0; i < typed; ++i) {
    double x = (field_width - row) / 2 + pitch * static_cast<double>(i);
    Strong<UIView> dot = plainView(CGRect{x, (36 - kDot) / 2, kDot, kDot}, "labelColor");
    uikit::layerOf(dot)->cornerRadius = kDot / 2;
    uikit::addSubview(field, dot);
  }
  uikit::addSubview(card, field);
  y += 36 + 12;
  // The keypad: digits, then Delete, 0 and OK.
  const char* const keys[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "Delete", "0", "OK"};
  double key_width = (kCardWidth - 32 - 2 * 8) / 3;
  for (int i = 0; i < 12; ++i) {
    Strong<UIButton> key = uikit::newButton(keys[i], "");
    bool digit = i != 9 && i != 11;
    key->titleLabel->font = static_cast<UIFont*>(
        uikit::systemFont(digit ? 22 : 15, i == 11 ? UIFontWeightBold : UIFontWeightRegular));
    if (digit) key->titleLabel->textColor = uikit::namedColor("labelColor");
    key->frame = CGRect{16 + (i % 3) * (key_width + 8), y + (i / 3) * 48.0, key_width, 40};
    key->backgroundColor = uikit::namedColor("systemGroupedBackgroundColor");
    uikit::layerOf(key)->cornerRadius = 8;
    key->accessibilityIdentifier = std::string(kKeyPrefix) + keys[i];
    uikit::addSubview(card, key);
  }
  y += 4 * 48 + 12;
  uikit::addSubview(card, plainView(CGRect{0, y, kCardWidth, 0.5}, "separatorColor"));
  Strong<UIButton> cancel = uikit::newButton("Cancel", "");
  cancel->accessibilityIdentifier = kCancelIdentifier;
  cancel->frame = CGRect{0, y + 0.5, kCardWidth, 44};
  uikit::addSubview(card, cancel);
  y += 44.5;

  card->frame =
      CGRect{(screen.size.width - kCardWidth) / 2, (screen.size.height - y) / 2, kCardWidth, y};
  uikit::addSubview(dim, card);
  uikit::layoutWindow(window);
  return window;
}

// An answer to the prompt as a command's result: its line printed, or the
// reason it was not taken.
CommandResult answered(const localauth::AnswerResult& r) {
  const std::string prefix = "error: ";
  if (!r.taken)
    return r.message.rfind(prefix, 0) == 0 ? r.message.substr(prefix.size()) : r.message;
  if (!r.message.empty()) print(r.message);
  return "";
}

bool parseNumber(const std::string& text, double* out) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto [rest, error] = std::from_chars(begin, end, *out);
  return error == std::errc() && rest == end && std::isfinite(*out);
}

}  // namespace

UIView* enclosing(UIView* view, Class cls) {
  for (UIView* v = view; v != nullptr; v = v->superview) {
    if (msg<BOOL>(v, "isKindOfClass:"_sel, cls)) return v;
  }
  return nullptr;
}

Screen::Screen(std::function<UIWindow*()> window, Deliver deliver)
    : window_(std::move(window)), deliver_(std::move(deliver)) {}

std::vector<UIView*> Screen::windows() {
  std::vector<UIView*> list{window_()};
  prompt_window_ = nullptr;
  auto prompt = localauth::pendingPrompt();
  // Digits belong to the prompt they were typed on: once it has ended, however
  // it ended, the next prompt starts with an empty field, even if it asks for
  // the same reason.
  if (!prompt || prompt->serial != typed_for_) typed_.clear();
  if (prompt) {
    typed_for_ = prompt->serial;
    prompt_window_ = promptWindow(*prompt, uikit::mainScreen(), typed_.size());
    list.push_back(prompt_window_);
  }
  return list;
}

CommandResult Screen::screenshot(const std::string& path) {
  if (path.empty()) return "usage: screenshot PATH";
  uikit::Bitmap bitmap = uikit::renderScreen(windows(), uikit::mainScreen());
  if (std::string error = uikit::writePng(bitmap, path); !error.empty()) return error;
  print("screenshot " + path + " " + std::to_string(bitmap.width) + "x" +
        std::to_string(bitmap.height));
  return "";
}

CommandResult Screen::views() {
  for (UIView* window : windows()) {
    for (const std::string& line : uikit::viewTreeLines(window)) print(line);
  }
  return "";
}

CommandResult Screen::touch(const std::string& arguments) {
  auto [x_text, y_text] = splitFirst(arguments);
  CGPoint point;
  if (!parseNumber(x_text, &point.x) || !parseNumber(y_text, &point.y)) {
    return "usage: touch X Y (screen points)";
  }
  const uikit::Screen& screen = uikit::mainScreen();
  if (point.x < 0 || point.y < 0 || point.x >= screen.size.width || point.y >= screen.size.height) {
    return "(" + x_text + ", " + y_text + ") is off the screen (" +
           uikit::formatNumber(screen.size.width) + "x" + uikit::formatNumber(screen.size.height) +
           " points)";
  }
  std::vector<UIView*> shown = windows();
  if (prompt_window_) {
    UIView* hit = uikit::hitTest(prompt_window_, point);
    for (UIView* v = hit; v != nullptr; v = v->superview) {
      const std::string& name = v->accessibilityIdentifier;
      if (name == kCancelIdentifier) {
        typed_.clear();
        return answered(localauth::answerCancel());
      }
      if (name.rfind(kKeyPrefix, 0) == 0) {
        std::string key = name.substr(std::strlen(kKeyPrefix));
        if (key == "OK") {
          // As on a phone, OK with an empty field does nothing.
          if (typed_.empty()) return "";
          std::string code = std::exchange(typed_, "");
          return answered(localauth::answerPasscode(code));
        }
        if (key == "Delete") {
          if (!typed_.empty()) typed_.pop_back();
        } else if (typed_.size() < kMaxTyped) {
          typed_ += key;
        }
        return "";
      }
      if (v->accessibilityIdentifier == kCardIdentifier) return "";
    }
    // The app's own input path refuses in the same words while an alert is up.
    std::optional<std::string> alert = uikit::systemAlert();
    return alert.value_or("the authentication prompt") + " is on screen: answer or cancel it first";
  }
  if (gate_) {
    if (CommandResult refused = gate_(); !refused.empty()) return refused;
  }
  UIView* hit = uikit::hitTest(shown.front(), point);
  if (hit == nullptr) return "";
  return deliver_(hit);
}

void Screen::addCommands(Console* console) {
  // The caller keeps the screen alive as long as the console.
  addCommands(std::shared_ptr<Screen>(std::shared_ptr<Screen>(), this), console);
}

void Screen::addCommands(const std::shared_ptr<Screen>& screen, Console* console) {
  console->add("screenshot",
               {"screenshot PATH", "the whole screen as a PNG",
                [screen](const std::string& rest) { return screen->screenshot(rest); }});
  console->add("views", {"views", "the view tree on screen, a view a line",
                         [screen](const std::string&) { return screen->views(); }});
  console->add("touch", {"touch X Y", "a touch at a point of the screen (in points)",
                         [screen](const std::string& rest) { return screen->touch(rest); }});
}

}  // namespace program
