// The event socket server (port base+1). A client that holds a command socket opens
// an event socket, names its command socket's descriptor number and a hexadecimal
// event mask (each step answered 0x06 0x0A), and then receives a 5-byte notice for
// every chassis event its mask asks for. Registrations are keyed by the command
// socket's descriptor and end when that socket closes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/server_threads.h"

namespace lan {

// One event connection, owning its socket.
struct EventSocket {
  EventSocket() = default;
  ~EventSocket();
  EventSocket(const EventSocket&) = delete;
  EventSocket& operator=(const EventSocket&) = delete;

  int socket = -1;
  int linked = -1;    // descriptor of the client's command socket
  uint32_t mask = 0;  // bit 0: scan events; bit s + 1: events of slot s
};

// A copy of one registration, for inspection.
struct EventRegistration {
  int socket;
  int linked;
  uint32_t mask;
};

class AsyncSockSvr {
 public:
  AsyncSockSvr() = default;
  ~AsyncSockSvr();
  AsyncSockSvr(const AsyncSockSvr&) = delete;
  AsyncSockSvr& operator=(const AsyncSockSvr&) = delete;

  // Listens on `port` and starts the accept thread in `threads`; it ends on a stop.
  // Returns 0, or the errno value or pthread_create code of the failed call.
  int Start(uint16_t port, ServerThreads& threads);

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

  // Closes every event socket and the listening socket.
  void Destroy();

 private:
  void AcceptAsyncConn();
  bool Handshake(EventSocket* record);
  void Insert(std::unique_ptr<EventSocket> record);

  mutable std::mutex mutex_;
  std::multimap<int, std::unique_ptr<EventSocket>> registry_;
  int32_t count_ = 0;
  int listen_fd_ = -1;
  int stop_fd_ = -1;
};

}  // namespace lan
