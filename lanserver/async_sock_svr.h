// The event socket server (port base+1). A client that holds a command socket opens
// an event socket, names its command socket's descriptor number and a hexadecimal
// event mask (each step answered 0x06 0x0A), and then receives a 5-byte notice for
// every chassis event its mask asks for. Registrations are keyed by the command
// socket's descriptor and end when that socket closes, or when the client closes its
// event socket.
//
// One thread serves the port: it accepts, moves every handshake on as its client's
// bytes arrive (so a client that says nothing delays no other; each step waits at
// most kHandshakeWaitMs), and watches the registered sockets for their clients
// leaving. A registration must name a live command connection, else it is refused and
// its socket closed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/server_threads.h"

namespace lan {

// The longest a handshake step waits for its client.
inline constexpr int kHandshakeWaitMs = 10000;

// One event connection, owning its socket.
struct EventSocket {
  EventSocket() = default;
  ~EventSocket();
  EventSocket(const EventSocket&) = delete;
  EventSocket& operator=(const EventSocket&) = delete;

  int socket = -1;
  int linked = -1;    // descriptor of the client's command socket
  uint32_t mask = 0;  // bit 0: scan events; bit s + 1: events of slot s
  uint64_t id = 0;    // how the port's thread knows it in its epoll set
};

// A copy of one registration, for inspection.
struct EventRegistration {
  int socket;
  int linked;
  uint32_t mask;
};

class AsyncSockSvr {
 public:
  // Whether a descriptor number is a live command connection.
  using CommandCheck = std::function<bool(int descriptor)>;

  AsyncSockSvr() = default;
  ~AsyncSockSvr();
  AsyncSockSvr(const AsyncSockSvr&) = delete;
  AsyncSockSvr& operator=(const AsyncSockSvr&) = delete;

  // Listens on `port` and starts the port's thread in `threads`; it ends on a stop.
  // `is_command` tells which descriptors a registration may name (null: any).
  // Returns 0, or the errno value or pthread_create code of the failed call.
  int Start(uint16_t port, ServerThreads& threads, CommandCheck is_command = nullptr);

  // Closes and forgets every event socket linked to the command socket `linked`.
  void RemoveRegistrations(int linked);

  // Sends the notice of an event (type 0 .. 5, its data bytes) to every registered
  // event socket whose mask asks for it. A socket that cannot take the notice at once
  // misses it; one whose peer is gone is closed and forgotten.
  void NotifyEcho_Interface(int type, const uint8_t* data, int count);
  // The event reader's notify hook; `context` is the AsyncSockSvr.
  static void NotifyHook(int type, const uint8_t* data, int count, void* context);

  std::vector<EventRegistration> Registrations() const;
  int32_t Count() const;

  // Closes every event socket and the listening socket. After the thread has ended.
  void Destroy();

 private:
  using Clock = std::chrono::steady_clock;
  // A connection whose handshake is under way (the port's thread's alone).
  struct Handshake {
    std::unique_ptr<EventSocket> record;
    int step = 1;  // 1: waits for the descriptor number, 2: for the mask
    Clock::time_point deadline;
  };

  void AcceptAsyncConn();
  void AcceptPending();
  void Step(Handshake& handshake);
  void Register(std::unique_ptr<EventSocket> record);
  void Watch(uint64_t id);
  int NextTimeout() const;
  void ExpireHandshakes();
  bool IsCommand(int descriptor) const;

  mutable std::mutex mutex_;
  std::multimap<int, std::unique_ptr<EventSocket>> registry_;
  int32_t count_ = 0;
  int listen_fd_ = -1;
  int stop_fd_ = -1;
  int epoll_fd_ = -1;
  CommandCheck is_command_;
  std::map<uint64_t, Handshake> handshakes_;
  uint64_t next_id_ = 2;  // 0 and 1 name the listening socket and the stop event
};

}  // namespace lan
