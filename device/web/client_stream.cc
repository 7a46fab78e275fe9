#include "device/web/client_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace web {
namespace {

int remainingMs(std::chrono::steady_clock::time_point until) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  until - std::chrono::steady_clock::now())
                  .count();
  return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 60 * 60 * 1000));
}

void addressOf(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

const std::string& timedOutAnswer() {
  static const std::string answer = [] {
    std::string body = R"({"error":"the request was not sent whole in time"})";
    return "HTTP/1.1 408 Request Timeout\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }();
  return answer;
}

}  // namespace

std::string peerAddress(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  std::string ip;
  int port = 0;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    addressOf(address, ip, port);
  }
  return ip.empty() ? "?" : ip;
}

ClientStream::ClientStream(int fd, ConnectionTable& table, uint64_t id, Timeouts timeouts)
    : fd_(fd), table_(table), id_(id), timeouts_(timeouts), deadline_(Clock::now()) {}

short ClientStream::waitFor(short events, Clock::time_point until) const {
  pollfd p{fd_, events, 0};
  table_.setWaiting(id_, true);
  int r;
  do {
    r = poll(&p, 1, remainingMs(until));
  } while (r < 0 && errno == EINTR);
  table_.setWaiting(id_, false);
  return r > 0 ? p.revents : 0;
}

bool ClientStream::awaitRequest(std::chrono::milliseconds timeout) {
  if (begin_ < end_) return true;
  return waitFor(POLLIN, Clock::now() + timeout) != 0;
}

void ClientStream::beginRequest() {
  deadline_ = Clock::now() + timeouts_.request;
  timed_out_ = false;
  wrote_ = false;
}

bool ClientStream::is_readable() const {
  if (begin_ < end_) return true;
  if (timed_out_) return false;
  return waitFor(POLLIN, std::min(deadline_, Clock::now() + timeouts_.idle)) != 0;
}

bool ClientStream::is_writable() const {
  if (timed_out_ || evicted_) return false;
  short revents = waitFor(POLLOUT, Clock::now() + timeouts_.write);
  return (revents & POLLOUT) && !(revents & (POLLERR | POLLHUP));
}

ssize_t ClientStream::read(char* ptr, size_t size) {
  if (begin_ == end_) {
    if (timed_out_) return -1;
    while (true) {
      Clock::time_point until = std::min(deadline_, Clock::now() + timeouts_.idle);
      if (waitFor(POLLIN, until) == 0) {
        timeOut();
        return -1;
      }
      ssize_t n = recv(fd_, buffer_, sizeof buffer_, MSG_DONTWAIT);
      if (n > 0) {
        begin_ = 0;
        end_ = static_cast<size_t>(n);
        break;
      }
      if (n == 0) {
        // The client's end, or the socket shut by the table.
        evicted_ = table_.evicted(id_);
        return 0;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    }
  }
  size_t n = std::min(size, end_ - begin_);
  std::memcpy(ptr, buffer_ + begin_, n);
  begin_ += n;
  return static_cast<ssize_t>(n);
}

ssize_t ClientStream::write(const char* ptr, size_t size) {
  if (timed_out_ || evicted_) return -1;
  while (true) {
    ssize_t n = send(fd_, ptr, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      wrote_ = wrote_ || n > 0;
      return n;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    short revents = waitFor(POLLOUT, Clock::now() + timeouts_.write);
    if (!(revents & POLLOUT) || (revents & (POLLERR | POLLHUP))) return -1;
  }
}

void ClientStream::timeOut() {
  timed_out_ = true;
  // An answer already begun cannot be replaced; the connection just ends.
  if (!wrote_) {
    const std::string& answer = timedOutAnswer();
    ssize_t n = send(fd_, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    (void)n;  // best effort: the connection ends either way
  }
}

void ClientStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    addressOf(address, ip, port);
  }
}

void ClientStream::get_local_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    addressOf(address, ip, port);
  }
}

}  // namespace web
