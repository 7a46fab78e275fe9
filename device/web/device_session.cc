#include "device/web/device_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

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

using Lines = std::vector<std::string>;
using nlohmann::json;

constexpr size_t kLogLimit = 300;
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

std::string formatPoint(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
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

DeviceSession::DeviceSession(std::string program, std::string root, std::string scratch)
    : program_(std::move(program)), root_(std::move(root)), scratch_(std::move(scratch)) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
}

DeviceSession::~DeviceSession() {
  stop();
  close(wake_[0]);
  close(wake_[1]);
}

void DeviceSession::start() {
  {
    std::lock_guard<std::mutex> c(commands_mu_);
    std::lock_guard<std::mutex> g(mu_);
    log("program", "device " + root_);
    launch(Program::kPhotos);  // starts the privacy daemon first
    launch(Program::kSettings);
    refresh();
    changed();
  }
  monitor_ = std::thread([this] { monitor(); });
}

void DeviceSession::stop() {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (stopped_) return;
    stopped_ = true;
    changed();
  }
  if (write(wake_[1], "x", 1) < 0) {
    // The pipe is full: the monitor is already awake.
  }
  if (monitor_.joinable()) monitor_.join();
  std::lock_guard<std::mutex> c(commands_mu_);
  std::lock_guard<std::mutex> g(mu_);
  // Photos first, so that nothing it asks of the daemon is left hanging. Each
  // program ends when its input closes; one that does not is killed.
  for (Program p : {Program::kPhotos, Program::kSettings, Program::kTccd}) child(p).process.reset();
}

bool DeviceSession::running(Program program) const {
  const Child& c = children_[static_cast<int>(program)];
  return c.process != nullptr;
}

Outcome DeviceSession::needs(Program program) const {
  if (stopped_) return {409, false, "the server is stopping"};
  if (running(program)) return {};
  const Child& c = children_[static_cast<int>(program)];
  return {409, false, std::string(c.label) + " is not running"};
}

std::vector<std::string> DeviceSession::send(Program program, const std::string& command) {
  Child& c = child(program);
  if (!c.process) return {};
  // The page's state may be read meanwhile; the program is ours alone, as
  // commands_mu_ is held.
  Lines answer;
  {
    Unlocked u(mu_);
    answer = c.process->command(command);
  }
  c.process->seen.clear();
  for (const std::string& line : bodyOf(answer)) handleLine(program, line, false);
  if (answer.empty() || answer.back() == "timeout") {
    checkEnded(program, 2000);
    // A program that is slow, not gone, still owes its closing line: it is
    // read here, so that it is not taken for the next command's answer.
    for (int waited = 0; c.process && waited < 30; ++waited) {
      std::string line;
      {
        Unlocked u(mu_);
        line = c.process->waitForLine("", 1000);
      }
      c.process->seen.clear();
      if (line == "ok" || isError(line)) break;
      if (line.empty()) {
        checkEnded(program, 0);
      } else {
        handleLine(program, line, true);
      }
    }
  }
  return answer;
}

Outcome DeviceSession::outcomeOf(Program program, const Lines& answer) {
  if (answer.empty()) return needs(program);
  const std::string& last = answer.back();
  if (last == "ok") return {};
  if (isError(last)) return {200, false, withoutErrorPrefix(last)};
  return {200, false, std::string(child(program).label) + " did not answer"};
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
  for (const std::string& line : c.process->drain(0)) handleLine(program, line, true);
  std::string pid = std::to_string(c.process->pid());
  c.process.reset();
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
  std::unique_ptr<program::DeviceProcess> gone = std::move(child(program).process);
  if (!gone) return;
  // Its destructor waits for it to end, then kills it.
  Unlocked u(mu_);
  gone.reset();
}

Outcome DeviceSession::launch(Program program) {
  if (program == Program::kPhotos) {
    // The privacy daemon starts on demand with the app, so that what Velmo
    // changes in it at load applies to this launch.
    if (running(Program::kTccd)) {
      send(Program::kTccd, "quit");
      checkEnded(Program::kTccd, 5000);
      discard(Program::kTccd);
    }
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
  // Its start is done (libraries loaded, observers registered) once it
  // answers help.
  Lines help = send(program, "help");
  if (help.empty() || help.back() != "ok") {
    checkEnded(program, 2000);
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
  if (!running(program)) return;
  std::string path = scratch_ + "/" + child(program).command + ".png";
  Lines answer = send(program, "screenshot " + path);
  if (answer.empty() || answer.back() != "ok") return;
  s.png = readFile(path);
  ++s.version;
  if (!s.size) s.size = windowSize(bodyOf(send(program, "views")));
}

void DeviceSession::refresh() {
  if (running(Program::kPhotos)) {
    send(Program::kPhotos, "prompt");
    send(Program::kPhotos, "where");
  }
  refreshScreen(Screen::kPhotos);
  refreshScreen(Screen::kSettings);
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
  while (true) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
    {
      std::lock_guard<std::mutex> g(mu_);
      if (stopped_) return;
      for (const Child& c : children_) {
        if (c.process) fds.push_back({c.process->outputFd(), POLLIN, 0});
      }
    }
    poll(fds.data(), fds.size(), 500);
    char drained[64];
    while (read(wake_[0], drained, sizeof drained) > 0) {
    }
    std::lock_guard<std::mutex> commands(commands_mu_);
    std::lock_guard<std::mutex> g(mu_);
    if (stopped_) return;
    uint64_t logged = next_log_id_;
    bool ended = false;
    for (Program p : {Program::kTccd, Program::kSettings, Program::kPhotos}) {
      Child& c = child(p);
      if (!c.process) continue;
      for (const std::string& line : c.process->drain(0)) handleLine(p, line, true);
      c.process->seen.clear();
      bool hung_up = false;
      for (const pollfd& f : fds) {
        if (f.fd == c.process->outputFd() && (f.revents & (POLLHUP | POLLERR))) hung_up = true;
      }
      if (hung_up) {
        checkEnded(p, 1000);
        ended = ended || !c.process;
      }
    }
    if (logged != next_log_id_ || ended) {
      refresh();
      changed();
    }
  }
}

// Actions ------------------------------------------------------------------

Outcome DeviceSession::touch(Screen screen, double x, double y) {
  std::lock_guard<std::mutex> c(commands_mu_);
  std::lock_guard<std::mutex> g(mu_);
  Program program = screen == Screen::kPhotos ? Program::kPhotos : Program::kSettings;
  if (Outcome o = needs(program); o.status != 200) return o;
  const std::optional<ScreenSize>& size = screens_[static_cast<int>(screen)].size;
  if (!size) return {409, false, "the screen has not been drawn yet"};
  if (!(x >= 0 && y >= 0 && x < size->width && y < size->height)) {
    return {400, false, "the point is off the screen"};
  }
  last_action_ = program;
  Outcome o = outcomeOf(program, send(program, "touch " + formatPoint(x) + " " + formatPoint(y)));
  // A touch may end Photos (the pane's master switch): let that be seen now.
  if (program == Program::kSettings) checkEnded(Program::kPhotos, 0);
  refresh();
  changed();
  return o;
}

Outcome DeviceSession::act(Program program, const std::string& command, const std::string& done,
                           const std::function<void()>& on_ok) {
  std::lock_guard<std::mutex> c(commands_mu_);
  std::lock_guard<std::mutex> g(mu_);
  if (Outcome o = needs(program); o.status != 200) return o;
  last_action_ = program;
  Outcome o = outcomeOf(program, send(program, command));
  if (o.ok) {
    if (on_ok) on_ok();
    log("action", done);
  }
  refresh();
  changed();
  return o;
}

Outcome DeviceSession::home() {
  return act(Program::kPhotos, "background", "Home: Photos went to the background",
             [this] { background_ = true; });
}

Outcome DeviceSession::openPhotos() {
  std::lock_guard<std::mutex> c(commands_mu_);
  std::lock_guard<std::mutex> g(mu_);
  if (stopped_) return needs(Program::kPhotos);
  last_action_ = Program::kPhotos;
  Outcome o;
  if (running(Program::kPhotos)) {
    o = outcomeOf(Program::kPhotos, send(Program::kPhotos, "foreground"));
    if (o.ok) {
      background_ = false;
      log("action", "Photos came back to the foreground");
    }
  } else {
    o = launch(Program::kPhotos);
  }
  refresh();
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
  std::lock_guard<std::mutex> c(commands_mu_);
  std::lock_guard<std::mutex> g(mu_);
  if (Outcome o = needs(Program::kPhotos); o.status != 200) return o;
  last_action_ = Program::kPhotos;
  Lines answer = send(Program::kPhotos, command);
  Outcome o = outcomeOf(Program::kPhotos, answer);
  if (o.ok) {
    // The outcome line was logged as it came; it is also the action's message.
    Lines said = bodyOf(answer);
    if (!said.empty()) o.message = said.back();
  } else if (!answer.empty() && answer.back() != "error: no prompt") {
    // Refused, e.g. while the device makes the owner wait.
    owner_outcome_ = o.message;
    log("answer", what + ": " + o.message);
  }
  refresh();
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
  std::lock_guard<std::mutex> c(commands_mu_);
  std::lock_guard<std::mutex> g(mu_);
  if (stopped_) return needs(program);
  if (running(program)) {
    return {409, false, std::string(child(program).label) + " is already running"};
  }
  last_action_ = program;
  Outcome o = launch(program);
  refresh();
  changed();
  return o;
}

Outcome DeviceSession::views(Screen screen, std::string* text) {
  std::lock_guard<std::mutex> c(commands_mu_);
  std::lock_guard<std::mutex> g(mu_);
  Program program = screen == Screen::kPhotos ? Program::kPhotos : Program::kSettings;
  if (Outcome o = needs(program); o.status != 200) return o;
  Lines answer = send(program, "views");
  Outcome o = outcomeOf(program, answer);
  text->clear();
  for (const std::string& line : bodyOf(answer)) *text += line + "\n";
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
  facts["passcode"] = !config.passcodeHash.empty();
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
