// The client connections a WebServer has open, and the limits on them. A
// connection is admitted when it is accepted and leaves when its thread has
// done with it. Limits: at most `per_peer` open connections from one address
// and `total` in all. A connection past a limit takes the place of the one
// of the same address (any address, for the total) that has waited longest
// on its client for a request (a slow or idle client: every byte of a
// request is in at once from a client that means to send it), whose socket
// is shut for reading so that its thread lets it go; when none is waiting,
// the new connection is refused. close() refuses every later connection and
// shuts every open socket at once, which wakes every thread blocked on one.
//
// Ownership: the table does not own the sockets; the thread that admitted a
// connection closes its socket after leave(), so that the table never
// touches a descriptor that was closed and perhaps reused.
// Thread safety: every method may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace web {

class ConnectionTable {
 public:
  struct Limits {
    size_t per_peer = 64;
    size_t total = 256;
  };
  explicit ConnectionTable(Limits limits) : limits_(limits) {}

  // Admits the socket `fd` from `peer` (its address); returns the
  // connection's id, or 0 when it is refused.
  uint64_t admit(int fd, const std::string& peer);
  void leave(uint64_t id);
  // The connection starts waiting for its next request (just accepted, or
  // its last answer sent): its age as a waiting connection starts now.
  void awaitRequest(uint64_t id);
  // Whether the connection's thread is blocked on its client right now;
  // only such a connection is ever closed to make room.
  void setWaiting(uint64_t id, bool waiting);
  // Whether the connection was closed to make room: its thread then answers
  // nothing more on it (the request it was reading ended only as the server
  // shut it, and is no bad request of the client's).
  bool evicted(uint64_t id) const;
  // Refuses new connections and shuts every open one down.
  void close();
  bool closed() const;
  // Open connections, not counting those closed to make room.
  size_t size() const;

 private:
  struct Entry {
    int fd;
    std::string peer;
    std::chrono::steady_clock::time_point request_since;
    bool waiting;
    bool evicted;  // no longer counted; forgotten when its thread leaves
  };
  // The longest-waiting connection from `peer` ("" for any), or end().
  std::map<uint64_t, Entry>::iterator longestWaiting(const std::string& peer);
  // Shuts the connection's socket for reading and stops counting it.
  void evict(std::map<uint64_t, Entry>::iterator it);
  size_t countedLocked() const;

  const Limits limits_;
  mutable std::mutex mu_;
  std::map<uint64_t, Entry> open_;
  uint64_t next_id_ = 1;
  bool closed_ = false;
};

}  // namespace web
