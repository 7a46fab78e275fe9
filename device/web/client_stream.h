// One client connection of the WebServer as the HTTP library reads and
// writes it. Reading a request has a total deadline, set when its first byte
// can be read: a client that sends its request a byte or a line at a time
// cannot hold the connection (and its thread) past it, whatever the gaps
// between its bytes. Past the deadline the client gets 408 and the
// connection ends. Every wait on the client is marked in the ConnectionTable,
// so that the table can tell a connection waiting on its client from one
// being answered.
//
// Ownership: borrows the socket and the table; the caller closes the socket.
// Thread safety: one thread (the connection's) uses a ClientStream.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "device/web/connection_table.h"

namespace web {

// The address of the socket's peer ("127.0.0.1"), or "?".
std::string peerAddress(int fd);

class ClientStream : public httplib::Stream {
 public:
  struct Timeouts {
    std::chrono::milliseconds request{10000};  // reading a whole request
    std::chrono::milliseconds idle{5000};      // no byte at all, within a request
    std::chrono::milliseconds write{5000};     // the client takes no byte of the answer
  };
  ClientStream(int fd, ConnectionTable& table, uint64_t id, Timeouts timeouts);

  // Waits up to `timeout` for the next request to begin (a byte, or the
  // client's end); false when none comes or the socket was shut.
  bool awaitRequest(std::chrono::milliseconds timeout);
  // The request that begins now must be read by the deadline.
  void beginRequest();
  // Whether the last request ran out of time (and was answered 408).
  bool timedOut() const { return timed_out_; }

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  int socket() const override { return fd_; }

 private:
  using Clock = std::chrono::steady_clock;
  // Polls the socket for `events` until `until`, marked as waiting on the
  // client; the revents, or 0 on timeout.
  short waitFor(short events, Clock::time_point until) const;
  // Answers 408 and ends what the library writes after it.
  void timeOut();

  const int fd_;
  ConnectionTable& table_;
  const uint64_t id_;
  const Timeouts timeouts_;
  Clock::time_point deadline_;
  bool timed_out_ = false;
  bool evicted_ = false;  // closed to make room: nothing more is written
  bool wrote_ = false;    // any byte of this request's answer
  char buffer_[4096];
  size_t begin_ = 0, end_ = 0;  // unread bytes in buffer_
};

}  // namespace web
