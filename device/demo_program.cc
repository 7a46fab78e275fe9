// velmo-device demo: a walk through the system on a fresh device. It runs the
// other subcommands of this same program as child processes, types commands
// at them as a person would, shows each command and its answer, and says in
// words what happens. Every answer is checked; an unexpected one ends the demo
// with exit code 1 and says what went wrong.
//
// The output is the same on every run except for the device root, so that the
// README can quote it: process ids are shown as <pid>.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/child_process.h"
#include "device/console.h"
#include "device/install_paths.h"
#include "device/programs.h"

namespace program {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kNotified = "notified com.qel.velmopreferences/changed";
constexpr const char* kPasscodePrompt =
    "prompt \"Use your passcode to view and manage hidden album.\" passcode";
constexpr const char* kFacePrompt =
    "prompt \"Use your passcode to view and manage hidden album.\" face+passcode";
constexpr const char* kLock = "[lock.fill systemGrayColor]";

// Something did not answer as the demo expected.
struct Unexpected : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string joined(const Lines& lines) {
  if (lines.empty()) return "nothing";
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "\"" : " | \"") + line + "\"";
  return text;
}

Lines albumList(const std::string& hidden, const std::string& recently_deleted) {
  return {"album Recents: 1204",     "album Favorites: 37",
          "album Holidays: 212",     "album Family: 88",
          "album Hidden: " + hidden, "album Recently Deleted: " + recently_deleted};
}

// A device program running as a child process, named for the transcript.
struct Running {
  std::string label;  // "photos", "settings"
  std::unique_ptr<DeviceProcess> process;
};

class Demo {
 public:
  Demo(std::string self, std::string root, std::string shown_root)
      : self_(std::move(self)), root_(std::move(root)), shown_root_(std::move(shown_root)) {}

  void run();

 private:
  // Narration: a heading, then paragraphs.
  void heading(const std::string& title) {
    print("");
    print("== " + title);
  }
  void say(const std::string& text) { print(text); }

  // A program run to its end, e.g. `velmo-device init --root R`; `after`
  // follows the root on the command line.
  Lines runToEnd(const Lines& args, const std::string& root, const Lines& after = {});
  // Starts a long-running program on a device.
  Running start(const std::string& label, const std::string& program, const std::string& root);
  // Sends one command, shows it and its answer, and checks the answer's lines
  // (the closing "ok" left out) against `expected`.
  void send(Running& to, const std::string& command, const Lines& expected);
  // Waits for a line the program prints on its own, and shows it.
  void event(Running& from, const std::string& line);
  // Waits for a program to end and checks how it ended.
  void ended(Running& p, int expected_status, const std::string& how);
  void quit(Running& p);

  std::string shown(std::string line) const;
  // The built package's path, relative to the current folder when inside it
  // ("build/packages/com.qel.velmo_1.0.0_amd64.deb" for make demo).
  std::string packageShown() const;

  std::string self_;
  std::string root_;        // absolute
  std::string shown_root_;  // as the user gave it
};

std::string Demo::shown(std::string line) const {
  for (size_t at = 0; (at = line.find(root_, at)) != std::string::npos; at += shown_root_.size()) {
    line.replace(at, root_.size(), shown_root_);
  }
  // "pid 1234" -> "pid <pid>"
  const std::string pid = "pid ";
  for (size_t at = 0; (at = line.find(pid, at)) != std::string::npos;) {
    size_t digits = at + pid.size();
    size_t end = line.find_first_not_of("0123456789", digits);
    if (end == std::string::npos) end = line.size();
    if (end > digits) line.replace(digits, end - digits, "<pid>");
    at = digits;
  }
  return line;
}

std::string Demo::packageShown() const {
  std::error_code ec;
  std::string relative = fs::relative(builtPackage(), fs::current_path(ec), ec).string();
  return ec || relative.empty() || relative.rfind("..", 0) == 0 ? builtPackage() : relative;
}

Lines Demo::runToEnd(const Lines& args, const std::string& root, const Lines& after) {
  std::string command = "velmo-device";
  Lines argv = {self_};
  for (const std::string& a : args) {
    argv.push_back(a);
    command += " " + a;
  }
  argv.push_back("--root");
  argv.push_back(root);
  command += " --root " + root;
  for (const std::string& a : after) {
    argv.push_back(a);
    command += " " + a;
  }
  print("  $ " + shown(command));
  std::string output;
  int status = runProgram(argv, &output);
  Lines lines;
  for (size_t begin = 0, end; (end = output.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    lines.push_back(output.substr(begin, end - begin));
    print("    " + shown(lines.back()));
  }
  if (status != 0) {
    throw Unexpected(command + " ended with status " + std::to_string(status));
  }
  return lines;
}

Running Demo::start(const std::string& label, const std::string& program, const std::string& root) {
  print("  $ " + shown("velmo-device " + program + " --root " + root) + "    (keeps running)");
  Running p{label, std::make_unique<DeviceProcess>(Lines{self_, program, "--root", root})};
  // Its start is done (libraries loaded, observers registered) once it
  // answers; the answer itself is not shown.
  Lines help = p.process->command("help");
  if (help.empty() || help.back() != "ok") {
    throw Unexpected(label + " did not start: it answered " + joined(help));
  }
  return p;
}

void Demo::send(Running& to, const std::string& command, const Lines& expected) {
  print("  " + to.label + "> " + command);
  Lines answer = to.process->command(command);
  bool closed = !answer.empty() && answer.back() == "ok";
  if (closed) answer.pop_back();
  for (const std::string& line : answer) print("      " + shown(line));
  Lines got;
  for (const std::string& line : answer) got.push_back(shown(line));
  if (!closed || got != expected) {
    throw Unexpected(to.label + " answered \"" + command + "\" with " + joined(got) +
                     (closed ? "" : " and no ok") + "; expected " + joined(expected));
  }
}

void Demo::event(Running& from, const std::string& line) {
  std::string got = from.process->waitForLine(line, 5000);
  if (got.empty()) throw Unexpected(from.label + " never printed \"" + line + "\"");
  print("  [" + from.label + "] " + shown(got));
}

void Demo::ended(Running& p, int expected_status, const std::string& how) {
  int status = p.process->waitExit(5000);
  if (status != expected_status) {
    throw Unexpected(p.label + " did not end " + how + " (status " + std::to_string(status) + ")");
  }
}

void Demo::quit(Running& p) {
  send(p, "quit", {});
  ended(p, 0, "after quit");
}

void Demo::run() {
  say("Velmo locks the Photos app's Hidden album (and, if you like, Recently");
  say("Deleted) behind the phone's passcode or Face ID. This demo runs a");
  say("simulated phone: its Photos app, its Settings app and its privacy daemon");
  say("are separate processes, and the demo types at them as you would.");
  say("\"photos> ...\" and \"settings> ...\" are commands typed at those apps; the");
  say("lines indented under a command are the app's answer; \"[photos] ...\" is");
  say("something the Photos app printed on its own.");

  heading("A new phone");
  say("An iPhone on system 16.4.1, passcode 1234, Face ID. It has the hooking");
  say("runtime and the Settings app's loader of preference panes, but no add-ons.");
  runToEnd({"init", "--bare"}, root_);

  heading("Installing Velmo");
  say("Velmo comes as a Debian package (make package builds it). Installing it");
  say("checks every path in it, puts its files under /var/jb and records them in");
  say("the phone's package database, as a package manager does.");
  runToEnd({"install"}, root_, {packageShown()});

  heading("Photos before Velmo is on");
  say("Velmo is installed but switched off: the Hidden album opens at a tap.");
  Running photos = start("photos", "photos", root_);
  send(photos, "albums", albumList("12", "5"));
  send(photos, "tap Hidden", {});
  send(photos, "where", {"where Albums > Hidden"});
  send(photos, "back", {});

  heading("Switching Velmo on in Settings");
  say("The Settings app shows Velmo's pane. Opening it tells running apps that");
  say("the settings may have changed.");
  Running settings = start("settings", "settings", root_);
  send(settings, "open Velmo", {});
  event(photos, kNotified);
  send(settings, "show",
       {"title Velmo (bold 18, labelColor, centred)",
        "switch off (tint rgba(1.000,0.412,0.706,1.000), onTint rgba(1.000,0.412,0.706,1.000))",
        "header 200x150: image velmo.png 125x125 at (37.5, 12.5) aspectFit, shadow labelColor "
        "offset 0x0 opacity 0.3 radius 10",
        "row lockRecentlyDeleted: off", "row popToRoot: off", "row showLockIcon: off",
        "row hiddenItemCountEnabled: off", "row hiddenItemCount: 0"});
  say("Velmo reads its master switch only when Photos starts, so flipping it");
  say("makes the pane end Photos with `killall -9 MobileSlideShow`.");
  send(settings, "switch on", {"Photos (pid <pid>) was ended by killall"});
  ended(photos, -9, "by killall's SIGKILL");
  say("The Photos process ended by signal 9 (SIGKILL). One more option while");
  say("Photos is closed: return the album list to its root in the background.");
  send(settings, "set popToRoot on", {});
  say("Opened again, Photos loads Velmo, which replaces these methods:");
  photos = start("photos", "photos", root_);
  send(photos, "hooks",
       {"hook NSBundle infoDictionary", "hook PXNavigationListGadget _navigateTolistItem:animated:",
        "hook PUAlbumsGadgetViewController _applicationDidEnterBackground:",
        "hook PXNavigationListGadget _configureCell:forListItem:textColor:"});

  heading("The Hidden album asks first");
  say("The album list still shows each album's item count in its badge.");
  send(photos, "albums", albumList("12", "5"));
  say("A tap on Hidden raises the system's prompt and opens nothing yet.");
  send(photos, "tap Hidden", {kPasscodePrompt});
  send(photos, "where", {"where Albums"});
  send(photos, "answer passcode 1111", {"wrong passcode, 4 attempts left"});
  send(photos, "where", {"where Albums"});
  send(photos, "answer passcode 1234", {"passcode accepted"});
  send(photos, "where", {"where Albums > Hidden"});

  heading("Leaving the app closes the album");
  say("With popToRoot on, going to the background returns the list to its root;");
  say("the next visit asks again.");
  send(photos, "background", {});
  send(photos, "where", {"where Albums"});
  send(photos, "foreground", {});

  heading("An option reaches the running app at once");
  say("Turning on the lock icon in Settings posts a notification; Photos");
  say("rereads the settings and draws the Hidden album's badge as a grey lock.");
  send(settings, "set showLockIcon on", {});
  event(photos, kNotified);
  send(photos, "albums", albumList(kLock, "5"));

  heading("Recently Deleted, locked by its option");
  send(photos, "tap Recently Deleted", {});
  send(photos, "where", {"where Albums > Recently Deleted"});
  send(photos, "back", {});
  send(settings, "set lockRecentlyDeleted on", {});
  event(photos, kNotified);
  send(photos, "albums", albumList(kLock, kLock));
  send(photos, "tap Recently Deleted", {kPasscodePrompt});
  send(photos, "answer passcode 1234", {"passcode accepted"});
  send(photos, "where", {"where Albums > Recently Deleted"});
  send(photos, "back", {});

  heading("Face ID");
  say("So far the prompt offered only the passcode: the privacy daemon does not");
  say("let Photos use Face ID. Velmo, loaded into the daemon, adds the Photos app");
  say("to the Face ID service's list when the daemon starts; the other services'");
  say("lists are left as they are.");
  Lines services = runToEnd({"tccd"}, root_);
  const std::string face_id_list =
      "service kTCCServiceFaceID: com.apple.mobilesafari,com.apple.Passbook,"
      "com.apple.mobileslideshow,com.apple.PhotosUICore";
  if (services.empty() || services[0] != face_id_list) {
    throw Unexpected("tccd's Face ID list is " + joined(services) + "; expected " + face_id_list);
  }
  say("In Photos, Velmo gives every bundle the usage text that Face ID needs.");
  send(photos, "bundles",
       {"bundle com.apple.mobileslideshow: \"Use your passcode to view and manage hidden album.\"",
        "bundle com.apple.PhotosUICore: \"Use your passcode to view and manage hidden album.\"",
        "bundle com.apple.Photos: \"Use your passcode to view and manage hidden album.\"",
        "bundle /System/Library/PrivateFrameworks/PhotoLibraryServices.framework: \"Use your "
        "passcode to view and manage hidden album.\""});
  send(photos, "tap Hidden", {kFacePrompt});
  send(photos, "answer face", {"Face ID matched"});
  send(photos, "where", {"where Albums > Hidden"});
  quit(photos);
  quit(settings);

  heading("On an iPad");
  say("A second device, an iPad, where albums open from a sidebar. Velmo is");
  say("switched on there the same way; the sidebar finishes its navigation");
  say("(\"completed Hidden\") only after a successful answer.");
  const std::string ipad = root_ + "/ipad";
  runToEnd({"init", "--model", "iPad"}, ipad);
  Running pad = start("photos", "photos", ipad);
  Running pad_settings = start("settings", "settings", ipad);
  send(pad_settings, "open Velmo", {});
  event(pad, kNotified);
  send(pad_settings, "switch on", {"Photos (pid <pid>) was ended by killall"});
  ended(pad, -9, "by killall's SIGKILL");
  pad = start("photos", "photos", ipad);
  send(pad, "tap Hidden", {kPasscodePrompt});
  send(pad, "answer cancel", {"cancelled"});
  send(pad, "where", {"where Albums"});
  send(pad, "tap Hidden", {kPasscodePrompt});
  send(pad, "answer passcode 1234", {"passcode accepted", "completed Hidden"});
  send(pad, "where", {"where Albums > Hidden"});
  quit(pad_settings);

  heading("Removing Velmo");
  say("Removing the package deletes exactly the files it installed and ends");
  say("Photos, which then starts without Velmo. The settings file stays, as a");
  say("package manager leaves a user's preferences.");
  runToEnd({"remove"}, ipad, {"com.qel.velmo"});
  ended(pad, -9, "by the package's postrm");
  pad = start("photos", "photos", ipad);
  send(pad, "hooks", {});
  send(pad, "tap Hidden", {"completed Hidden"});
  send(pad, "where", {"where Albums > Hidden"});
  quit(pad);
}

}  // namespace

int demoMain(const Options& options) {
  std::error_code ec;
  std::string self = fs::read_symlink("/proc/self/exe", ec).string();
  if (ec) {
    print("demo: cannot find this program: " + ec.message());
    return 1;
  }
  bool temporary = !options.has("--root");
  std::string given = options.get("--root");
  if (!temporary) {
    if (given.empty()) {
      print("demo: --root needs a folder");
      return 2;
    }
    if (fs::exists(given, ec) && !fs::is_empty(given, ec)) {
      print("demo: " + given + " is not empty; the demo needs a fresh device (remove it first)");
      return 1;
    }
  }
  std::string root;
  try {
    root = temporary ? makeTempDirectory("velmo-demo") : fs::absolute(given).string();
  } catch (const std::exception& e) {
    print(std::string("demo: ") + e.what());
    return 1;
  }
  Demo demo(self, root, temporary ? root : given);
  int code = 0;
  try {
    demo.run();
  } catch (const Unexpected& e) {
    print("");
    print("demo: something went wrong: " + std::string(e.what()));
    code = 1;
  }
  if (code == 0) {
    print("");
    print("== Try it yourself");
    std::string device = temporary ? "/tmp/my-phone" : given;
    if (temporary) {
      print("Make a phone (add --model iPad, --system-version 14.8, --no-passcode or");
      print("--biometry none for other kinds):");
      print("  build/bin/velmo-device init --root " + device);
      print("then run its apps in two terminals:");
    } else {
      print("The demo's iPhone stays in " + device + "; its iPad, Velmo removed, in " + device +
            "/ipad.");
      print("Run the iPhone's apps in two terminals:");
    }
    print("  build/bin/velmo-device photos --root " + device);
    print("  build/bin/velmo-device settings --root " + device);
    print("Type help in either. In Settings: open Velmo, show, switch on|off,");
    print("set showLockIcon on. In Photos: albums, tap Hidden, prompt,");
    print("answer passcode 1234, where, background, foreground. The privacy");
    print("daemon prints its lists and keeps serving until you press Ctrl-D:");
    print("  build/bin/velmo-device tccd --root " + device);
  }
  if (temporary) removeTree(root);
  return code;
}

}  // namespace program
