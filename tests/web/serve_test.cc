// velmo-device serve as a process, asked over HTTP on 127.0.0.1: every kind
// of bad request gets its status and leaves the device working; open event
// streams and a slow program leave the server answering; a program that dies
// is reported and can be started again; Ctrl-C or SIGTERM ends the server and
// every program it started.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tests/support/device_fixture.h"

namespace testing_support {
namespace {

using nlohmann::json;

class ServeTest : public DeviceTest {
 protected:
  void SetUp() override {
    root_ = makeTempDirectory("velmo-serve-test");
    serve(root_);
  }
  // Starts the server on `device` (made by serve when it holds none).
  void serve(const std::string& device) {
    server_ = std::make_unique<DeviceProcess>(
        std::vector<std::string>{program(), "serve", "--root", device, "--port", "0"});
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
  int sendHead(const std::string& head) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string text = head + "Host: " + host() + "\r\n\r\n";
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      if (fd >= 0) close(fd);
      return -1;
    }
    return fd;
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
