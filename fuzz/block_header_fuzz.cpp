// Fuzz target for the raw port's transfer commands ("**READ <count>", "**WRITE <count>")
// and the block bytes that follow them: the input is what one client sends to a raw
// socket server running in this process on a loopback port. The target plays the
// router (it takes the queued chunks and reports each one done) and reads whatever the
// port sends back, until the port has seen the client leave. With the block filled
// with one byte value and no write in the input, the port may send nothing but that
// value; with no transfer command in the input, what reaches the router is the input.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/ieee_client.h"
#include "core/run_state.h"
#include "core/server_threads.h"
#include "core/shared_block.h"
#include "lanserver/lan_hooks.h"
#include "lanserver/raw_sock_svr.h"
#include "platform/test_support.h"

namespace {

constexpr std::size_t kLongestInput = 4096;
constexpr unsigned char kBlockByte = 0xA5;
// A port that has not seen the client leave by then hangs.
constexpr auto kLongestRun = std::chrono::seconds(5);

void Fail(const char* what) {
  std::fprintf(stderr, "block_header: %s\n", what);
  std::abort();
}

struct RawPort {
  platform::TempFolder root;
  ServerThreads threads;
  lan::RawSockSvr server;
  SharedBlock block;
  uint16_t port = 0;
};
RawPort* g_raw = nullptr;

// A loopback port the kernel has just handed out, so free.
uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Fail("no free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

int Connect(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::perror("block_header: connect");
    Fail("cannot connect to the raw port");
  }
  // Closed with a reset rather than left in TIME_WAIT: a run connects hundreds of times a
  // second, and the loopback's ephemeral ports would run out within a minute.
  linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
  return fd;
}

bool Contains(std::string_view input, std::string_view word) {
  return input.find(word) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("freopen");
  g_raw = new RawPort;
  if (g_raw->root.path().empty()) Fail("no temporary root");
  setenv("CHASSIS_ROOT", g_raw->root.path().c_str(), 1);
  setenv("CHASSIS_BIND_ADDR", "127.0.0.1", 1);
  if (InstallStopHandlers() != 0) Fail("stop handlers");
  g_raw->port = FreePort();
  if (g_raw->server.Start(g_raw->port, g_raw->threads, nullptr, nullptr) != 0) Fail("Start");
  if (g_raw->threads.Start([] { g_raw->server.PollLoop(); }) != 0) Fail("poller");
  if (g_raw->block.Attach() != 0) Fail("shared block");
  // The stop's empty SIGALRM handler has taken the place of libFuzzer's, whose timer
  // still raises SIGALRM every few seconds: this thread, the client, must not have its
  // connect or send cut short by it. The port's threads, started above with SIGALRM
  // open, take it as the spurious wake-up they are made for.
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  if (pthread_sigmask(SIG_BLOCK, &alarm, nullptr) != 0) Fail("sigmask");
  std::atexit([] {
    RequestStop();
    g_raw->threads.JoinAll();
    g_raw->server.CleanupClientCol();
    SharedBlock::Unlink();
    delete g_raw;
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::memset(g_raw->block.Address(), kBlockByte, SHARED_BLOCK_SIZE);

  const int fd = Connect(g_raw->port);
  for (std::size_t sent = 0; sent < size;) {
    ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) Fail("send");  // the socket buffers hold a whole input
    sent += static_cast<std::size_t>(n);
  }
  shutdown(fd, SHUT_WR);

  // Until the port has queued the marker that follows a leaving client's last chunk.
  std::string routed;
  std::size_t received = 0;
  bool foreign_byte = false;
  bool left = false;
  const auto give_up = std::chrono::steady_clock::now() + kLongestRun;
  while (!left) {
    if (std::chrono::steady_clock::now() > give_up) Fail("the client's leaving is never seen");
    while (std::unique_ptr<InboundChunk> chunk = g_raw->server.inbound()->PopEntry()) {
      IEEE_Client* client = InboundChunkClient(*chunk);
      if (client == nullptr) {
        left = true;
        continue;
      }
      if (chunk->user_length > kInboundChunkBytes) Fail("a chunk longer than its text");
      routed.append(chunk->text, chunk->user_length);
      lan::ChunkDone(client, client->pending_chunks.fetch_sub(1) - 1);
    }
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, 1) <= 0) continue;
    char bytes[65536];
    ssize_t n = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    for (ssize_t i = 0; i < n; ++i) {
      if (static_cast<unsigned char>(bytes[i]) != kBlockByte) foreign_byte = true;
    }
    if (n > 0) received += static_cast<std::size_t>(n);
  }
  close(fd);

  const bool reads = Contains(input, "**READ");
  const bool writes = Contains(input, "**WRITE");
  if (routed.size() > size) Fail("more bytes routed than sent");
  if (!reads && received > 0) Fail("block bytes sent without a read");
  if (!writes && foreign_byte) Fail("the port sent a byte that is not the block's");
  if (!reads && !writes && routed != input) Fail("program message bytes changed on the way");
  return 0;
}
