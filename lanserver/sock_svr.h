// The SCPI command socket server (port base) and the machinery it shares with the raw
// socket server: the listening socket and its accept thread, the client registry, the
// poller (PollData) that reads received bytes in chunks of up to 254 and queues them
// for the router, and the removal of a client that went away.
//
// A removed client is not freed at once: chunks of it may still wait in the inbound
// queue, or the router may be executing its program message and deliver a response
// to it. So a marker chunk (no client) is queued behind its last chunk, and the record
// (with its socket, so the descriptor number cannot be reused meanwhile) is freed once
// the router has taken the marker.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/master_router.h"
#include "core/string_queue.h"
#include "lanserver/client_registry.h"
#include "core/server_threads.h"

namespace lan {

class AsyncSockSvr;

// The names a port's diagnostics carry.
struct SockSvrNames {
  const char* source;         // "_ethernet/SockSvr"
  const char* poll_function;  // "PollData"
  const char* accept_error;   // perror text of a failed accept
  const char* read_error;     // perror text of a failed read, or null
};

class SockSvr {
 public:
  SockSvr();
  virtual ~SockSvr();
  SockSvr(const SockSvr&) = delete;
  SockSvr& operator=(const SockSvr&) = delete;

  // Listens on `port` (backlog 24, keep-alive), creates the epoll set and starts the
  // accept thread in `threads`. Chunks go to this port's inbound queue and wake
  // `wakeup` (may be null); a closed client's event registrations are removed from
  // `events` (may be null). Returns 0, or an errno value or pthread_create code. The
  // poller (PollLoop) is the caller's to run.
  int Start(uint16_t port, ServerThreads& threads, RouterWakeup* wakeup,
            AsyncSockSvr* events);

  // One pass of the poller: waits for received bytes and queues them. False on a stop.
  bool PollData();
  // The poller thread: PollData until a stop.
  void PollLoop();

  StringQueue* inbound() { return &inbound_; }
  ClientRegistry& registry() { return registry_; }
  // Clients removed but not yet freed (the router may still hold them).
  std::size_t RetiredCount() const { return retired_count_.load(); }

  // Frees every client, removed or not, and closes the listening socket. Only after
  // the threads have ended.
  void CleanupClientCol();

 protected:
  explicit SockSvr(const SockSvrNames& names);

  // Sends a new client what it must receive before it is registered; false closes it.
  // The command socket sends 0x06 0x0A and the descriptor number as "%d\n".
  virtual bool Greet(ClientInfo* client);
  // Handles bytes received from `client`; the command socket queues them.
  virtual void Examine(ClientInfo* client, const char* bytes, std::size_t count);

  // Queues up to 254 bytes from `client` for the router.
  void QueueChunk(ClientInfo* client, const char* bytes, std::size_t count);
  int stop_fd() const { return stop_fd_; }

 private:
  struct Retired {
    std::unique_ptr<ClientInfo> client;
    uint64_t ticket;  // pushes counted up to its marker
  };

  void AcceptNewClients();
  void ReadClient(int fd);
  void ClientGone(int fd);
  void ReapRetired();

  SockSvrNames names_;
  ClientRegistry registry_;
  StringQueue inbound_;
  RouterWakeup* wakeup_ = nullptr;
  AsyncSockSvr* events_ = nullptr;
  int listen_fd_ = -1;
  int stop_fd_ = -1;
  int wait_failures_ = 0;
  // Only the poller thread pushes to the inbound queue and removes clients, so it
  // alone keeps these.
  uint64_t pushed_ = 0;
  std::vector<Retired> retired_;
  std::atomic<std::size_t> retired_count_{0};  // its size, for other threads
};

}  // namespace lan
