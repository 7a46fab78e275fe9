#include "device/web/connection_table.h"

#include <sys/socket.h>

namespace web {

uint64_t ConnectionTable::admit(int fd, const std::string& peer) {
  std::lock_guard<std::mutex> g(mu_);
  if (closed_) return 0;
  size_t from_peer = 0;
  for (const auto& [id, e] : open_) from_peer += !e.evicted && e.peer == peer;
  if (from_peer >= limits_.per_peer) {
    auto oldest = longestWaiting(peer);
    if (oldest == open_.end()) return 0;
    evict(oldest);
  }
  if (countedLocked() >= limits_.total) {
    auto oldest = longestWaiting("");
    if (oldest == open_.end()) return 0;
    evict(oldest);
  }
  uint64_t id = next_id_++;
  open_.emplace(id, Entry{fd, peer, std::chrono::steady_clock::now(), false, false});
  return id;
}

void ConnectionTable::leave(uint64_t id) {
  std::lock_guard<std::mutex> g(mu_);
  open_.erase(id);
}

void ConnectionTable::awaitRequest(uint64_t id) {
  std::lock_guard<std::mutex> g(mu_);
  auto it = open_.find(id);
  if (it != open_.end()) it->second.request_since = std::chrono::steady_clock::now();
}

void ConnectionTable::setWaiting(uint64_t id, bool waiting) {
  std::lock_guard<std::mutex> g(mu_);
  auto it = open_.find(id);
  if (it != open_.end()) it->second.waiting = waiting;
}

bool ConnectionTable::evicted(uint64_t id) const {
  std::lock_guard<std::mutex> g(mu_);
  auto it = open_.find(id);
  return it != open_.end() && it->second.evicted;
}

void ConnectionTable::close() {
  std::lock_guard<std::mutex> g(mu_);
  closed_ = true;
  for (const auto& [id, e] : open_) shutdown(e.fd, SHUT_RDWR);
}

bool ConnectionTable::closed() const {
  std::lock_guard<std::mutex> g(mu_);
  return closed_;
}

size_t ConnectionTable::size() const {
  std::lock_guard<std::mutex> g(mu_);
  return countedLocked();
}

size_t ConnectionTable::countedLocked() const {
  size_t counted = 0;
  for (const auto& [id, e] : open_) counted += !e.evicted;
  return counted;
}

std::map<uint64_t, ConnectionTable::Entry>::iterator ConnectionTable::longestWaiting(
    const std::string& peer) {
  auto oldest = open_.end();
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    const Entry& e = it->second;
    if (e.evicted || !e.waiting || (!peer.empty() && e.peer != peer)) continue;
    if (oldest == open_.end() || e.request_since < oldest->second.request_since) oldest = it;
  }
  return oldest;
}

void ConnectionTable::evict(std::map<uint64_t, Entry>::iterator it) {
  // Shut for reading only: its thread sees the end of the request and lets
  // the connection go, and an answer it may be writing at this moment (its
  // request was completed just now) still goes out.
  shutdown(it->second.fd, SHUT_RD);
  it->second.evicted = true;
}

}  // namespace web
