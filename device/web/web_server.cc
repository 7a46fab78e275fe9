#include "device/web/web_server.h"

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <utility>
#include <vector>

#include "device/web/client_stream.h"
#include "device/web/connection_table.h"
#include "device/web/connection_threads.h"
#include "device/web/request_checks.h"

namespace web {
namespace {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

// Open connections: from one address, and in all. A page keeps one for its
// events and the browser a few more for its requests.
constexpr ConnectionTable::Limits kConnectionLimits{64, 256};
// Threads for connections: one per open connection, and a few more that
// refuse connections past the limits at once.
constexpr size_t kThreads = kConnectionLimits.total + 16;
// Event streams at once. Each holds one of the threads while it is open, so
// without a cap enough open streams leave no thread for any other request.
constexpr int kMaxEventStreams = 16;
// An events stream that has sent nothing for this long sends a comment, so
// that a closed tab is noticed and its connection let go.
constexpr auto kKeepAlive = std::chrono::seconds(15);

const char* reasonOf(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 403:
      return "forbidden: the page is served to this machine only";
    case 404:
      return "no such path";
    case 405:
      return "method not allowed";
    case 411:
      return "the request must give its body's length (Content-Length); "
             "Transfer-Encoding is not taken";
    case 413:
      return "the request body is larger than 16 KiB";
    case 415:
      return "the body must be JSON (Content-Type: application/json)";
    case 503:
      return "too many event streams are open; try again later";
    default:
      return "error";
  }
}

void replyJson(Response& res, int status, const json& body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(), "application/json");
}

void replyError(Response& res, int status, const std::string& reason) {
  replyJson(res, status, {{"error", reason}});
}

void replyOutcome(Response& res, const Outcome& o) {
  replyJson(res, o.status, {{"ok", o.ok}, {"message", o.message}});
}

std::string readFile(const std::string& path, bool* found) {
  std::ifstream in(path, std::ios::binary);
  *found = static_cast<bool>(in);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every path the server knows and the one method it takes there.
using KnownPaths = std::vector<std::pair<std::regex, std::string>>;

Screen screenNamed(const std::string& name) {
  return name == "photos" ? Screen::kPhotos : Screen::kSettings;
}

// Answers a connection past the limits, without reading its request.
void refuseBusy(int fd) {
  std::string body =
      json{{"error", "too many connections from this address; try again later"}}.dump();
  std::string answer =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
      "Content-Length: " +
      std::to_string(body.size()) + "\r\nConnection: close\r\nRetry-After: 5\r\n\r\n" + body;
  ssize_t n = send(fd, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  (void)n;  // best effort: the connection ends either way
}

}  // namespace

// The library's server, with its connections run through a ConnectionTable
// and ClientStreams instead of its own sockets' streams. The library calls
// process_and_close_socket on a queue thread for each accepted connection.
class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(ClientStream::Timeouts timeouts)
      : timeouts_(timeouts), table_(kConnectionLimits) {}

  // The library listens with a backlog of 5: a burst of connections would
  // find the queue full and wait a second to try again.
  void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
  // Shuts every client's socket; the library's stop() ends the listening.
  void closeClients() { table_.close(); }

 private:
  bool process_and_close_socket(int sock) override {
    bool ok = false;
    uint64_t id = table_.admit(sock, peerAddress(sock));
    if (id == 0) {
      if (!table_.closed()) {
        refuseBusy(sock);
      }
    } else {
      ClientStream stream(sock, table_, id, timeouts_);
      // As the library's own loop: keep-alive requests on one connection,
      // up to a number, each awaited for a while.
      for (size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
        table_.awaitRequest(id);
        if (!stream.awaitRequest(std::chrono::seconds(keep_alive_timeout_sec_))) break;
        stream.beginRequest();
        bool closed = false;
        ok = process_request(stream, left == 1, closed, nullptr);
        if (!ok || closed || stream.timedOut()) break;
      }
      table_.leave(id);
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return ok;
  }

  const ClientStream::Timeouts timeouts_;
  ConnectionTable table_;
};

WebServer::WebServer(DeviceSession& session, std::string page_folder, Options options)
    : session_(session),
      page_folder_(std::move(page_folder)),
      server_(std::make_unique<GuardedServer>(ClientStream::Timeouts{options.request_timeout})) {
  server_->new_task_queue = [] { return new ConnectionThreads(kThreads); };
  server_->set_payload_max_length(kMaxBodyBytes);
  routes();
}

WebServer::~WebServer() { stop(); }

int WebServer::bind(int port, std::string* error) {
  bool bound = port == 0 ? (port_ = server_->bind_to_any_port("127.0.0.1")) > 0
                         : server_->bind_to_port("127.0.0.1", port_ = port);
  if (!bound) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) +
             (port == 0 ? "" : " (is another server using the port?)");
    return -1;
  }
  server_->widenBacklog();
  return port_;
}

void WebServer::run() {
  if (!stopping_) server_->listen_after_bind();
}

void WebServer::stop() {
  stopping_ = true;
  server_->closeClients();
  server_->stop();
}

void WebServer::routes() {
  httplib::Server& s = *server_;
  // Filled as the routes below are registered, read by the method check.
  auto known = std::make_shared<KnownPaths>();

  // Checked before routing, so before any body is read; the connection then
  // closes, as the body it may still carry is not wanted.
  s.set_pre_routing_handler([this, known](const Request& req, Response& res) {
    using httplib::Server;
    auto refuse = [&res](int status, const std::string& reason) {
      res.set_header("Connection", "close");
      replyError(res, status, reason);
      return Server::HandlerResponse::Handled;
    };
    std::string port = ":" + std::to_string(port_);
    auto isOwnHost = [&port](const std::string& host) {
      return host == "127.0.0.1" + port || host == "localhost" + port;
    };
    // A request that names another host reaches this server only through a
    // name that was made to point here (DNS rebinding).
    if (req.has_header("Host") && !isOwnHost(req.get_header_value("Host"))) {
      return refuse(403, reasonOf(403));
    }
    // A page of another site or origin may send requests here (a form, or a
    // fetch whose answer it cannot read, which still acts); the browser
    // names where they come from. Only this server's own page may use it.
    std::string origin = req.get_header_value("Origin");
    std::string fetch_site = req.get_header_value("Sec-Fetch-Site");
    if ((req.has_header("Origin") &&
         (origin.rfind("http://", 0) != 0 || !isOwnHost(origin.substr(7)))) ||
        (req.has_header("Sec-Fetch-Site") && fetch_site != "same-origin" && fetch_site != "none")) {
      return refuse(403, "forbidden: only the page this server serves may use it");
    }
    // httplib limits a body only by its Content-Length: a chunked body, or
    // one read to the connection's end, would be read whole, however large.
    if (req.has_header("Transfer-Encoding")) return refuse(411, reasonOf(411));
    // A known path asked with a method it does not take.
    for (const auto& [pattern, allowed] : *known) {
      if (!std::regex_match(req.path, pattern)) continue;
      std::string method = req.method == "HEAD" ? "GET" : req.method;
      if (method != allowed) {
        res.set_header("Allow", allowed);
        return refuse(405, reasonOf(405));
      }
      break;
    }
    if (req.method != "GET" && req.method != "HEAD" && !req.has_header("Content-Length")) {
      return refuse(411, reasonOf(411));
    }
    return Server::HandlerResponse::Unhandled;
  });
  s.set_error_handler([](const Request&, Response& res) {
    if (res.body.empty()) {
      res.set_content(json{{"error", reasonOf(res.status)}}.dump(), "application/json");
    }
  });

  // Every route is registered through these, which note its method for the
  // check above.
  auto get = [&s, known](const std::string& pattern, httplib::Server::Handler handler) {
    known->emplace_back(std::regex(pattern), "GET");
    s.Get(pattern, std::move(handler));
  };
  auto post = [&s, known](const std::string& pattern, httplib::Server::Handler handler) {
    known->emplace_back(std::regex(pattern), "POST");
    s.Post(pattern, std::move(handler));
  };

  // The page.
  auto file = [this, &get](const std::string& pattern, const std::string& name,
                           const std::string& type) {
    get(pattern, [this, name, type](const Request&, Response& res) {
      bool found = false;
      std::string content = readFile(page_folder_ + "/" + name, &found);
      if (!found) {
        replyError(res, 500, "the page's file " + name + " is missing from " + page_folder_);
        return;
      }
      res.set_header("Cache-Control", "no-store");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' data:");
      res.set_content(content, type);
    });
  };
  file("/", "index.html", "text/html; charset=utf-8");
  file(R"(/app\.js)", "app.js", "text/javascript; charset=utf-8");
  file(R"(/style\.css)", "style.css", "text/css; charset=utf-8");

  // What the page reads.
  get("/api/state", [this](const Request&, Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(session_.stateJson(), "application/json");
  });

  get("/api/events", [this](const Request&, Response& res) {
    if (event_streams_.fetch_add(1) >= kMaxEventStreams) {
      event_streams_.fetch_sub(1);
      res.set_header("Retry-After", "5");
      replyError(res, 503, reasonOf(503));
      return;
    }
    res.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<uint64_t>(0);
    auto quiet_since =
        std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen, quiet_since](size_t, httplib::DataSink& sink) {
          if (stopping_) return false;
          uint64_t now = session_.waitForChange(*seen, std::chrono::seconds(1));
          if (stopping_) return false;
          std::string message;
          if (now != *seen) {
            *seen = now;
            message = "event: state\ndata: " + session_.stateJson() + "\n\n";
          } else if (std::chrono::steady_clock::now() - *quiet_since > kKeepAlive) {
            message = ": still here\n\n";
          } else {
            return true;
          }
          *quiet_since = std::chrono::steady_clock::now();
          return sink.write(message.data(), message.size());
        },
        // Called when the response is done with, however the stream ended.
        [this](bool) { event_streams_.fetch_sub(1); });
  });

  const std::string screen_path = R"(/screen/(photos|settings)\.png)";
  get(screen_path, [this](const Request& req, Response& res) {
    std::string png = session_.screenPng(screenNamed(req.matches[1]));
    if (png.empty()) {
      replyError(res, 404, "that screen is not drawn (its program is not running)");
      return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(png, "image/png");
  });

  const std::string views_path = R"(/api/views/(photos|settings))";
  get(views_path, [this](const Request& req, Response& res) {
    std::string text;
    Outcome o = session_.views(screenNamed(req.matches[1]), &text);
    if (o.status != 200 || !o.ok) {
      replyOutcome(res, o);
      return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(text, "text/plain; charset=utf-8");
  });

  // Actions: a JSON body, checked, then one command (or a few) to a program.
  using Action = std::function<Outcome(const std::string& body, std::string* refused)>;
  auto action = [&post](const std::string& path, Action act) {
    post(path, [act](const Request& req, Response& res) {
      // Also when empty: a form of another site cannot send this type.
      if (std::string wrong = checkJsonType(req.get_header_value("Content-Type")); !wrong.empty()) {
        replyError(res, 415, wrong);
        return;
      }
      std::string refused;
      Outcome o = act(req.body, &refused);
      if (!refused.empty()) {
        replyError(res, 400, refused);
        return;
      }
      replyOutcome(res, o);
    });
  };
  action("/api/touch", [this](const std::string& body, std::string* refused) {
    TouchRequest t;
    if (!(*refused = parseTouch(body, &t)).empty()) return Outcome{};
    Outcome o = session_.touch(t.screen, t.x, t.y);
    if (o.status == 400) *refused = o.message;
    return o;
  });
  action("/api/home", [this](const std::string& body, std::string* refused) {
    if (!(*refused = parseNothing(body)).empty()) return Outcome{};
    return session_.home();
  });
  action("/api/open-photos", [this](const std::string& body, std::string* refused) {
    if (!(*refused = parseNothing(body)).empty()) return Outcome{};
    return session_.openPhotos();
  });
  action("/api/open-pane", [this](const std::string& body, std::string* refused) {
    if (!(*refused = parseNothing(body)).empty()) return Outcome{};
    return session_.openVelmoPane();
  });
  action("/api/count", [this](const std::string& body, std::string* refused) {
    long long value = 0;
    if (!(*refused = parseCount(body, &value)).empty()) return Outcome{};
    return session_.setCount(value);
  });
  action("/api/answer", [this](const std::string& body, std::string* refused) {
    AnswerRequest a;
    if (!(*refused = parseAnswer(body, &a)).empty()) return Outcome{};
    switch (a.how) {
      case AnswerRequest::How::kPasscode:
        return session_.answerPasscode(a.code);
      case AnswerRequest::How::kFace:
        return session_.answerFace();
      case AnswerRequest::How::kCancel:
        break;
    }
    return session_.answerCancel();
  });
  action("/api/start", [this](const std::string& body, std::string* refused) {
    Program p = Program::kPhotos;
    if (!(*refused = parseProgram(body, &p)).empty()) return Outcome{};
    return session_.startProgram(p);
  });
}

}  // namespace web
