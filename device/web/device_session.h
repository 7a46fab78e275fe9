// The phone behind the web page. A DeviceSession runs the device's programs
// (the Photos app, the Settings app and the privacy daemon) as child
// processes of velmo-device, exactly as a person would run them in
// terminals, and drives them only through their command language. What they
// answer, and what they print on their own (a notification, a prompt, a
// program that ended), becomes the state the page shows: the two screens as
// the programs drew them, the owner's prompt, a log and the device's facts.
//
// A program that gives no answer to a command within the answer timeout is
// marked "not answering": the rest of that action (the screens' redraw) skips
// it, later actions that need it are refused at once (409), and the page
// offers to end it and start it again (startProgram). The command stays owed:
// the lines the program prints later are read as the late answers of the
// commands it owes, up to each one's closing line, and are never taken for
// the answer of a newer command. Once it has answered everything it owes it
// counts as answering again and its screen is redrawn.
//
// Ownership: the session owns its child processes; stop() (or the
// destructor) closes their input and waits for them, killing any that does
// not end, so that no process outlives the session.
//
// Thread safety: every public method may be called from any thread. Actions
// on one program run one at a time, in the order they arrive; an action on
// one program never waits on another (a stuck Photos does not hold up
// Settings). A monitor thread reads what the programs print between actions
// and notices a program that ended. Reading the state (stateJson, screenPng,
// waitForChange) does not wait for an action that waits on a slow program.
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
  struct Options {
    // How long a program may take to answer a command before it is marked
    // not answering (starting a program may take longer: 15 s at least).
    std::chrono::milliseconds answer_timeout{8000};
  };
  // `program` is the velmo-device executable, `root` a device made by init,
  // `scratch` a private folder for the screenshots.
  DeviceSession(std::string program, std::string root, std::string scratch, Options options);
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Starts the privacy daemon, Photos and Settings, then the monitor.
  void start();
  // Ends every program and the monitor. Later actions answer 409.
  void stop();
  // The first half of stop(), which returns at once: actions waiting on a
  // program give up now, and later ones answer 409.
  void beginStop();

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
  // Starts a program that is not running (after it died), or ends one that
  // is not answering and starts it again.
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
  // A command whose answer did not come in time and is still owed.
  struct Owed {
    std::string name;                  // the command's first word
    std::function<void()> on_late_ok;  // what its "ok" means for the state
  };
  struct Child {
    const char* command;  // "photos"
    const char* label;    // "Photos"
    std::unique_ptr<program::DeviceProcess> process;
    std::string ended;         // how it ended, "" while it runs or before it started
    std::deque<Owed> owed;     // not answering while not empty
    std::string silent_since;  // the clock time it was marked not answering
    int late_answers = 0;      // owed commands answered since
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

  // All of these run with mu_ held and the lock of the program they talk to
  // (program_mu_); the ones that wait on a program let go of mu_ meanwhile.
  Child& child(Program program) { return children_[static_cast<int>(program)]; }
  std::mutex& lockOf(Program program) { return program_mu_[static_cast<int>(program)]; }
  bool running(Program program) const;
  bool answering(Program program) const;
  Outcome needs(Program program) const;
  // One command and its answer, up to its closing line; {} when the program
  // is not running (or ended meanwhile) or the session stops, and the
  // answer's lines so far then "timeout" when none came in time: the program
  // is then marked not answering, and `on_late_ok` runs if the command's
  // "ok" comes later.
  std::vector<std::string> send(Program program, const std::string& command,
                                const std::function<void()>& on_late_ok = nullptr);
  // The first command to a program just started, which may take longer; a
  // program that does not answer it is not marked, it is ended.
  std::vector<std::string> sendAtStart(Program program, const std::string& command);
  std::vector<std::string> exchange(Program program, const std::string& command,
                                    std::chrono::milliseconds timeout, bool mark_silent,
                                    const std::function<void()>& on_late_ok);
  // A line the program printed outside an answer: a late answer's line
  // while it owes commands, else something it said on its own.
  void takeLine(Program program, const std::string& line);
  Outcome outcomeOf(Program program, const std::vector<std::string>& answer);
  void handleLine(Program program, const std::string& line, bool on_its_own);
  void checkEnded(Program program, int timeout_ms);
  // Ends a program now (SIGKILL), then forgets it.
  void discard(Program program);
  // Asks a program to quit; one that does not, or that is not answering,
  // is killed.
  void endProgram(Program program);
  // Starting Photos restarts the privacy daemon: the caller holds both locks.
  Outcome launch(Program program);
  // Redraws the screen of `held` (its lock held), then those of the other
  // screen's program if its lock is free (else its own action redraws it).
  void refresh(Program held);
  void refreshProgram(Program program);
  void refreshScreen(Screen screen);
  void log(const std::string& kind, const std::string& text);
  void changed();
  void monitor();

  const std::string program_;
  const std::string root_;
  const std::string scratch_;

  const std::chrono::milliseconds answer_timeout_;

  // program_mu_ makes each program one caller's at a time: it is held by an
  // action on that program (or the monitor) for its whole length. Locks are
  // taken in the order Photos, Settings, privacy daemon, then mu_; one taken
  // out of that order is only tried (try_lock), never waited for. mu_
  // guards the state below; a child's process is replaced only with both
  // its lock and mu_ held, so either one makes it safe to read.
  std::mutex program_mu_[3];
  mutable std::mutex mu_;
  mutable std::condition_variable changed_cv_;
  uint64_t version_ = 1;
  bool stopped_ = false;
  Child children_[3] = {{"photos", "Photos", nullptr, "", {}, "", 0},
                        {"settings", "Settings", nullptr, "", {}, "", 0},
                        {"tccd", "The privacy daemon", nullptr, "", {}, "", 0}};
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

  // Readable once the session stops (never drained): it wakes every wait.
  int wake_[2] = {-1, -1};
  std::thread monitor_;
};

}  // namespace web
