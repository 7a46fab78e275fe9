// The HTTP side of `velmo-device serve`: the page (plain HTML, CSS and
// JavaScript read from a folder of the build) and the small JSON API it
// uses, for one DeviceSession. It listens on 127.0.0.1 only and checks every
// request: an unknown path is 404, a known path asked with another method
// 405, a body over 16 KiB 413, a body without a Content-Length (chunked, say)
// 411, a POST not typed application/json 415, a body that is not the JSON its
// action takes 400, a request naming another host or coming from another
// site's page 403. Updates reach the page as server-sent events, one "state"
// event after every change; past 16 open streams a new one is 503.
//
// Slow clients: each connection has a thread of its own (ConnectionThreads);
// a request must be read whole within a deadline (ClientStream, 408 past
// it); one address may hold at most 64 connections and all together 256
// (ConnectionTable: past a limit, the connection that has waited longest on
// its client is closed to make room, or the new one is refused with 503).
// So clients that send a request a byte or a line at a time neither starve
// another client's complete request nor hold the server for long. stop()
// shuts every client's socket at once.
//
// Ownership: the server borrows the session, which must outlive it.
// Thread safety: run() blocks the calling thread; stop() may be called from
// any thread. A stop() before run() makes run() return at once; one while
// run() is starting may come before the server listens and be lost, so a
// caller that must end the server calls stop() until run() has returned.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "device/web/device_session.h"

namespace web {

class GuardedServer;

class WebServer {
 public:
  struct Options {
    // The time a client has to send a whole request (line, headers, body).
    std::chrono::milliseconds request_timeout{10000};
  };
  WebServer(DeviceSession& session, std::string page_folder, Options options);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds 127.0.0.1:`port` (0 for any free port). Returns the port, or -1
  // with the reason in `error`.
  int bind(int port, std::string* error);
  // Serves until stop().
  void run();
  void stop();

 private:
  void routes();

  DeviceSession& session_;
  const std::string page_folder_;
  std::unique_ptr<GuardedServer> server_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> event_streams_{0};  // open /api/events streams
  int port_ = -1;
};

}  // namespace web
