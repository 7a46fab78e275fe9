// velmo-device settings: the Settings app. It finds a pane through the
// entries in /var/jb/Library/PreferenceLoader/Preferences, loads the pane's
// plug-in, makes its controller by the class name the entry gives, and drives
// it as the app does: alloc/init, the bundle, the view (viewDidLoad), cells
// through -tableView:cellForRowAtIndexPath:, and the owner's changes through
// the cells' controls and the master switch in the navigation bar.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/console.h"
#include "device/options.h"
#include "device/photos_pid.h"
#include "device/process_registry.h"
#include "device/programs.h"
#include "device/screen.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsbundle.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/nsuserdefaults.h"
#include "platform/foundation/spawn.h"
#include "platform/preferences/ps_list_controller.h"
#include "platform/preferences/ps_table_cell.h"
#include "platform/uikit/uikit.h"

namespace program {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEntriesFolder = "/var/jb/Library/PreferenceLoader/Preferences";
constexpr const char* kBundlesFolder = "/var/jb/Library/PreferenceBundles";

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

// "on", "true", "yes" -> true; "off", "false", "no" -> false; else nothing.
std::optional<bool> parseSwitch(const std::string& text) {
  std::string t = lower(text);
  if (t == "on" || t == "true" || t == "yes") return true;
  if (t == "off" || t == "false" || t == "no") return false;
  return std::nullopt;
}

bool isWholeNumber(const std::string& text) {
  long long value = 0;
  const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(begin, end, value);
  return begin != end && error == std::errc() && rest == end;
}

bool isListController(Class cls) {
  for (Class c = cls; c != nullptr; c = class_getSuperclass(c)) {
    if (c == preferences::listControllerClass()) return true;
  }
  return false;
}

// Why the last write of the preferences went wrong, with paths as the phone
// spells them.
std::string lastSaveError() {
  std::string text = foundation::userDefaultsLastError();
  const std::string prefix = "user defaults: ";
  if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  const std::string& root = device::root();
  for (size_t at;
       !root.empty() && root != "/" && (at = text.find(root + "/")) != std::string::npos;)
    text.erase(at, root.size());
  return text;
}

// Runs `change`, which saves `key` through code that reports nothing (the
// pane), and says whether anything failed to reach the preferences.
CommandResult saved(const std::string& key, const std::function<void()>& change) {
  unsigned long failures = foundation::userDefaultsFailedWrites();
  change();
  if (foundation::userDefaultsFailedWrites() == failures) return "";
  // Another process holds the domain's lock: nothing was written, and the
  // owner may simply try again.
  if (lastSaveError() == foundation::kDomainBusy) return "the settings are busy";
  return key + " was not saved: " + lastSaveError();
}

id property(id dictionary, const char* key) {
  if (!foundation::isDictionary(dictionary)) return nullptr;
  return static_cast<NSDictionary*>(dictionary)->find(foundation::makeString(key));
}

std::string stringProperty(id dictionary, const char* key) {
  id value = property(dictionary, key);
  return foundation::isString(value) ? foundation::stdString(value) : "";
}

// A Settings entry: the dictionary under "entry" of a PreferenceLoader plist.
struct Entry {
  Strong<objc_object> properties;
  std::string bundle;     // "VelmoPreferences"
  std::string className;  // "VLPRootListController"
};

// The entry whose label is `label`; its error otherwise.
std::optional<Entry> findEntry(const std::string& label, std::string* error) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(device::devicePath(kEntriesFolder), ec)) {
    if (item.path().extension() == ".plist") files.push_back(item.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    std::string path = std::string(kEntriesFolder) + "/" + file;
    id plist = msg<id>(foundation::dictionaryClass(), "dictionaryWithContentsOfFile:"_sel,
                       static_cast<id>(foundation::makeString(path)));
    id entry = property(plist, "entry");
    if (stringProperty(entry, "label") != label) continue;
    Entry found{entry, stringProperty(entry, "bundle"), stringProperty(entry, "detail")};
    if (found.bundle.empty()) {
      *error = path + " names no bundle";
      return std::nullopt;
    }
    return found;
  }
  *error = "no Settings entry labelled \"" + label + "\"";
  return std::nullopt;
}

// The picture an entry's "icon" names (a file name in its bundle, as
// "icon.png"), as the phone picks it for a screen of `scale`: "icon@3x.png"
// on a scale-3 screen, then the lower scales' down to "icon@2x.png", then the
// name itself. Nil when the entry names none, the name is not a plain file
// name, or no such file decodes.
id entryIcon(id entry, const std::string& bundle, double scale) {
  std::string name = stringProperty(entry, "icon");
  if (name.empty() || bundle.empty() || name.find('/') != std::string::npos || name == "." ||
      name == ".." || bundle.find('/') != std::string::npos)
    return nullptr;
  size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  std::vector<std::string> candidates;
  for (int s = static_cast<int>(scale); s >= 2; --s)
    candidates.push_back(stem + "@" + std::to_string(s) + "x" + extension);
  candidates.push_back(name);
  std::string folder = std::string(kBundlesFolder) + "/" + bundle + ".bundle/";
  for (const std::string& candidate : candidates) {
    id image = msg<id>(uikit::imageClass(), "imageWithContentsOfFile:"_sel,
                       static_cast<id>(foundation::makeString(folder + candidate)));
    if (image != nullptr) return image;
  }
  return nullptr;
}

// A row of the Settings app's first screen.
struct RootRow {
  std::string label;
  Strong<objc_object> icon;  // nil when the entry has none
};

// The Settings entries with a label, in file-name order.
std::vector<RootRow> rootRows() {
  std::vector<std::string> files;
  std::vector<RootRow> rows;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(device::devicePath(kEntriesFolder), ec)) {
    if (item.path().extension() == ".plist") files.push_back(item.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    id plist =
        msg<id>(foundation::dictionaryClass(), "dictionaryWithContentsOfFile:"_sel,
                static_cast<id>(foundation::makeString(std::string(kEntriesFolder) + "/" + file)));
    id entry = property(plist, "entry");
    std::string label = stringProperty(entry, "label");
    if (label.empty()) continue;
    rows.push_back(
        {label, entryIcon(entry, stringProperty(entry, "bundle"), uikit::mainScreen().scale)});
  }
  return rows;
}

// The Settings app's first screen: a row for each installed pane, with the
// entry's icon before its label.
struct SettingsRootController : UIViewController {
  std::vector<RootRow> rows;
};

void loadRootTable(id self, SEL) {
  id table = msg<id>(msg<id>(uikit::tableViewClass(), "alloc"_sel), "initWithFrame:style:"_sel,
                     CGRectZero, long{UITableViewStyleInsetGrouped});
  msg<void>(table, "setDataSource:"_sel, self);
  msg<void>(self, "setView:"_sel, table);
  objc_release(table);
}

long rootRowCount(id self, SEL, id, long) {
  return static_cast<long>(static_cast<SettingsRootController*>(self)->rows.size());
}

id rootCell(id self, SEL, id, id path) {
  auto& rows = static_cast<SettingsRootController*>(self)->rows;
  long row = msg<long>(path, "row"_sel);
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return nullptr;
  const RootRow& entry = rows[static_cast<size_t>(row)];
  id cell = msg<id>(msg<id>(uikit::tableViewCellClass(), "alloc"_sel),
                    "initWithStyle:reuseIdentifier:"_sel, long{UITableViewCellStyleDefault},
                    static_cast<id>("Entry"_ns));
  msg<void>(msg<id>(cell, "textLabel"_sel), "setText:"_sel,
            static_cast<id>(foundation::makeString(entry.label)));
  if (entry.icon) msg<void>(msg<id>(cell, "imageView"_sel), "setImage:"_sel, entry.icon.get());
  msg<void>(cell, "setAccessoryType:"_sel, long{UITableViewCellAccessoryDisclosureIndicator});
  return objc_autorelease(cell);
}

Class defineSettingsRoot() {
  Class cls = objc::defineClass<SettingsRootController>("PSUIPrefsListController",
                                                        uikit::viewControllerClass());
  addMethod(cls, "loadView"_sel, loadRootTable);
  addMethod(cls, "tableView:numberOfRowsInSection:"_sel, rootRowCount);
  addMethod(cls, "tableView:cellForRowAtIndexPath:"_sel, rootCell);
  return cls;
}

Class settingsRootClass() {
  static Class cls = defineSettingsRoot();
  return cls;
}

class SettingsApp {
 public:
  // The app's window as the screen shows it now: the list of panes, or the
  // open pane with a back button to it.
  UIWindow* window() {
    if (!window_) {
      auto root = allocInit<SettingsRootController>(settingsRootClass());
      msg<void>(root, "setTitle:"_sel, static_cast<id>("Settings"_ns));
      root->rows = rootRows();
      navigation_ = adopt(static_cast<UINavigationController*>(
          msg<id>(msg<id>(uikit::navigationControllerClass(), "alloc"_sel),
                  "initWithRootViewController:"_sel, static_cast<id>(root.get()))));
      msg<void>(msg<id>(navigation_, "navigationBar"_sel), "setPrefersLargeTitles:"_sel, YES);
      if (controller_) {
        msg<void>(navigation_, "pushViewController:animated:"_sel,
                  static_cast<id>(controller_.get()), NO);
      }
      window_ = uikit::newWindow(navigation_, uikit::mainScreen());
    }
    uikit::layoutWindow(window_);
    return window_;
  }

  // The back button: from the pane to the list of panes.
  CommandResult back() {
    if (!controller_) return "no back button on the list of panes";
    if (navigation_) msg<id>(navigation_, "popToRootViewControllerAnimated:"_sel, NO);
    controller_ = nullptr;
    label_.clear();
    return "";
  }

  UISwitch* masterSwitchIfOpen() { return controller_ ? masterSwitch() : nullptr; }

  // The key of the row whose switch is `control`, "" when it is none of the pane's.
  std::string switchRowKey(UIView* control) {
    if (!controller_) return "";
    for (UIView* v = control; v != nullptr; v = v->superview) {
      if (!msg<BOOL>(v, "isKindOfClass:"_sel, static_cast<id>(preferences::switchTableCellClass())))
        continue;
      auto* cell = static_cast<PSSwitchTableCell*>(v);
      return cell->control.get() == control ? preferences::stringProperty(cell->specifier, "key")
                                            : "";
    }
    return "";
  }

  CommandResult open(const std::string& label) {
    if (label.empty()) return "usage: open <pane>";
    std::string error;
    std::optional<Entry> entry = findEntry(label, &error);
    if (!entry) return error;

    std::string bundlePath = std::string(kBundlesFolder) + "/" + entry->bundle + ".bundle";
    id bundle = msg<id>(foundation::bundleClass(), "bundleWithPath:"_sel,
                        static_cast<id>(foundation::makeString(bundlePath)));
    if (bundle == nullptr) return "no bundle at " + bundlePath;
    std::string executable =
        stringProperty(msg<id>(bundle, "infoDictionary"_sel), "CFBundleExecutable");
    if (executable.empty()) executable = entry->bundle;
    std::string plugin = device::devicePath(bundlePath + "/" + executable);
    // dlopen would block on a FIFO: only a regular file is loaded.
    if (std::string e = device::regularFileError(plugin); !e.empty()) {
      return "cannot load " + bundlePath + "/" + executable + ": " + e;
    }
    // The plug-in stays loaded for the life of the app: its classes are registered.
    if (dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL) == nullptr) {
      const char* why = dlerror();
      return "cannot load " + bundlePath + "/" + executable + ": " + (why ? why : "unknown error");
    }
    foundation::addLoadedBundle(bundlePath);

    std::string className = entry->className;
    if (className.empty())
      className = stringProperty(msg<id>(bundle, "infoDictionary"_sel), "NSPrincipalClass");
    Class cls = objc_getClass(className.c_str());
    if (cls == nullptr)
      return "the bundle " + entry->bundle + " has no class \"" + className + "\"";
    if (!isListController(cls)) return "\"" + className + "\" is not a PSListController";

    Strong<objc_object> controller = allocInit(cls);
    if (!controller) return "the pane's controller did not initialise";
    msg<void>(controller, "setBundle:"_sel, bundle);
    msg<void>(controller, "setSpecifier:"_sel,
              static_cast<id>(preferences::newSpecifier(
                  static_cast<NSDictionary*>(entry->properties.get()), nullptr)));
    msg<id>(controller, "view"_sel);  // loads the view: -loadView, then -viewDidLoad
    controller_ = controller;
    label_ = label;
    if (navigation_) {
      msg<id>(navigation_, "popToRootViewControllerAnimated:"_sel, NO);
      msg<void>(navigation_, "pushViewController:animated:"_sel, static_cast<id>(controller_.get()),
                NO);
    }
    return "";
  }

  // The keys of the open pane's rows, for completion.
  std::vector<std::string> rowKeys() {
    std::vector<std::string> keys;
    if (!controller_) return keys;
    objc::AutoreleasePool pool;
    for (const auto& [specifier, cell] : cells()) {
      std::string key = preferences::stringProperty(specifier, "key");
      if (!key.empty()) keys.push_back(key + " ");
    }
    return keys;
  }

  CommandResult show() {
    if (CommandResult e = requireOpen(); !e.empty()) return e;
    // The cells come first: the pane may set up its table (its header) as
    // they are asked for, as it would while the table scrolls into view.
    std::vector<std::string> rows;
    for (const auto& [specifier, cell] : cells()) {
      rows.push_back("row " + rowName(specifier) + ": " + preferences::cellValueText(cell));
    }
    id navigationItem = msg<id>(controller_, "navigationItem"_sel);
    print(titleLine(navigationItem));
    print(switchLine(masterSwitch()));
    print(headerLine(msg<id>(msg<id>(controller_, "table"_sel), "tableHeaderView"_sel)));
    for (const std::string& row : rows) print(row);
    return "";
  }

  // Sets the master switch; *changed says whether it moved (a switch
  // already in that state sends nothing: no write, no restart). A move
  // whose value did not reach the preferences is an error.
  CommandResult flipSwitch(const std::string& text, bool* changed) {
    *changed = false;
    if (CommandResult e = requireOpen(); !e.empty()) return e;
    std::optional<bool> on = parseSwitch(text);
    if (!on) return "usage: switch on|off";
    UISwitch* master = masterSwitch();
    if (master == nullptr) return label_ + " has no switch in its navigation bar";
    CommandResult result = saved("enabled", [&] { *changed = uikit::userToggle(master, *on); });
    if (!*changed) print(std::string("switch already ") + (*on ? "on" : "off"));
    if (!result.empty()) {
      // The switch shows what the pane's domain holds, not what was asked for.
      id value = msg<id>(msg<id>(foundation::userDefaultsClass(), "standardUserDefaults"_sel),
                         "objectForKey:inDomain:"_sel, static_cast<id>("enabled"_ns),
                         static_cast<id>(foundation::makeString(paneDomain())));
      msg<void>(master, "setOn:animated:"_sel,
                static_cast<BOOL>(respondsTo(value, "boolValue"_sel) &&
                                  msg<BOOL>(value, "boolValue"_sel)),
                NO);
    }
    return result;
  }

  CommandResult set(const std::string& rest) {
    if (CommandResult e = requireOpen(); !e.empty()) return e;
    auto [key, value] = splitFirst(rest);
    if (key.empty() || value.empty()) return "usage: set <key> <value>";
    for (const auto& [specifier, cell] : cells()) {
      if (preferences::stringProperty(specifier, "key") != key) continue;
      if (msg<BOOL>(cell, "isKindOfClass:"_sel,
                    static_cast<id>(preferences::switchTableCellClass()))) {
        std::optional<bool> on = parseSwitch(value);
        if (!on)
          return "bad value \"" + value + "\" for " + key + ": use on or off (true/false, yes/no)";
        UISwitch* control = static_cast<PSSwitchTableCell*>(cell.get())->control.get();
        bool changed = true;
        CommandResult result =
            saved(key, [control, on, &changed] { changed = uikit::userToggle(control, *on); });
        if (!changed) print(key + " already " + (*on ? "on" : "off"));
        return result;
      }
      if (msg<BOOL>(cell, "isKindOfClass:"_sel,
                    static_cast<id>(preferences::editableTableCellClass()))) {
        id numeric = msg<id>(specifier, "propertyForKey:"_sel, static_cast<id>("isNumeric"_ns));
        if (msg<BOOL>(numeric, "boolValue"_sel)) {
          if (!isWholeNumber(value)) {
            return "bad value \"" + value + "\" for " + key + ": a whole number is needed";
          }
          // A numeric row's keypad has no minus sign: its count is never
          // below 0 ("-0" included).
          if (value[0] == '-') {
            return "bad value \"" + value + "\" for " + key + ": a number of 0 or more is needed";
          }
        }
        auto* field = static_cast<PSEditableTableCell*>(cell.get());
        const std::string& text = value;
        return saved(key, [field, &text] { preferences::userEnterText(field, text); });
      }
      return "the row " + key + " cannot be changed";
    }
    return "no row with key \"" + key + "\" in " + label_;
  }

 private:
  CommandResult requireOpen() const {
    return controller_ ? "" : "nothing is open (use open Velmo first)";
  }

  // Every row's specifier and the cell the pane gives for it.
  std::vector<std::pair<PSSpecifier*, Strong<objc_object>>> cells() {
    std::vector<std::pair<PSSpecifier*, Strong<objc_object>>> out;
    id table = msg<id>(controller_, "table"_sel);
    long sections = msg<long>(controller_, "numberOfSectionsInTableView:"_sel, table);
    for (long section = 0; section < sections; ++section) {
      long rows = msg<long>(controller_, "tableView:numberOfRowsInSection:"_sel, table, section);
      for (long row = 0; row < rows; ++row) {
        id path = msg<id>(uikit::indexPathClass(), "indexPathForRow:inSection:"_sel, row, section);
        id cell = msg<id>(controller_, "tableView:cellForRowAtIndexPath:"_sel, table, path);
        if (cell == nullptr || !msg<BOOL>(cell, "isKindOfClass:"_sel,
                                          static_cast<id>(preferences::tableCellClass()))) {
          continue;
        }
        out.emplace_back(static_cast<PSTableCell*>(cell)->specifier.get(), cell);
      }
    }
    return out;
  }

  // The preferences domain the pane's rows write.
  std::string paneDomain() {
    for (const auto& [specifier, cell] : cells()) {
      std::string domain = preferences::stringProperty(specifier, "defaults");
      if (!domain.empty()) return domain;
    }
    return "";
  }

  static std::string rowName(PSSpecifier* specifier) {
    std::string key = preferences::stringProperty(specifier, "key");
    return key.empty() ? "\"" + preferences::stringProperty(specifier, "label") + "\"" : key;
  }

  UISwitch* masterSwitch() {
    id item = msg<id>(msg<id>(controller_, "navigationItem"_sel), "rightBarButtonItem"_sel);
    id view = msg<id>(item, "customView"_sel);
    if (view == nullptr ||
        !msg<BOOL>(view, "isKindOfClass:"_sel, static_cast<id>(uikit::switchClass()))) {
      return nullptr;
    }
    return static_cast<UISwitch*>(view);
  }

  static UILabel* firstLabel(id view) {
    if (view == nullptr) return nullptr;
    for (const auto& child : static_cast<UIView*>(view)->subviews) {
      if (msg<BOOL>(child, "isKindOfClass:"_sel, static_cast<id>(uikit::labelClass()))) {
        return static_cast<UILabel*>(child.get());
      }
    }
    return nullptr;
  }

  // title Velmo (bold 18, labelColor, centred)
  static std::string titleLine(id navigationItem) {
    UILabel* label = firstLabel(msg<id>(navigationItem, "titleView"_sel));
    if (label == nullptr) {
      std::string title = foundation::stdString(msg<id>(navigationItem, "title"_sel));
      return title.empty() ? "title none" : "title " + title;
    }
    static const char* const kAlignments[] = {"left", "centred", "right", "justified", "natural"};
    long alignment = msg<long>(label, "textAlignment"_sel);
    const char* aligned = alignment >= 0 && alignment <= 4 ? kAlignments[alignment] : "?";
    return "title " + uikit::labelText(label) + " (" + uikit::describe(msg<id>(label, "font"_sel)) +
           ", " + uikit::describeColor(msg<id>(label, "textColor"_sel)) + ", " + aligned + ")";
  }

  // switch off (tint rgba(...), onTint rgba(...))
  static std::string switchLine(UISwitch* master) {
    if (master == nullptr) return "switch none";
    std::string line = std::string("switch ") + (msg<BOOL>(master, "isOn"_sel) ? "on" : "off");
    std::vector<std::string> tints;
    if (master->tintColor) tints.push_back("tint " + uikit::describeColor(master->tintColor));
    if (master->onTintColor) tints.push_back("onTint " + uikit::describeColor(master->onTintColor));
    for (size_t i = 0; i < tints.size(); ++i) line += (i == 0 ? " (" : ", ") + tints[i];
    return tints.empty() ? line : line + ")";
  }

  // header 200x150: image velmo.png 125x125 at (37.5, 12.5) aspectFit, shadow labelColor ...
  static std::string headerLine(id header) {
    if (header == nullptr) return "header none";
    msg<void>(header, "layoutIfNeeded"_sel);
    auto* view = static_cast<UIView*>(header);
    std::string line = "header " + uikit::describeSize({view->frame.width, view->frame.height});
    for (const auto& child : view->subviews) {
      if (!msg<BOOL>(child, "isKindOfClass:"_sel, static_cast<id>(uikit::imageViewClass())))
        continue;
      auto* imageView = static_cast<UIImageView*>(child.get());
      const CGRect& f = imageView->frame;
      std::string image = imageView->image ? "image " + imageView->image->fileName : "no image";
      line += ": " + image + " " + uikit::describeSize({f.width, f.height}) + " at (" +
              uikit::formatNumber(f.x) + ", " + uikit::formatNumber(f.y) + ")";
      if (imageView->contentMode == UIViewContentModeScaleAspectFit) line += " aspectFit";
      std::string layer = uikit::describeLayer(msg<id>(imageView, "layer"_sel));
      if (layer.rfind("layer ", 0) == 0) line += ", " + layer.substr(6);
      break;
    }
    return line;
  }

  Strong<objc_object> controller_;
  std::string label_;
  Strong<UINavigationController> navigation_;  // made with the window
  Strong<UIWindow> window_;
};

// After the master switch: what became of the Photos app that ran before it.
// The pane starts killall from a task on the main queue, so the queue runs
// first. A killall the device refused to start (not the one init installed)
// is an error.
CommandResult reportPhotosRestart(std::optional<pid_t> photos) {
  dispatch::RunLoop::main().settle();
  if (std::string why = libsystem::takeSpawnRefusal(); !why.empty())
    return why + "; Photos was not restarted";
  if (!photos) {
    print("Photos was not running");
  } else if (waitForProcessEnd(*photos, 3000)) {
    print("Photos (pid " + std::to_string(*photos) + ") was ended by killall");
  } else {
    print("Photos (pid " + std::to_string(*photos) + ") is still running");
  }
  return "";
}

}  // namespace

void addSettingsCommands(Console& console) {
  auto app = std::make_shared<SettingsApp>();
  console.add("open", {"open <pane>", "open a pane by its label (open Velmo)",
                       [app](const std::string& rest) { return app->open(rest); },
                       [] { return std::vector<std::string>{"Velmo"}; }});
  console.add("show", {"show", "the pane: title, master switch, header, then each row",
                       [app](const std::string&) { return app->show(); }});
  auto flipMaster = [app](const std::string& rest) {
    std::optional<pid_t> photos = runningPhotos();
    libsystem::takeSpawnRefusal();  // only this flip's refusal is reported
    bool changed = false;
    CommandResult result = app->flipSwitch(rest, &changed);
    // Moved and saved: the pane has restarted Photos. A switch whose value
    // was not saved restarts nothing.
    if (changed && result.empty()) return reportPhotosRestart(photos);
    return result;
  };
  console.add("switch", {"switch on|off", "flip the master switch (the pane restarts Photos)",
                         flipMaster, [] {
                           return std::vector<std::string>{"on", "off"};
                         }});
  auto set = [app](const std::string& rest) { return app->set(rest); };
  console.add("set", {"set <key> <value>", "change a row (switches: on/off, text fields: the text)",
                      set, [app] { return app->rowKeys(); }});
  // A touch on a switch flips it as `switch` and `set` do; on a pane's row,
  // opens it; on the back button, returns to the list of panes. The screen
  // lives as long as the commands that use it.
  auto screen = std::make_shared<Screen>(
      [app] { return app->window(); },
      [app, flipMaster, set](UIView* view) -> CommandResult {
        for (UIView* v = view; v != nullptr; v = v->superview) {
          if (v->accessibilityIdentifier == "BackButton") return app->back();
        }
        if (auto* control = static_cast<UISwitch*>(enclosing(view, uikit::switchClass()))) {
          std::string flipped = control->on ? "off" : "on";
          if (control == app->masterSwitchIfOpen()) return flipMaster(flipped);
          std::string key = app->switchRowKey(control);
          if (!key.empty()) return set(key + " " + flipped);
          return CommandResult();
        }
        auto* cell = static_cast<UITableViewCell*>(enclosing(view, uikit::tableViewCellClass()));
        if (cell != nullptr && cell->reuseIdentifier &&
            foundation::stdString(cell->reuseIdentifier) == "Entry") {
          return app->open(uikit::labelText(cell->textLabel));
        }
        return CommandResult();
      });
  Screen::addCommands(screen, &console);
}

int settingsMain(const Options& options) {
  dispatch::markMainThread();
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  Console console("settings");
  addSettingsCommands(console);
  console.addQuit("leave Settings");
  if (isatty(STDIN_FILENO))
    std::fprintf(stderr, "Settings (pid %d). Type help for commands.\n", getpid());
  if (std::string e = registerProcess(device::root(), "Preferences"); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  int code = console.run();
  unregisterProcess(device::root());
  return code;
}

}  // namespace program
