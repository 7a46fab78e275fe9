// The phone behind the web page. A DeviceSession runs the device's programs
// (the Photos app, the Settings app and the privacy daemon) as child
// processes of velmo-device, exactly as a person would run them in
// terminals, and drives them only through their command language. What they
// answer, and what they print on their own (a notification, a prompt, a
// program that ended), becomes the state the page shows: the two screens as
// the programs drew them, the owner's prompt, a log and the device's facts.
//
// Ownership: the session owns its child processes; stop() (or the
// destructor) closes their input and waits for them, killing any that does
// not end, so that no process outlives the session.
//
// Thread safety: every public method may be called from any thread. Actions
// run one at a time, in the order they arrive. A monitor thread reads what the
// programs print between actions and notices a program that ended. Reading
// the state (stateJson, screenPng, waitForChange) does not wait for an action
// that waits on a slow program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/child_process.h"

namespace web {

// The programs a session runs.
enum class Program { kPhotos, kSettings, kTccd };
// The two screens on the page.
enum class Screen { kPhotos, kSettings };

// How an action went. `status` is the HTTP status the page gets: 200, 400
// for a request the device cannot take (a point off the screen), 409 when the
// program it needs is not running, 500 when a program could not be started.
// `ok` is false when the program refused; its reason is `message`.
struct Outcome {
  int status = 200;
  bool ok = true;
  std::string message;
};

struct ScreenSize {
  double width = 0;  // points
  double height = 0;
};

class DeviceSession {
 public:
  // `program` is the velmo-device executable, `root` a device made by init,
  // `scratch` a private folder for the screenshots.
  DeviceSession(std::string program, std::string root, std::string scratch);
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Starts the privacy daemon, Photos and Settings, then the monitor.
  void start();
  // Ends every program and the monitor. Later actions answer 409.
  void stop();

  // A touch at a point of a screen, in points.
  Outcome touch(Screen screen, double x, double y);
  // The Home button: Photos goes to the background.
  Outcome home();
  // Photos back to the foreground, or started afresh when it is not running.
  Outcome openPhotos();
  // Settings opens the Velmo pane.
  Outcome openVelmoPane();
  // The pane's count row (hiddenItemCount) takes a number.
  Outcome setCount(long long value);
  // The owner's answers to the prompt on screen.
  Outcome answerPasscode(const std::string& digits);  // digits only
  Outcome answerFace();
  Outcome answerCancel();
  // Starts a program that is not running (after it died).
  Outcome startProgram(Program program);
  // A screen's view tree as the program prints it (`views`), into `text`.
  Outcome views(Screen screen, std::string* text);

  // The last screenshot of a screen as PNG bytes ("" when none).
  std::string screenPng(Screen screen) const;
  // Everything the page shows, as a JSON object.
  std::string stateJson() const;
  // The state's version, bumped on every change.
  uint64_t version() const;
  // Waits until the version differs from `seen` or `timeout` passes, or the
  // session stops; returns the version then.
  uint64_t waitForChange(uint64_t seen, std::chrono::milliseconds timeout) const;
  // The process ids of the programs running now.
  std::vector<pid_t> pids() const;

 private:
  struct Child {
    const char* command;  // "photos"
    const char* label;    // "Photos"
    std::unique_ptr<program::DeviceProcess> process;
    std::string ended;  // how it ended, "" while it runs or before it started
  };
  struct ScreenState {
    std::string png;
    uint64_t version = 0;
    std::optional<ScreenSize> size;
  };
  struct Prompt {
    std::string text;
    bool face = false;
  };
  struct LogEntry {
    uint64_t id;
    std::string time;
    std::string kind;  // notification, prompt, answer, restart, program, action, error
    std::string text;
  };

  // Sends one of the owner's answers; `what` names it in the log if refused.
  Outcome answer(const std::string& command, const std::string& what);
  // An action that is one command to one program: when the program takes it,
  // `on_ok` updates the state and `done` is logged; the screens are redrawn.
  Outcome act(Program program, const std::string& command, const std::string& done,
              const std::function<void()>& on_ok = nullptr);

  // All of these run with commands_mu_ and mu_ held; the ones that wait on
  // a program let go of mu_ while they wait.
  Child& child(Program program) { return children_[static_cast<int>(program)]; }
  bool running(Program program) const;
  Outcome needs(Program program) const;
  std::vector<std::string> send(Program program, const std::string& command);
  Outcome outcomeOf(Program program, const std::vector<std::string>& answer);
  void handleLine(Program program, const std::string& line, bool on_its_own);
  void checkEnded(Program program, int timeout_ms);
  // Ends a program that did not end when asked to.
  void discard(Program program);
  Outcome launch(Program program);
  void refresh();
  void refreshScreen(Screen screen);
  void log(const std::string& kind, const std::string& text);
  void changed();
  void monitor();

  const std::string program_;
  const std::string root_;
  const std::string scratch_;

  // commands_mu_ makes the programs one caller's at a time: it is held by an
  // action (and the monitor) for its whole length. mu_ guards the state
  // below and is taken after commands_mu_; a child's process is replaced
  // only with both held, so either one makes it safe to read.
  std::mutex commands_mu_;
  mutable std::mutex mu_;
  mutable std::condition_variable changed_cv_;
  uint64_t version_ = 1;
  bool stopped_ = false;
  Child children_[3] = {{"photos", "Photos", nullptr, ""},
                        {"settings", "Settings", nullptr, ""},
                        {"tccd", "The privacy daemon", nullptr, ""}};
  ScreenState screens_[2];
  std::optional<Prompt> prompt_;
  std::optional<int> attempts_left_;
  std::string owner_outcome_;
  std::string where_;
  bool background_ = false;
  bool pane_open_ = false;
  std::vector<std::string> hooks_;
  std::optional<std::string> face_id_list_;  // tccd's Face ID service
  std::optional<Program> last_action_;
  std::deque<LogEntry> log_;
  uint64_t next_log_id_ = 1;

  int wake_[2] = {-1, -1};
  std::thread monitor_;
};

}  // namespace web
