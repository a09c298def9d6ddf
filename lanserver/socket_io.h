// Socket helpers of the LAN server: a listening socket on the configured address, an
// accept that a stop can interrupt, and sends and receives on non-blocking sockets
// that wait for readiness with poll instead of spinning. A transfer that makes no
// progress for `attempts` waits of `wait_ms` each is given up, so a stalled client
// cannot hold a server thread forever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace lan {

// The backlog of every listening socket of the server: as deep as the system allows,
// so that a burst of connections waits in the queue for the accept thread. With a
// short queue (it was 24) the kernel drops the connection requests that do not fit,
// and each client so dropped waits a second or more before it retries.
inline constexpr int kListenBacklog = SOMAXCONN;

// What a client receives when the server takes a step with it: ACK and a line feed
// (the greeting of the command socket, each step of the event socket handshake).
inline constexpr char kAcknowledge[2] = {0x06, 0x0A};

// How long a transfer may stall: `attempts` waits in a row of `wait_ms` milliseconds
// each that bring no progress end it.
struct StallBound {
  int wait_ms;
  int attempts;
};

// Opens a TCP listening socket on the platform's bind address and `port` with
// SO_REUSEADDR (and SO_KEEPALIVE when asked). Returns the descriptor, or -errno; a
// failing call is explained on standard output. The socket is non-blocking, so an
// accept after a wake-up never hangs on a connection that went away meanwhile.
int OpenListener(uint16_t port, int backlog, bool keepalive);

// A wait that a stop ended: `stop_fd` became readable or the running flag was cleared.
inline constexpr int kStopped = -2;

// Waits for a connection on `listen_fd` (or a stop) and accepts it. Returns the new
// descriptor, -1 when accept failed (errno set), or kStopped.
int AcceptConnection(int listen_fd, int stop_fd, sockaddr_in* address, socklen_t* length);

// Sleeps `ms` milliseconds unless a stop comes first; false on a stop. A server thread
// pauses so after a failed accept, so that a lasting failure (no descriptors left)
// does not make it spin.
bool PauseUnlessStopped(int stop_fd, int ms);
inline constexpr int kAcceptRetryMs = 100;

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT), or a stop. `stop_fd` may
// be -1. Returns 1 ready, 0 time-out, -1 poll failed (errno set), or kStopped.
int WaitReady(int fd, short events, int stop_fd, int timeout_ms);

// Sends all `length` bytes (MSG_NOSIGNAL), continuing partial sends once the socket is
// writable again. Ends early when the peer is gone, on a stop, or when the bound runs
// out. Returns the count sent, or -1 when nothing was sent and send failed.
ssize_t SendAll(int fd, const void* data, std::size_t length, int stop_fd, StallBound bound);

// Receives exactly `length` bytes into `data` unless the peer closes, fails, a stop
// comes or the bound runs out. `data` null discards them. Returns the count received.
std::size_t ReceiveAll(int fd, void* data, std::size_t length, int stop_fd, StallBound bound);

// Sets O_NONBLOCK. 0, or -1 (errno set).
int SetNonBlocking(int fd);

}  // namespace lan
