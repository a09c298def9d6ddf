// Tests of the LAN server's socket helpers: what a listening socket takes before its
// accept thread gets to it.
#include "lanserver/socket_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "lanserver/lan_test_support.h"

namespace lan::test {
namespace {

// A burst of connections must fit the listening socket's queue whole while the accept
// thread catches up. One that does not fit has its connection request dropped by the
// kernel and retried a second later (then longer), so a burst of a few hundred clients
// took seconds. Nothing accepts here: the queue alone must hold them.
TEST(ListeningSocket, HoldsABurstOfTwoHundredConnections) {
  constexpr int kBurst = 200;
  int system_limit = 0;
  std::ifstream("/proc/sys/net/core/somaxconn") >> system_limit;
  if (system_limit < kBurst) GTEST_SKIP() << "the system caps listen queues at " << system_limit;
  LanEnvironment environment;
  int listener = OpenListener(static_cast<uint16_t>(environment.base()), kListenBacklog, false);
  ASSERT_GE(listener, 0);
  std::vector<int> clients;
  for (int i = 0; i < kBurst; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    clients.push_back(fd);
    // Bounds the wait of a request the queue drops (the kernel would retry it for
    // minutes); one the queue takes completes at once on the loopback interface.
    timeval bound{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof(bound));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(environment.base()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ASSERT_EQ(0, result) << "connection " << i << ": " << std::strerror(errno);
  }
  for (int fd : clients) close(fd);
  close(listener);
}

}  // namespace
}  // namespace lan::test
