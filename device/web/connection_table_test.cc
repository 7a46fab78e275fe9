#include "device/web/connection_table.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace web {
namespace {

// A connected pair of sockets: the server's end goes to the table, the
// client's end shows whether the server's was shut.
struct Pair {
  Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds); }
  ~Pair() {
    close(fds[0]);
    close(fds[1]);
  }
  int server() const { return fds[0]; }
  // Whether the server's end reads its end: shut for reading, or wholly.
  bool shutForReading() const {
    char byte;
    return recv(fds[0], &byte, 1, MSG_DONTWAIT) == 0;
  }
  int fds[2] = {-1, -1};
};

TEST(ConnectionTable, PastAnAddressesCapTheLongestWaitingConnectionMakesRoom) {
  ConnectionTable table({3, 100});
  Pair a, b, c, d, e, other;
  uint64_t ida = table.admit(a.server(), "10.0.0.1");
  uint64_t idb = table.admit(b.server(), "10.0.0.1");
  uint64_t idc = table.admit(c.server(), "10.0.0.1");
  ASSERT_NE(ida, 0u);
  ASSERT_NE(idb, 0u);
  ASSERT_NE(idc, 0u);
  // Another address has room of its own.
  EXPECT_NE(table.admit(other.server(), "10.0.0.2"), 0u);
  // None of the three is waiting on its client (all being answered): the
  // fourth is refused and nothing is closed.
  EXPECT_EQ(table.admit(d.server(), "10.0.0.1"), 0u);
  EXPECT_FALSE(a.shutForReading() || b.shutForReading() || c.shutForReading());
  // b and c wait on their clients, b since longer: b makes room.
  table.setWaiting(idb, true);
  table.setWaiting(idc, true);
  table.awaitRequest(idc);
  uint64_t idd = table.admit(d.server(), "10.0.0.1");
  EXPECT_NE(idd, 0u);
  EXPECT_TRUE(b.shutForReading());
  EXPECT_TRUE(table.evicted(idb));
  EXPECT_FALSE(table.evicted(idc));
  EXPECT_FALSE(a.shutForReading());
  EXPECT_FALSE(c.shutForReading());
  EXPECT_EQ(table.size(), 4u);
  // b's thread lets it go later; that changes nothing for the others.
  table.leave(idb);
  EXPECT_EQ(table.size(), 4u);
  // A connection that left frees its place.
  table.leave(ida);
  EXPECT_NE(table.admit(e.server(), "10.0.0.1"), 0u);
}

TEST(ConnectionTable, TheTotalCapCountsEveryAddress) {
  ConnectionTable table({10, 2});
  Pair a, b, c;
  uint64_t ida = table.admit(a.server(), "10.0.0.1");
  ASSERT_NE(table.admit(b.server(), "10.0.0.2"), 0u);
  EXPECT_EQ(table.admit(c.server(), "10.0.0.3"), 0u);
  table.setWaiting(ida, true);
  EXPECT_NE(table.admit(c.server(), "10.0.0.3"), 0u);
  EXPECT_TRUE(a.shutForReading());
}

TEST(ConnectionTable, CloseShutsEveryOpenSocketAndRefusesLaterOnes) {
  ConnectionTable table({10, 10});
  std::vector<Pair> pairs(5);
  for (Pair& p : pairs) ASSERT_NE(table.admit(p.server(), "127.0.0.1"), 0u);
  table.close();
  EXPECT_TRUE(table.closed());
  for (Pair& p : pairs) {
    EXPECT_TRUE(p.shutForReading());
    // Shut for writing too: the client reads the end of the connection.
    char byte;
    EXPECT_EQ(recv(p.fds[1], &byte, 1, MSG_DONTWAIT), 0);
  }
  Pair late;
  EXPECT_EQ(table.admit(late.server(), "127.0.0.1"), 0u);
}

}  // namespace
}  // namespace web
