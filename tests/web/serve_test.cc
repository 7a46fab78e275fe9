// velmo-device serve as a process, asked over HTTP on 127.0.0.1: every kind
// of bad request gets its status and leaves the device working; open event
// streams and a slow program leave the server answering; a program that stops
// answering is marked so, holds up nothing else and can be restarted; slow
// clients starve no one; a program that dies is reported and can be started
// again; Ctrl-C, SIGTERM or SIGHUP ends the server and every program it
// started, and a killed server's folder is removed by the next.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tests/support/device_fixture.h"

namespace testing_support {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Clients that send the start of a request and then a header line every
// `every`, never its end, until the object goes.
class Trickle {
 public:
  Trickle(std::vector<int> fds, milliseconds every) : fds_(std::move(fds)) {
    thread_ = std::thread([this, every] {
      for (int n = 0; !done_; ++n) {
        std::string line = "X-Slow-" + std::to_string(n) + ": 1\r\n";
        for (int fd : fds_) send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        for (auto waited = milliseconds(0); waited < every && !done_; waited += milliseconds(50)) {
          std::this_thread::sleep_for(milliseconds(50));
        }
      }
    });
  }
  ~Trickle() {
    done_ = true;
    thread_.join();
    for (int fd : fds_) close(fd);
  }
  const std::vector<int>& fds() const { return fds_; }

 private:
  std::vector<int> fds_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Whether the server has closed the connection (its end read, or a reset).
bool closedByServer(int fd) {
  pollfd p{fd, POLLIN, 0};
  char byte;
  return poll(&p, 1, 0) == 1 && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

// Whether a process has ended: no such process, or one that only waits to be
// reaped (a killed server's programs go to a parent that may reap late).
bool gone(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  return close != std::string::npos && stat.substr(close + 2, 1) == "Z";
}

class ServeTest : public DeviceTest {
 protected:
  void SetUp() override {
    root_ = makeTempDirectory("velmo-serve-test");
    serve(root_);
  }
  // Starts the server on `device` (made by serve when it holds none), with
  // `environment` set for it.
  void serve(const std::string& device,
             const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    server_ = std::make_unique<DeviceProcess>(
        std::vector<std::string>{program(), "serve", "--root", device, "--port", "0"});
    for (const auto& [name, value] : environment) unsetenv(name.c_str());
    std::string line = server_->waitForLine("serving", 30000);
    size_t at = line.find("http://127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << "serve printed no address";
    port_ = std::stoi(line.substr(at + 17));
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_read_timeout(20, 0);
  }
  void TearDown() override {
    if (server_) {
      kill(server_->pid(), SIGTERM);
      server_->waitExit(20000);
    }
    DeviceTest::TearDown();
  }

  json state() {
    auto res = client_->Get("/api/state");
    return res && res->status == 200 ? json::parse(res->body) : json();
  }
  std::string logText() {
    std::string text;
    json now = state();
    for (const auto& e : now["log"]) text += e["text"].get<std::string>() + "\n";
    return text;
  }
  // POST with a JSON body; the status, or -1 without an answer.
  int post(const std::string& path, const std::string& body) {
    auto res = client_->Post(path.c_str(), body, "application/json");
    return res ? res->status : -1;
  }
  // Touches the centre of the first view on a screen whose line has `text`.
  int touchView(const std::string& screen, const std::string& text) {
    std::string views = client_->Get(("/api/views/" + screen).c_str())->body;
    size_t at = views.find(text);
    if (at == std::string::npos) return -2;
    double x, y, w, h;
    if (std::sscanf(views.c_str() + views.rfind('(', at), "(%lf, %lf, %lf, %lf)", &x, &y, &w, &h) !=
        4) {
      return -3;
    }
    return post("/api/touch", json{{"screen", screen}, {"x", x + w / 2}, {"y", y + h / 2}}.dump());
  }
  pid_t pidOf(const std::string& program) {
    json p = state()["programs"][program];
    return p.value("running", false) ? p["pid"].get<pid_t>() : 0;
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  // Sends the start of a request (its line and headers, "\r\n" each, without
  // the closing empty line) on a new connection; the socket, or -1.
  int sendHead(const std::string& head) { return openWith(head + "Host: " + host() + "\r\n\r\n"); }
  // Sends `text` on a new connection; the socket, or -1.
  int openWith(const std::string& text) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      if (fd >= 0) close(fd);
      return -1;
    }
    return fd;
  }
  // Ends the server of SetUp, then serves the same device again with
  // `environment` set for it.
  void serveAgain(const std::vector<std::pair<std::string, std::string>>& environment) {
    kill(server_->pid(), SIGTERM);
    ASSERT_EQ(server_->waitExit(20000), 0);
    serve(root_, environment);
  }
  // The status of the answer on `fd`, or -1 when none comes within 10 s.
  int statusOn(int fd) {
    std::string got;
    char chunk[256];
    pollfd p{fd, POLLIN, 0};
    while (got.find("\r\n") == std::string::npos && poll(&p, 1, 10000) == 1) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      got.append(chunk, static_cast<size_t>(n));
    }
    int status = -1;
    return std::sscanf(got.c_str(), "HTTP/1.1 %d", &status) == 1 ? status : -1;
  }
  // Closes a connection with a reset, which the server notices at its next
  // write (a closed one only at the write after).
  static void reset(int fd) {
    linger now{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    close(fd);
  }

  std::unique_ptr<DeviceProcess> server_;
  std::unique_ptr<httplib::Client> client_;
  int port_ = 0;
};

TEST_F(ServeTest, EveryKindOfBadRequestGetsItsStatusAndTheDeviceKeepsWorking) {
  const pid_t photos = pidOf("photos"), settings = pidOf("settings"), tccd = pidOf("tccd");
  // Unknown paths.
  for (const char* path : {"/nope", "/api/nope", "/screen/home.png", "/../etc/passwd"}) {
    auto res = client_->Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
  }
  // Known paths, other methods; the answer says which one it takes.
  auto put = client_->Put("/api/state", "{}", "application/json");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 405);
  EXPECT_EQ(put->get_header_value("Allow"), "GET");
  auto get = client_->Get("/api/touch");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");
  auto del = client_->Delete("/");
  ASSERT_TRUE(del);
  EXPECT_EQ(del->status, 405);

  // Bodies that are not what the action takes, and points off the screen.
  const std::pair<const char*, const char*> bad[] = {
      {"/api/touch", "not json"},
      {"/api/touch", R"({"screen":"photos","x":5000,"y":10})"},
      {"/api/touch", R"({"screen":"photos","x":10,"y":844})"},
      {"/api/touch", R"({"screen":"photos","x":-1,"y":10})"},
      {"/api/touch", R"({"screen":"photos","x":"10","y":10})"},
      {"/api/touch", R"({"screen":"home","x":10,"y":10})"},
      {"/api/count", R"({"value":"12abc"})"},
      {"/api/count", R"({"value":"1\nquit"})"},
      {"/api/answer", R"({"how":"passcode","code":"12\nquit"})"},
      {"/api/start", R"({"program":"sh"})"},
      {"/api/home", R"({"extra":1})"},
  };
  for (const auto& [path, body] : bad) EXPECT_EQ(post(path, body), 400) << path << " " << body;

  // Too large a body, whatever it says.
  EXPECT_EQ(post("/api/count", "{\"value\":\"" + std::string(17 * 1024, '1') + "\"}"), 413);
  // A body whose length is not given up front (in chunks, or up to the
  // connection's end) could be of any size: refused once its headers are in.
  for (const char* framing : {"Transfer-Encoding: chunked\r\n", ""}) {
    int fd = sendHead(std::string("POST /api/count HTTP/1.1\r\n") +
                      "Content-Type: application/json\r\n" + framing);
    EXPECT_EQ(statusOn(fd), 411) << framing;
    if (fd >= 0) close(fd);
  }
  // Not JSON by its type (what a form on another site could send), also empty.
  auto plain = client_->Post("/api/home", "{}", "text/plain");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->status, 415);
  auto empty = client_->Post("/api/home");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 415);
  // Another host's name: a page on another site that points its name here.
  auto other = client_->Get("/api/state", {{"Host", "example.com:" + std::to_string(port_)}});
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 403);
  // A request a browser sends for a page of another origin or site.
  for (const httplib::Headers& from :
       {httplib::Headers{{"Origin", "http://example.com"}},
        httplib::Headers{{"Origin", "http://127.0.0.1:1"}}, httplib::Headers{{"Origin", "null"}},
        httplib::Headers{{"Sec-Fetch-Site", "cross-site"}},
        httplib::Headers{{"Sec-Fetch-Site", "same-site"}}}) {
    auto res = client_->Post("/api/home", from, "{}", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403) << from.begin()->first << ": " << from.begin()->second;
  }

  // The device still answers, and the bad requests did nothing to it: no
  // program ended or started again.
  EXPECT_NE(pidOf("photos"), 0);
  EXPECT_NE(pidOf("settings"), 0);
  EXPECT_EQ(pidOf("photos"), photos);
  EXPECT_EQ(pidOf("settings"), settings);
  EXPECT_EQ(pidOf("tccd"), tccd);
  EXPECT_FALSE(state()["photos"]["background"].get<bool>());
  auto png = client_->Get("/screen/photos.png");
  ASSERT_TRUE(png);
  EXPECT_EQ(png->status, 200);
  EXPECT_EQ(png->body.substr(1, 3), "PNG");
  // Velmo is off: a touch on Hidden's row opens the album.
  EXPECT_EQ(touchView("photos", "\"Hidden\""), 200);
  EXPECT_EQ(state()["photos"]["where"], "Albums > Hidden");
  // What the page's own requests carry.
  auto own = client_->Post("/api/open-pane",
                           {{"Origin", "http://" + host()}, {"Sec-Fetch-Site", "same-origin"}},
                           "{}", "application/json");
  ASSERT_TRUE(own);
  EXPECT_EQ(own->status, 200);
  EXPECT_EQ(post("/api/count", R"({"value":"+7"})"), 200);
  EXPECT_NE(client_->Get("/api/views/settings")->body.find("\"7\""), std::string::npos);
  EXPECT_TRUE(waitUntil(
      [&] {
        return logText().find("Photos received com.qel.velmopreferences/changed") !=
               std::string::npos;
      },
      5000))
      << logText();
}

TEST_F(ServeTest, ThePromptsKeypadOnTheScreenAnswersAndTheLogNeverShowsTheDigits) {
  // A phone with Velmo on from the start.
  kill(server_->pid(), SIGTERM);
  ASSERT_EQ(server_->waitExit(20000), 0);
  writeSettings(enabledWith());
  serve(root_);

  EXPECT_EQ(touchView("photos", "\"Hidden\""), 200);
  ASSERT_TRUE(state()["owner"]["prompt"].is_object());
  for (const char* key : {"\"9\"", "\"8\"", "\"7\"", "\"OK\""}) {
    EXPECT_EQ(touchView("photos", key), 200) << key;
  }
  EXPECT_EQ(state()["owner"]["attemptsLeft"], 4);
  EXPECT_EQ(state()["photos"]["where"], "Albums");
  EXPECT_EQ(post("/api/answer", R"({"how":"passcode","code":"1234"})"), 200);
  json now = state();
  EXPECT_EQ(now["owner"]["outcome"], "passcode accepted");
  EXPECT_TRUE(now["owner"]["prompt"].is_null());
  EXPECT_EQ(now["photos"]["where"], "Albums > Hidden");
  std::string log = logText();
  EXPECT_NE(log.find("passcode entered: wrong passcode, 4 attempts left"), std::string::npos)
      << log;
  EXPECT_NE(log.find("passcode entered: passcode accepted"), std::string::npos) << log;
  EXPECT_EQ(log.find("987"), std::string::npos) << log;
  EXPECT_EQ(log.find("1234"), std::string::npos) << log;
}

TEST_F(ServeTest, OpenEventStreamsAndASlowProgramLeaveTheServerAnswering) {
  // Each open stream holds one of the server's threads: past the cap a new
  // one is refused, and the rest of the server still answers.
  const std::string events = "GET /api/events HTTP/1.1\r\n";
  std::vector<int> streams;
  for (int i = 0; i < 16; ++i) {
    streams.push_back(sendHead(events));
    ASSERT_EQ(statusOn(streams.back()), 200) << "stream " << i;
  }
  int extra = sendHead(events);
  EXPECT_EQ(statusOn(extra), 503);
  if (extra >= 0) close(extra);
  auto res = client_->Get("/api/state");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  // Streams that end give their places back (noticed at the next event).
  for (int fd : streams) reset(fd);
  EXPECT_EQ(post("/api/open-pane", "{}"), 200);
  EXPECT_TRUE(waitUntil(
      [&] {
        int fd = sendHead(events);
        bool taken = statusOn(fd) == 200;
        if (fd >= 0) reset(fd);
        return taken;
      },
      10000));

  // An action waits on a program that does not answer; reading the state
  // does not wait for it.
  pid_t settings = pidOf("settings");
  ASSERT_NE(settings, 0);
  kill(settings, SIGSTOP);
  int action = -1;
  std::thread acting([&] {
    httplib::Client own("127.0.0.1", port_);
    own.set_read_timeout(60, 0);
    auto answer = own.Post("/api/count", R"({"value":3})", "application/json");
    action = answer ? answer->status : -1;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  httplib::Client reader("127.0.0.1", port_);
  reader.set_read_timeout(5, 0);
  auto began = std::chrono::steady_clock::now();
  auto read = reader.Get("/api/state");
  auto took = std::chrono::steady_clock::now() - began;
  kill(settings, SIGCONT);
  acting.join();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->status, 200);
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_EQ(action, 200);
  EXPECT_NE(logText().find("the count row was set to 3"), std::string::npos) << logText();
}

TEST_F(ServeTest, ADeadProgramIsReportedAndStartsAgain) {
  pid_t settings = pidOf("settings");
  ASSERT_NE(settings, 0);
  kill(settings, SIGKILL);
  ASSERT_TRUE(waitUntil([&] { return pidOf("settings") == 0; }, 10000));
  EXPECT_EQ(state()["programs"]["settings"]["ended"], "ended by signal 9 (SIGKILL)");
  EXPECT_NE(logText().find("Settings (pid " + std::to_string(settings) + ") ended by signal 9"),
            std::string::npos)
      << logText();
  EXPECT_EQ(post("/api/open-pane", "{}"), 409);
  EXPECT_EQ(post("/api/start", R"({"program":"settings"})"), 200);
  EXPECT_NE(pidOf("settings"), 0);
  EXPECT_EQ(post("/api/open-pane", "{}"), 200);

  pid_t photos = pidOf("photos");
  kill(photos, SIGKILL);
  ASSERT_TRUE(waitUntil([&] { return pidOf("photos") == 0; }, 10000));
  EXPECT_EQ(post("/api/home", "{}"), 409);
  EXPECT_EQ(post("/api/open-photos", "{}"), 200);
  EXPECT_NE(pidOf("photos"), 0);
  EXPECT_NE(pidOf("photos"), photos);
  EXPECT_EQ(state()["photos"]["where"], "Albums");
}

TEST_F(ServeTest, AStoppedPhotosIsMarkedNotAnsweringHoldsUpNothingAndRestarts) {
  const pid_t photos = pidOf("photos");
  ASSERT_NE(photos, 0);
  ASSERT_EQ(kill(photos, SIGSTOP), 0);
  // Home waits on Photos for one answer timeout (8 s), then gives up on it
  // for the rest of the action: no wait per command of the redraw.
  int home_status = -1;
  json home;
  Clock::duration home_took{};
  std::thread pressing([&] {
    httplib::Client own("127.0.0.1", port_);
    own.set_read_timeout(40, 0);
    Clock::time_point began = Clock::now();
    auto res = own.Post("/api/home", "{}", "application/json");
    home_took = Clock::now() - began;
    if (res) {
      home_status = res->status;
      home = json::parse(res->body, nullptr, false);
    }
  });
  std::this_thread::sleep_for(milliseconds(500));
  // Meanwhile an action in Settings does not wait behind Photos.
  Clock::time_point began = Clock::now();
  EXPECT_EQ(post("/api/count", R"({"value":5})"), 200);
  EXPECT_LT(Clock::now() - began, seconds(4));
  pressing.join();
  EXPECT_EQ(home_status, 504);
  EXPECT_LT(home_took, seconds(20));
  EXPECT_NE(home.value("message", "").find("not answering"), std::string::npos) << home.dump();
  json now = state();
  EXPECT_TRUE(now["programs"]["photos"].value("running", false));
  EXPECT_FALSE(now["programs"]["photos"].value("answering", true)) << now["programs"].dump();
  // Later actions that need it are refused at once, saying why.
  began = Clock::now();
  auto touch =
      client_->Post("/api/touch", R"({"screen":"photos","x":10,"y":10})", "application/json");
  ASSERT_TRUE(touch);
  EXPECT_EQ(touch->status, 409);
  EXPECT_NE(touch->body.find("not answering"), std::string::npos) << touch->body;
  EXPECT_LT(Clock::now() - began, seconds(2));

  // Photos goes on: its late "ok" closes the command it owed (it did go to
  // the background), and nothing late is logged as its chatter or taken for
  // the answer of a newer command.
  ASSERT_EQ(kill(photos, SIGCONT), 0);
  ASSERT_TRUE(
      waitUntil([&] { return state()["programs"]["photos"].value("answering", false); }, 10000))
      << logText();
  EXPECT_TRUE(state()["photos"]["background"].get<bool>());
  std::string log = logText();
  EXPECT_NE(log.find("Photos answers again"), std::string::npos) << log;
  EXPECT_EQ(log.find("Photos: "), std::string::npos) << log;
  EXPECT_EQ(post("/api/open-photos", "{}"), 200);
  EXPECT_FALSE(state()["photos"]["background"].get<bool>());
  auto views = client_->Get("/api/views/photos");
  ASSERT_TRUE(views);
  EXPECT_EQ(views->status, 200);
  EXPECT_EQ(views->body.rfind("UIWindow (0, 0, 390, 844)", 0), 0u) << views->body;
  EXPECT_EQ(state()["photos"]["where"], "Albums");

  // Stopped again: the page ends it and starts a new one.
  ASSERT_EQ(kill(photos, SIGSTOP), 0);
  EXPECT_EQ(post("/api/home", "{}"), 504);
  began = Clock::now();
  EXPECT_EQ(post("/api/start", R"({"program":"photos"})"), 200);
  EXPECT_LT(Clock::now() - began, seconds(20));
  pid_t fresh = pidOf("photos");
  EXPECT_NE(fresh, 0);
  EXPECT_NE(fresh, photos);
  EXPECT_TRUE(gone(photos));
  now = state();
  EXPECT_TRUE(now["programs"]["photos"].value("answering", false));
  EXPECT_EQ(now["photos"]["where"], "Albums");
  EXPECT_EQ(post("/api/home", "{}"), 200);
  EXPECT_TRUE(state()["photos"]["background"].get<bool>());

  // SIGTERM while an action waits on a stopped Photos: the wait ends, and so
  // does every program.
  ASSERT_EQ(kill(fresh, SIGSTOP), 0);
  std::vector<pid_t> children = childrenOf(server_->pid());
  std::thread waiting([&] {
    httplib::Client own("127.0.0.1", port_);
    own.set_read_timeout(20, 0);
    own.Post("/api/open-photos", "{}", "application/json");
  });
  std::this_thread::sleep_for(milliseconds(1000));
  began = Clock::now();
  kill(server_->pid(), SIGTERM);
  EXPECT_EQ(server_->waitExit(15000), 0);
  EXPECT_LT(Clock::now() - began, seconds(5));
  waiting.join();
  server_.reset();
  for (pid_t child : children) EXPECT_TRUE(gone(child)) << "pid " << child << " is left";
}

TEST_F(ServeTest, SlowClientsStarveNoRequestAndHoldUpNoStop) {
  // A hundred clients that send a header line a second and never finish.
  std::vector<int> fds;
  for (int i = 0; i < 100; ++i) {
    int fd = openWith("GET /api/state HTTP/1.1\r\nHost: " + host() + "\r\n");
    ASSERT_GE(fd, 0) << "client " << i;
    fds.push_back(fd);
  }
  Trickle slow(fds, milliseconds(1000));
  std::this_thread::sleep_for(milliseconds(1500));
  // Another client's whole request is answered at once.
  httplib::Client other("127.0.0.1", port_);
  other.set_connection_timeout(5, 0);
  other.set_read_timeout(5, 0);
  Clock::time_point began = Clock::now();
  auto res = other.Get("/api/state");
  EXPECT_LT(Clock::now() - began, seconds(3));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  // One address holds at most 64 connections: the ones that waited longest
  // made room for the newer.
  int closed = 0;
  for (int fd : slow.fds()) closed += closedByServer(fd);
  EXPECT_GE(closed, 100 - 64);
  // SIGTERM with sixty of them open ends the server at once.
  std::vector<pid_t> children = childrenOf(server_->pid());
  began = Clock::now();
  kill(server_->pid(), SIGTERM);
  EXPECT_EQ(server_->waitExit(15000), 0);
  EXPECT_LT(Clock::now() - began, seconds(5));
  server_.reset();
  for (pid_t child : children) EXPECT_TRUE(gone(child)) << "pid " << child << " is left";
}

TEST_F(ServeTest, ARequestNotSentWholeInTimeIsAnswered408) {
  serveAgain({{"VELMO_SERVE_REQUEST_MS", "2000"}});
  int fd = openWith("GET /api/state HTTP/1.1\r\nHost: " + host() + "\r\n");
  ASSERT_GE(fd, 0);
  std::string got;
  Clock::time_point began = Clock::now();
  {
    Trickle slow({fd}, milliseconds(300));
    char chunk[512];
    pollfd p{fd, POLLIN, 0};
    while (Clock::now() - began < seconds(8) && poll(&p, 1, 200) >= 0) {
      if (!(p.revents & POLLIN)) continue;
      ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n <= 0) break;
      got.append(chunk, static_cast<size_t>(n));
    }
  }  // closes fd
  Clock::duration took = Clock::now() - began;
  EXPECT_EQ(got.rfind("HTTP/1.1 408", 0), 0u) << got;
  EXPECT_GT(took, milliseconds(1500));
  EXPECT_LT(took, seconds(5));
  // A client that sends its request whole is not hurried.
  auto res = client_->Get("/api/state");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST_F(ServeTest, OnlyJsonIsJsonAndATouchAtTheScreensEdgeStaysOnIt) {
  for (const char* type :
       {"application/jsonx", "application/json-patch+json", "application/json; charset=latin1"}) {
    auto res = client_->Post("/api/home", "{}", type);
    ASSERT_TRUE(res) << type;
    EXPECT_EQ(res->status, 415) << type;
    EXPECT_NE(res->body.find("application/json"), std::string::npos) << res->body;
  }
  auto jsonx = client_->Post("/api/home", "{}", "application/jsonx");
  ASSERT_TRUE(jsonx);
  EXPECT_NE(jsonx->body.find("not \\\"application/jsonx\\\""), std::string::npos) << jsonx->body;
  EXPECT_FALSE(state()["photos"]["background"].get<bool>());
  auto utf8 = client_->Post("/api/open-pane", "{}", "application/json; charset=UTF-8");
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->status, 200);
  // Points just inside the right and bottom edges (390x844 points) are on
  // the screen and reach the programs as they are.
  for (const char* body : {R"({"screen":"photos","x":389.99,"y":20.5})",
                           R"({"screen":"settings","x":0.25,"y":843.999})"}) {
    auto res = client_->Post("/api/touch", body, "application/json");
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 200) << body;
    json answer = json::parse(res->body, nullptr, false);
    EXPECT_TRUE(answer.value("ok", false)) << body << " -> " << res->body;
  }
}

TEST_F(ServeTest, SighupEndsTheServerAndAKilledServersFolderGoesWithTheNextStart) {
  namespace fs = std::filesystem;
  // serve keeps its private folder in a temporary folder of this test's.
  const std::string temp = makeTempDirectory("velmo-serve-tmp");
  auto folders = [&] {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(temp, ec)) found.push_back(entry.path());
    return found;
  };
  serveAgain({{"TMPDIR", temp}});
  ASSERT_EQ(folders().size(), 1u);
  const std::string killed = folders().front();
  std::vector<pid_t> children = childrenOf(server_->pid());
  kill(server_->pid(), SIGKILL);
  server_->waitExit(10000);
  server_.reset();
  EXPECT_TRUE(fs::exists(killed));  // nothing could clean it up
  // Its programs end as their input closes.
  EXPECT_TRUE(waitUntil(
      [&] {
        for (pid_t child : children) {
          if (!gone(child)) return false;
        }
        return true;
      },
      15000));

  serve(root_, {{"TMPDIR", temp}});
  EXPECT_FALSE(fs::exists(killed));
  ASSERT_EQ(folders().size(), 1u);
  const std::string own = folders().front();
  children = childrenOf(server_->pid());
  EXPECT_EQ(children.size(), 3u);
  kill(server_->pid(), SIGHUP);
  EXPECT_EQ(server_->waitExit(20000), 0);
  server_.reset();
  EXPECT_FALSE(fs::exists(own));
  for (pid_t child : children) EXPECT_TRUE(gone(child)) << "pid " << child << " is left";
  removeTree(temp);
}

TEST_F(ServeTest, CtrlCAndSigtermEndTheServerAndEveryProgram) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    if (signal == SIGTERM) serve(root_);  // the same device, served again
    std::vector<pid_t> children = childrenOf(server_->pid());
    EXPECT_EQ(children.size(), 3u);  // Photos, Settings, the privacy daemon
    kill(server_->pid(), signal);
    EXPECT_EQ(server_->waitExit(20000), 0);
    server_.reset();
    for (pid_t child : children) {
      EXPECT_TRUE(kill(child, 0) != 0 && errno == ESRCH) << "pid " << child << " is left";
    }
  }
}

}  // namespace
}  // namespace testing_support
