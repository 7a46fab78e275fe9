#include "device/web/device_session.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "platform/foundation/device.h"

namespace web {
namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
using nlohmann::json;

constexpr size_t kLogLimit = 300;
// A program just started loads its libraries first, which a busy machine
// may make slow.
constexpr std::chrono::milliseconds kStartTimeout{15000};
constexpr const char* kFaceIdService = "service kTCCServiceFaceID: ";
constexpr const char* kPhotosIdentifier = "com.apple.mobileslideshow";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool isError(const std::string& line) { return startsWith(line, "error:"); }

std::string withoutErrorPrefix(const std::string& line) {
  std::string rest = line.substr(std::string("error:").size());
  return rest.empty() || rest[0] != ' ' ? rest : rest.substr(1);
}

// The lines of an answer before its closing "ok", "error: ..." or "timeout".
Lines bodyOf(const Lines& answer) {
  if (answer.empty()) return {};
  return Lines(answer.begin(), answer.end() - 1);
}

std::string clockTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

// "ended by signal 9 (SIGKILL)", "exited with status 0".
std::string howEnded(int status) {
  if (status >= 0) return "exited with status " + std::to_string(status);
  const char* abbreviation = sigabbrev_np(-status);
  return "ended by signal " + std::to_string(-status) +
         (abbreviation ? std::string(" (SIG") + abbreviation + ")" : "");
}

// `prompt "<text>" face+passcode` -> the text and whether Face ID is offered.
bool parsePrompt(const std::string& line, std::string* text, bool* face) {
  size_t open = line.find('"');
  size_t close = line.rfind('"');
  if (open == std::string::npos || close <= open) return false;
  *text = line.substr(open + 1, close - open - 1);
  *face = line.substr(close + 1) == " face+passcode";
  return true;
}

// The first view's frame "(x, y, w, h)" in a `views` listing: the window,
// which covers the screen.
std::optional<ScreenSize> windowSize(const Lines& views) {
  for (const std::string& line : views) {
    size_t open = line.find('(');
    if (open == std::string::npos) continue;
    double x, y, w, h;
    if (std::sscanf(line.c_str() + open, "(%lf, %lf, %lf, %lf)", &x, &y, &w, &h) == 4 && w > 0 &&
        h > 0) {
      return ScreenSize{w, h};
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The shortest text that reads back as the same number: a point just inside
// the screen's edge (389.99 on a 390-point screen) must stay inside it.
std::string formatPoint(double value) {
  char text[64];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : "0";
}

// "wrong passcode, 4 attempts left" -> 4.
std::optional<int> attemptsIn(const std::string& message) {
  size_t comma = message.find(", ");
  if (comma == std::string::npos) return std::nullopt;
  int left = 0;
  char word[16] = {0};
  if (std::sscanf(message.c_str() + comma + 2, "%d %15s", &left, word) == 2 &&
      startsWith(word, "attempt")) {
    return left;
  }
  return std::nullopt;
}

// "8 s", "2.5 s".
std::string seconds(std::chrono::milliseconds duration) {
  long long ms = duration.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
  return text;
}

// Reads the next line of a program's output by `deadline`: 1 with the line,
// 0 when none came in time or `wake` turned readable (the session stops), -1
// when the output ended (the program is ending).
int readLine(program::DeviceProcess& process, int wake, Clock::time_point deadline,
             std::string* line) {
  while (true) {
    if (process.nextLine(line, 0)) return 1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fds[2] = {{process.outputFd(), POLLIN, 0}, {wake, POLLIN, 0}};
    int r = poll(fds, 2, left.count() < 0 ? 0 : static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || fds[1].revents != 0) return 0;
    if (!(fds[0].revents & POLLIN)) return process.nextLine(line, 0) ? 1 : -1;
  }
}

// Lets go of a held mutex for a scope and takes it again at the scope's end.
class Unlocked {
 public:
  explicit Unlocked(std::mutex& mu) : mu_(mu) { mu_.unlock(); }
  ~Unlocked() { mu_.lock(); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  std::mutex& mu_;
};

}  // namespace

DeviceSession::DeviceSession(std::string program, std::string root, std::string scratch,
                             Options options)
    : program_(std::move(program)),
      root_(std::move(root)),
      scratch_(std::move(scratch)),
      answer_timeout_(options.answer_timeout) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
}

DeviceSession::~DeviceSession() {
  stop();
  close(wake_[0]);
  close(wake_[1]);
}

void DeviceSession::start() {
  {
    std::scoped_lock programs(lockOf(Program::kPhotos), lockOf(Program::kSettings),
                              lockOf(Program::kTccd));
    std::lock_guard<std::mutex> g(mu_);
    log("program", "device " + root_);
    launch(Program::kPhotos);  // starts the privacy daemon first
    launch(Program::kSettings);
    refreshProgram(Program::kPhotos);
    refreshProgram(Program::kSettings);
    changed();
  }
  monitor_ = std::thread([this] { monitor(); });
}

void DeviceSession::beginStop() {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (stopped_) return;
    stopped_ = true;
    changed();
  }
  if (write(wake_[1], "x", 1) < 0) {
    // The pipe is full: it is readable already.
  }
}

void DeviceSession::stop() {
  beginStop();
  if (monitor_.joinable()) monitor_.join();
  // Actions still waiting on a program gave up when the stop began.
  std::scoped_lock programs(lockOf(Program::kPhotos), lockOf(Program::kSettings),
                            lockOf(Program::kTccd));
  std::lock_guard<std::mutex> g(mu_);
  // Photos first, so that nothing it asks of the daemon is left hanging. Each
  // program ends when its input closes; one that does not is killed, and one
  // known not to answer at once.
  for (Program p : {Program::kPhotos, Program::kSettings, Program::kTccd}) {
    Child& c = child(p);
    if (!c.process) continue;
    if (!c.owed.empty()) {
      discard(p);
      continue;
    }
    kill(c.process->pid(), SIGCONT);  // a program stopped by someone reads its end
    std::unique_ptr<program::DeviceProcess> gone = std::move(c.process);
    Unlocked u(mu_);
    gone.reset();
  }
}

bool DeviceSession::running(Program program) const {
  const Child& c = children_[static_cast<int>(program)];
  return c.process != nullptr;
}

bool DeviceSession::answering(Program program) const {
  const Child& c = children_[static_cast<int>(program)];
  return c.process != nullptr && c.owed.empty() && !stopped_;
}

Outcome DeviceSession::needs(Program program) const {
  if (stopped_) return {409, false, "the server is stopping"};
  const Child& c = children_[static_cast<int>(program)];
  if (!running(program)) return {409, false, std::string(c.label) + " is not running"};
  if (!c.owed.empty()) {
    return {409, false,
            std::string(c.label) + " is not answering (since " + c.silent_since +
                "): restart it, or wait until it answers again"};
  }
  return {};
}

std::vector<std::string> DeviceSession::send(Program program, const std::string& command,
                                             const std::function<void()>& on_late_ok) {
  return exchange(program, command, answer_timeout_, true, on_late_ok);
}

std::vector<std::string> DeviceSession::sendAtStart(Program program, const std::string& command) {
  return exchange(program, command,
                  std::max<std::chrono::milliseconds>(answer_timeout_, kStartTimeout), false,
                  nullptr);
}

std::vector<std::string> DeviceSession::exchange(Program program, const std::string& command,
                                                 std::chrono::milliseconds timeout,
                                                 bool mark_silent,
                                                 const std::function<void()>& on_late_ok) {
  Child& c = child(program);
  if (!c.process || stopped_) return {};
  if (!c.owed.empty()) return {"timeout"};  // its answers would be someone else's
  if (!c.process->send(command + "\n")) {
    checkEnded(program, 2000);
    return c.process ? Lines{"timeout"} : Lines{};
  }
  Lines answer;
  auto deadline = Clock::now() + timeout;
  int got = 0;
  while (true) {
    std::string line;
    {
      // The page's state may be read meanwhile; the program is ours alone,
      // as its lock is held.
      Unlocked u(mu_);
      got = readLine(*c.process, wake_[0], deadline, &line);
    }
    c.process->seen.clear();
    if (got != 1) break;
    answer.push_back(line);
    if (line == "ok" || isError(line)) {
      for (const std::string& said : bodyOf(answer)) handleLine(program, said, false);
      return answer;
    }
  }
  // What came of the answer is still its answer.
  for (const std::string& said : answer) handleLine(program, said, false);
  if (got < 0) {
    checkEnded(program, 2000);  // its output closed: it is ending
    if (!c.process) return {};
  }
  if (stopped_) return {};
  if (mark_silent) {
    // The answer is owed from now on: what the program prints next belongs
    // to this command until its closing line.
    std::string word = command.substr(0, command.find(' '));
    if (c.owed.empty()) {
      c.silent_since = clockTime();
      c.late_answers = 0;
      log("error", std::string(c.label) + " (pid " + std::to_string(c.process->pid()) +
                       ") is not answering: \"" + word + "\" had no answer within " +
                       seconds(timeout) + "; it gets no more commands until it answers again " +
                       "or is restarted");
    }
    c.owed.push_back({word, on_late_ok});
  }
  answer.push_back("timeout");
  return answer;
}

void DeviceSession::takeLine(Program program, const std::string& line) {
  Child& c = child(program);
  if (c.owed.empty()) {
    handleLine(program, line, true);
    return;
  }
  // A late answer: its lines say what they say about the program's state,
  // but nothing of it is an answer to anything asked since.
  if (line != "ok" && !isError(line)) {
    handleLine(program, line, false);
    return;
  }
  Owed done = std::move(c.owed.front());
  c.owed.pop_front();
  ++c.late_answers;
  if (line == "ok" && done.on_late_ok) done.on_late_ok();
  if (c.owed.empty()) {
    log("program", std::string(c.label) + " answers again; its late answers to " +
                       std::to_string(c.late_answers) + " command" +
                       (c.late_answers == 1 ? "" : "s") + " were set aside");
  }
}

Outcome DeviceSession::outcomeOf(Program program, const Lines& answer) {
  if (answer.empty()) return needs(program);
  const std::string& last = answer.back();
  if (last == "ok") return {};
  if (isError(last)) return {200, false, withoutErrorPrefix(last)};
  if (stopped_) return needs(program);
  return {504, false,
          std::string(child(program).label) + " did not answer within " + seconds(answer_timeout_) +
              " and is marked not answering: restart it, or wait until it answers again"};
}

void DeviceSession::handleLine(Program program, const std::string& line, bool on_its_own) {
  const Child& c = child(program);
  if (program == Program::kPhotos) {
    if (startsWith(line, "notified ")) {
      log("notification", "Photos received " + line.substr(9));
      return;
    }
    if (line == "prompt none") {
      if (prompt_) log("prompt", "the prompt closed");
      prompt_.reset();
      return;
    }
    if (startsWith(line, "prompt ")) {
      Prompt p;
      if (!parsePrompt(line, &p.text, &p.face)) return;
      if (!prompt_ || prompt_->text != p.text || prompt_->face != p.face) {
        log("prompt", "Photos asks \"" + p.text + "\" (" +
                          (p.face ? "Face ID or passcode" : "passcode") + ")");
        attempts_left_.reset();
        owner_outcome_.clear();
      }
      prompt_ = p;
      return;
    }
    // The outcome of an answer to the prompt, typed (answer ...) or touched
    // on the prompt's card. The digits themselves are never printed.
    if (line == "passcode accepted" || startsWith(line, "wrong passcode, ")) {
      attempts_left_ = attemptsIn(line);
      owner_outcome_ = line;
      log("answer", "passcode entered: " + line);
      return;
    }
    if (line == "Face ID matched" || line == "cancelled") {
      owner_outcome_ = line;
      log("answer", line == "cancelled" ? "the owner cancelled the prompt" : "Face ID matched");
      return;
    }
    if (startsWith(line, "where ")) {
      where_ = line.substr(6);
      return;
    }
    if (startsWith(line, "completed ")) {
      log("program", "Photos completed the sidebar's navigation to " + line.substr(10));
      return;
    }
  }
  if (program == Program::kSettings && startsWith(line, "Photos ")) {
    log("restart", line);
    return;
  }
  if (program == Program::kTccd && startsWith(line, kFaceIdService)) {
    face_id_list_ = line.substr(std::string(kFaceIdService).size());
    return;
  }
  if (isError(line)) {
    log("error", std::string(c.label) + ": " + withoutErrorPrefix(line));
    return;
  }
  if (on_its_own) log("program", std::string(c.label) + ": " + line);
}

void DeviceSession::checkEnded(Program program, int timeout_ms) {
  Child& c = child(program);
  if (!c.process) return;
  int status;
  {
    Unlocked u(mu_);
    status = c.process->waitExit(timeout_ms);
  }
  if (status == 1000) return;
  // What it printed last still counts.
  for (const std::string& line : c.process->drain(0)) takeLine(program, line);
  std::string pid = std::to_string(c.process->pid());
  c.process.reset();
  c.owed.clear();
  c.ended = howEnded(status);
  std::string text = std::string(c.label) + " (pid " + pid + ") " + c.ended;
  if (program == Program::kPhotos && status == -SIGKILL && last_action_ == Program::kSettings) {
    text += ": the Velmo pane's killall after its master switch";
  }
  log(program == Program::kPhotos && status == -SIGKILL ? "restart" : "program", text);
  if (program == Program::kPhotos) {
    prompt_.reset();
    where_.clear();
    background_ = false;
    screens_[0].png.clear();
    ++screens_[0].version;
  } else if (program == Program::kSettings) {
    pane_open_ = false;
    screens_[1].png.clear();
    ++screens_[1].version;
  }
}

void DeviceSession::discard(Program program) {
  Child& c = child(program);
  if (!c.process) return;
  kill(c.process->pid(), SIGKILL);
  checkEnded(program, 5000);
  std::unique_ptr<program::DeviceProcess> gone = std::move(c.process);
  c.owed.clear();
  if (!gone) return;
  // Its destructor waits for it to end.
  Unlocked u(mu_);
  gone.reset();
}

void DeviceSession::endProgram(Program program) {
  if (!running(program)) return;
  if (answering(program)) {
    send(program, "quit");
    checkEnded(program, 5000);
  }
  discard(program);
}

Outcome DeviceSession::launch(Program program) {
  if (program == Program::kPhotos) {
    // The privacy daemon starts on demand with the app, so that what Velmo
    // changes in it at load applies to this launch.
    endProgram(Program::kTccd);
    launch(Program::kTccd);
  }
  Child& c = child(program);
  try {
    c.process = std::make_unique<program::DeviceProcess>(
        std::vector<std::string>{program_, c.command, "--root", root_});
  } catch (const std::exception& e) {
    log("error", std::string(c.label) + " could not be started: " + e.what());
    return {500, false, std::string(c.label) + " could not be started"};
  }
  c.ended.clear();
  c.owed.clear();
  // Its start is done (libraries loaded, observers registered) once it
  // answers help.
  Lines help = sendAtStart(program, "help");
  if (help.empty() || help.back() != "ok") {
    discard(program);
    log("error", std::string(c.label) + " did not start");
    return {500, false, std::string(c.label) + " did not start"};
  }
  log("program", std::string(c.label) + " started (pid " + std::to_string(c.process->pid()) + ")");
  if (program == Program::kPhotos) {
    background_ = false;
    prompt_.reset();
    hooks_.clear();
    for (const std::string& line : bodyOf(send(program, "hooks"))) {
      if (startsWith(line, "hook ")) hooks_.push_back(line.substr(5));
    }
    log("program", hooks_.empty()
                       ? "Photos loaded no hooks"
                       : "Velmo installed " + std::to_string(hooks_.size()) + " hooks in Photos");
  }
  if (program == Program::kSettings) pane_open_ = false;
  return {};
}

void DeviceSession::refreshScreen(Screen screen) {
  Program program = screen == Screen::kPhotos ? Program::kPhotos : Program::kSettings;
  ScreenState& s = screens_[static_cast<int>(screen)];
  if (!answering(program)) return;
  std::string path = scratch_ + "/" + child(program).command + ".png";
  Lines answer = send(program, "screenshot " + path);
  if (answer.empty() || answer.back() != "ok") return;
  s.png = readFile(path);
  ++s.version;
  if (!s.size && answering(program)) s.size = windowSize(bodyOf(send(program, "views")));
}

void DeviceSession::refreshProgram(Program program) {
  // After one command goes unanswered, the rest are skipped (answering()).
  if (program == Program::kPhotos) {
    if (answering(program)) send(program, "prompt");
    if (answering(program)) send(program, "where");
    refreshScreen(Screen::kPhotos);
  } else if (program == Program::kSettings) {
    refreshScreen(Screen::kSettings);
  }
}

void DeviceSession::refresh(Program held) {
  refreshProgram(held);
  for (Program other : {Program::kPhotos, Program::kSettings}) {
    if (other == held) continue;
    // Taken out of order, so only tried: a busy program is redrawn by the
    // action that holds it.
    std::unique_lock<std::mutex> lock(lockOf(other), std::try_to_lock);
    if (!lock) continue;
    // An action in Settings may have ended Photos (the master switch).
    checkEnded(other, 0);
    refreshProgram(other);
  }
}

void DeviceSession::log(const std::string& kind, const std::string& text) {
  log_.push_back({next_log_id_++, clockTime(), kind, text});
  while (log_.size() > kLogLimit) log_.pop_front();
}

void DeviceSession::changed() {
  ++version_;
  changed_cv_.notify_all();
}

void DeviceSession::monitor() {
  bool busy = false;  // a program's lock was held at the last look
  while (true) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
    {
      std::lock_guard<std::mutex> g(mu_);
      if (stopped_) return;
      for (const Child& c : children_) {
        if (c.process) fds.push_back({c.process->outputFd(), POLLIN, 0});
      }
    }
    // A program whose lock is held is read by its holder; until it is free
    // its output is looked at again a little later rather than at once.
    if (busy) {
      poll(fds.data(), 1, 100);
      for (pollfd& f : fds) f.revents = 0;
      poll(fds.data(), fds.size(), 0);
    } else {
      poll(fds.data(), fds.size(), 500);
    }
    busy = false;
    bool dirty = false;
    for (Program p : {Program::kTccd, Program::kSettings, Program::kPhotos}) {
      std::unique_lock<std::mutex> lock(lockOf(p), std::try_to_lock);
      if (!lock) {
        busy = true;
        continue;
      }
      std::lock_guard<std::mutex> g(mu_);
      if (stopped_) return;
      Child& c = child(p);
      if (!c.process) continue;
      uint64_t logged = next_log_id_;
      bool owed = !c.owed.empty();
      for (const std::string& line : c.process->drain(0)) takeLine(p, line);
      c.process->seen.clear();
      bool hung_up = false;
      for (const pollfd& f : fds) {
        if (f.fd == c.process->outputFd() && (f.revents & (POLLHUP | POLLERR))) hung_up = true;
      }
      if (hung_up) checkEnded(p, 1000);
      if (logged != next_log_id_ || !c.process || (owed && c.owed.empty())) dirty = true;
    }
    if (!dirty) continue;
    for (Program p : {Program::kPhotos, Program::kSettings}) {
      std::unique_lock<std::mutex> lock(lockOf(p), std::try_to_lock);
      if (!lock) continue;
      std::lock_guard<std::mutex> g(mu_);
      if (stopped_) return;
      refreshProgram(p);
    }
    std::lock_guard<std::mutex> g(mu_);
    changed();
  }
}

// Actions ------------------------------------------------------------------

Outcome DeviceSession::touch(Screen screen, double x, double y) {
  Program program = screen == Screen::kPhotos ? Program::kPhotos : Program::kSettings;
  std::lock_guard<std::mutex> p(lockOf(program));
  std::lock_guard<std::mutex> g(mu_);
  if (Outcome o = needs(program); o.status != 200) return o;
  const std::optional<ScreenSize>& size = screens_[static_cast<int>(screen)].size;
  if (!size) return {409, false, "the screen has not been drawn yet"};
  if (!(x >= 0 && y >= 0 && x < size->width && y < size->height)) {
    return {400, false, "the point is off the screen"};
  }
  last_action_ = program;
  Outcome o = outcomeOf(program, send(program, "touch " + formatPoint(x) + " " + formatPoint(y)));
  refresh(program);
  changed();
  return o;
}

Outcome DeviceSession::act(Program program, const std::string& command, const std::string& done,
                           const std::function<void()>& on_ok) {
  std::lock_guard<std::mutex> p(lockOf(program));
  std::lock_guard<std::mutex> g(mu_);
  if (Outcome o = needs(program); o.status != 200) return o;
  last_action_ = program;
  Outcome o = outcomeOf(program, send(program, command, on_ok));
  if (o.ok) {
    if (on_ok) on_ok();
    log("action", done);
  }
  refresh(program);
  changed();
  return o;
}

Outcome DeviceSession::home() {
  return act(Program::kPhotos, "background", "Home: Photos went to the background",
             [this] { background_ = true; });
}

Outcome DeviceSession::openPhotos() {
  std::scoped_lock programs(lockOf(Program::kPhotos), lockOf(Program::kTccd));
  std::lock_guard<std::mutex> g(mu_);
  if (stopped_) return needs(Program::kPhotos);
  last_action_ = Program::kPhotos;
  Outcome o;
  if (running(Program::kPhotos)) {
    o = needs(Program::kPhotos);
    if (o.status != 200) return o;
    auto in_front = [this] { background_ = false; };
    o = outcomeOf(Program::kPhotos, send(Program::kPhotos, "foreground", in_front));
    if (o.ok) {
      in_front();
      log("action", "Photos came back to the foreground");
    }
  } else {
    o = launch(Program::kPhotos);
  }
  refresh(Program::kPhotos);
  changed();
  return o;
}

Outcome DeviceSession::openVelmoPane() {
  return act(Program::kSettings, "open Velmo", "Settings opened the Velmo pane",
             [this] { pane_open_ = true; });
}

Outcome DeviceSession::setCount(long long value) {
  std::string number = std::to_string(value);
  return act(Program::kSettings, "set hiddenItemCount " + number,
             "the count row was set to " + number);
}

Outcome DeviceSession::answer(const std::string& command, const std::string& what) {
  std::lock_guard<std::mutex> p(lockOf(Program::kPhotos));
  std::lock_guard<std::mutex> g(mu_);
  if (Outcome o = needs(Program::kPhotos); o.status != 200) return o;
  last_action_ = Program::kPhotos;
  Lines answer = send(Program::kPhotos, command);
  Outcome o = outcomeOf(Program::kPhotos, answer);
  if (o.ok) {
    // The outcome line was logged as it came; it is also the action's message.
    Lines said = bodyOf(answer);
    if (!said.empty()) o.message = said.back();
  } else if (o.status == 200 && !answer.empty() && answer.back() != "error: no prompt") {
    // Refused, e.g. while the device makes the owner wait.
    owner_outcome_ = o.message;
    log("answer", what + ": " + o.message);
  }
  refresh(Program::kPhotos);
  changed();
  return o;
}

Outcome DeviceSession::answerPasscode(const std::string& digits) {
  // The digits go to the program and nowhere else.
  return answer("answer passcode " + digits, "passcode entered");
}

Outcome DeviceSession::answerFace() { return answer("answer face", "Face ID"); }

Outcome DeviceSession::answerCancel() { return answer("answer cancel", "Cancel"); }

Outcome DeviceSession::startProgram(Program program) {
  // Photos' start restarts the privacy daemon, so it takes both.
  std::unique_lock<std::mutex> own(lockOf(program));
  std::unique_lock<std::mutex> daemon(lockOf(Program::kTccd), std::defer_lock);
  if (program == Program::kPhotos) daemon.lock();
  std::lock_guard<std::mutex> g(mu_);
  if (stopped_) return needs(program);
  Child& c = child(program);
  if (running(program)) {
    if (c.owed.empty()) return {409, false, std::string(c.label) + " is already running"};
    log("restart", std::string(c.label) + " (pid " + std::to_string(c.process->pid()) +
                       ") was not answering and is ended");
    discard(program);
  }
  last_action_ = program;
  Outcome o = launch(program);
  refresh(program);
  changed();
  return o;
}

Outcome DeviceSession::views(Screen screen, std::string* text) {
  Program program = screen == Screen::kPhotos ? Program::kPhotos : Program::kSettings;
  std::lock_guard<std::mutex> p(lockOf(program));
  std::lock_guard<std::mutex> g(mu_);
  if (Outcome o = needs(program); o.status != 200) return o;
  Lines answer = send(program, "views");
  Outcome o = outcomeOf(program, answer);
  text->clear();
  for (const std::string& line : bodyOf(answer)) *text += line + "\n";
  if (o.status == 504) changed();  // marked not answering
  return o;
}

// What the page reads ------------------------------------------------------

std::string DeviceSession::screenPng(Screen screen) const {
  std::lock_guard<std::mutex> g(mu_);
  return screens_[static_cast<int>(screen)].png;
}

uint64_t DeviceSession::version() const {
  std::lock_guard<std::mutex> g(mu_);
  return version_;
}

uint64_t DeviceSession::waitForChange(uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  changed_cv_.wait_for(lock, timeout, [&] { return version_ != seen || stopped_; });
  return version_;
}

std::vector<pid_t> DeviceSession::pids() const {
  std::lock_guard<std::mutex> g(mu_);
  std::vector<pid_t> out;
  for (const Child& c : children_) {
    if (c.process) out.push_back(c.process->pid());
  }
  return out;
}

std::string DeviceSession::stateJson() const {
  device::Config config = device::readConfig();
  std::lock_guard<std::mutex> g(mu_);
  json state;
  state["version"] = version_;
  json facts;
  facts["root"] = root_;
  facts["model"] = config.model;
  facts["systemVersion"] = config.systemVersion;
  facts["passcode"] = device::hasPasscode(config);
  facts["faceId"] = config.biometry == "face";
  if (face_id_list_) {
    facts["faceIdForPhotos"] = face_id_list_->find(kPhotosIdentifier) != std::string::npos;
  } else {
    facts["faceIdForPhotos"] = nullptr;
  }
  facts["hooks"] = hooks_;
  state["device"] = facts;

  json programs;
  for (const Child& c : children_) {
    json p;
    p["label"] = c.label;
    p["running"] = c.process != nullptr;
    if (c.process) p["pid"] = c.process->pid();
    // Running, but owing the answer to a command it did not give in time.
    p["answering"] = c.process != nullptr && c.owed.empty();
    p["silentSince"] = c.process && !c.owed.empty() ? c.silent_since : "";
    p["ended"] = c.ended;
    programs[c.command] = p;
  }
  state["programs"] = programs;

  json screens;
  const char* names[] = {"photos", "settings"};
  for (int i = 0; i < 2; ++i) {
    json s;
    s["version"] = screens_[i].version;
    s["drawn"] = !screens_[i].png.empty();
    if (screens_[i].size) {
      s["width"] = screens_[i].size->width;
      s["height"] = screens_[i].size->height;
    }
    screens[names[i]] = s;
  }
  state["screens"] = screens;
  state["photos"] = {{"where", where_}, {"background", background_}};
  state["settings"] = {{"paneOpen", pane_open_}};

  json owner;
  if (prompt_) {
    owner["prompt"] = {{"text", prompt_->text}, {"face", prompt_->face}};
  } else {
    owner["prompt"] = nullptr;
  }
  if (attempts_left_) {
    owner["attemptsLeft"] = *attempts_left_;
  } else {
    owner["attemptsLeft"] = nullptr;
  }
  owner["outcome"] = owner_outcome_;
  state["owner"] = owner;

  json entries = json::array();
  for (const LogEntry& e : log_) {
    entries.push_back({{"id", e.id}, {"time", e.time}, {"kind", e.kind}, {"text", e.text}});
  }
  state["log"] = entries;
  state["stopping"] = stopped_;
  // A program's line that is not UTF-8 is shown with replacement characters
  // rather than failing the whole state.
  return state.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace web
