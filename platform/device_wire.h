// The wire protocol between the platform layer and the device server, over the Unix
// socket that stands at a device node's place under CHASSIS_ROOT.
//
// Every message is one fixed header followed by `size` payload bytes; requests and
// replies have the same header. A connection carries one request at a time and its
// reply, in order. One open descriptor may own several connections, so that a thread
// blocked waiting on the device does not hold up another thread using it: the first
// connection opens the device (kOpen answers a session id), later ones join that
// session (kAttach). Blocking is done by the client: reads, writes and ioctls never
// wait in the server; an answer of -EAGAIN makes the client send kPoll, which the
// server holds until the device has changed since the attempt (kWait; the -EAGAIN
// reply carries the device's change generation in `request`) or is ready (kPoll). A
// client that stops waiting sends kCancel, which ends the held request at once; the
// held request's reply is the only one sent.
//
// Both ends run on the same machine, so fields are in host byte order.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::wire {

enum Op : uint32_t {
  kOpen = 0x01,         // request = open flags              -> value = session id
  kAttach = 0x02,       // request = session id              -> value = 0
  kClose = 0x03,        //                                   -> value = 0
  kRead = 0x04,         // value = most bytes wanted         -> payload, value = count
  kWrite = 0x05,        // payload = bytes                   -> value = count
  kIoctl = 0x06,        // request, payload = argument       -> payload = argument, value
  kIoctlValue = 0x07,   // request, value = argument         -> value
  kPoll = 0x08,         // request = events, value = ms (<0: no limit) -> value = revents
  kWait = 0x0F,         // request = generation: held until the device changes -> value = 0
  kCancel = 0x09,       // no reply of its own
  kMapWindow = 0x0A,    // request = physical base, value = length -> value = 0
  kRegRead16 = 0x0B,    // request = offset                  -> request = data, value = 0
  kRegRead32 = 0x0C,
  kRegWrite16 = 0x0D,   // request = offset, value = data    -> value = 0
  kRegWrite32 = 0x0E,
  // request, value = argument size, payload = the arguments one after the other
  //   -> payload = the arguments, request = how many succeeded, value = 0 or the
  //      failing one's -errno (the rest were not tried)
  kIoctlSequence = 0x10,
};

struct Header {
  uint32_t op;
  uint32_t size;     // payload bytes that follow
  uint64_t request;  // request code, flags, session id, offset or register data
  int64_t value;     // argument in requests; the result (>= 0, or -errno) in replies
};
static_assert(sizeof(Header) == 24, "the header has no padding");

// Largest payload of one message: bigger reads and writes are cut to it and return
// the smaller count, as a driver may do; bigger ioctl arguments are refused (EINVAL).
inline constexpr uint32_t kMaxPayload = 1u << 20;

// The address of the Unix socket at `path`. A path too long for a socket address
// (a deep root) is reached through its folder, held open for the address's life:
// "/proc/self/fd/<folder>/<name>". `error` is 0, or -errno when neither fits.
class SocketAddress {
 public:
  explicit SocketAddress(const std::string& path);
  ~SocketAddress();
  SocketAddress(const SocketAddress&) = delete;
  SocketAddress& operator=(const SocketAddress&) = delete;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t size() const { return sizeof address_; }
  int error() const { return error_; }

 private:
  sockaddr_un address_{};
  int folder_fd_ = -1;
  int error_ = 0;
};

// Sends one message whole (a signal does not cut it). 0, or -errno.
int SendMessage(int fd, const Header& header, const void* payload);

// Receives exactly `size` bytes. 0, -EPIPE when the peer closed first, or -errno.
// With `interruptible`, a signal before the first byte gives -EINTR; otherwise (and
// once part of a message has come) the receive goes on.
int ReceiveExact(int fd, void* buffer, size_t size, bool interruptible);

}  // namespace platform::wire
