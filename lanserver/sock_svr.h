// The SCPI command socket server (port base) and the machinery it shares with the raw
// socket server: the listening socket and its accept thread, the client registry, the
// poller (PollData) that reads received bytes in chunks of up to 254 and queues them
// for the router, and the removal of a client that went away.
//
// The poller serves every client of its port in turns: it reads a bounded amount from
// each client that has bytes waiting before it returns to any of them, so one client
// sending without pause cannot keep the others waiting. It also paces each client by
// what the router has done: a client with many chunks still queued, or whose responses
// wait for it to take them, is held (nothing more is read from it, its own TCP window
// holds it back) until the router or the client has caught up. The router signals the
// poller's wake-up eventfd for that (lan_hooks ChunkDone).
//
// A removed client is not freed at once: chunks of it may still wait in the inbound
// queue, or the router may be executing its program message and deliver a response
// to it. So a marker chunk (no client) is queued behind its last chunk, and the record
// (with its socket, so the descriptor number cannot be reused meanwhile) is freed once
// the router has taken the marker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
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

// A client with this many chunks waiting for the router is held until it has come
// down to kQueuedResume: a client's queued bytes stay bounded however fast it sends.
inline constexpr int32_t kQueuedMost = 64;
inline constexpr int32_t kQueuedResume = 16;
// Reads from one client before the poller turns to the next, and the most one read
// takes (program messages are read 254 bytes at a time, block bytes in larger pieces).
inline constexpr int kReadsPerTurn = 64;
inline constexpr std::size_t kLargestRead = 16384;
// The most client records a port keeps, its connected clients and those removed but
// waiting for the router to finish their messages. At this count the port takes no new
// connection (it waits in the listening queue) until one is freed: clients that
// connect, send and leave faster than the router runs their messages, or that open
// connection after connection, cannot make the memory grow without bound.
inline constexpr std::size_t kClientsMost = 512;

class SockSvr {
 public:
  SockSvr();
  virtual ~SockSvr();
  SockSvr(const SockSvr&) = delete;
  SockSvr& operator=(const SockSvr&) = delete;

  // Listens on `port` (keep-alive), creates the epoll set and starts the accept thread
  // in `threads`. Chunks go to this port's inbound queue and wake `wakeup` (may be
  // null); a closed client's event registrations are removed from `events` (may be
  // null). Returns 0, or an errno value or pthread_create code. The poller (PollLoop)
  // is the caller's to run.
  int Start(uint16_t port, ServerThreads& threads, RouterWakeup* wakeup,
            AsyncSockSvr* events);

  // One pass of the poller: waits for received bytes and queues them. False on a stop.
  bool PollData();
  // The poller thread: PollData until a stop.
  void PollLoop();

  StringQueue* inbound() { return &inbound_; }
  ClientRegistry& registry() { return registry_; }
  // Whether `fd` is a live client of this port: registered, or being greeted (its
  // descriptor number is in the greeting, so it may name it before it is registered).
  bool IsClient(int fd) const;
  // Clients removed but not yet freed (the router may still hold them).
  std::size_t RetiredCount() const { return retired_count_.load(); }

  // Frees every client, removed or not, and closes the listening socket. Only after
  // the threads have ended.
  void CleanupClientCol();

 protected:
  using Clock = std::chrono::steady_clock;

  explicit SockSvr(const SockSvrNames& names);

  // Sends a new client what it must receive before it is registered; false closes it.
  // The command socket sends 0x06 0x0A and the descriptor number as "%d\n".
  virtual bool Greet(ClientInfo* client);
  // Handles bytes received from `client`; the command socket queues them.
  virtual void Examine(ClientInfo* client, const char* bytes, std::size_t count);
  // How many bytes the next read from `client` may take (at most kLargestRead): a
  // chunk's 254, unless the bytes are not program messages (the raw port's blocks).
  virtual std::size_t ReadSize(ClientInfo* client);
  // Whether nothing more may be read from `client` for now. When a wait on the router
  // is what holds it, the wait is registered (the wake-up comes when it ends).
  virtual bool Held(ClientInfo* client);
  // A held client's turn after something it may wait for happened: moves it on as far
  // as it can. True when it is held no longer.
  virtual bool Proceed(ClientInfo* client);
  // The client's socket can take bytes again (its waiting responses were sent on).
  virtual void Writable(ClientInfo* client);
  // The client is being removed.
  virtual void Leaving(ClientInfo* client);
  // The poller's next deadline of its own, if any (the raw port's transfer limit), and
  // what happens when it has passed.
  virtual bool NextDeadline(Clock::time_point* when);
  virtual void DeadlinePassed();

  // Queues `count` bytes from `client` for the router.
  void QueueChunk(ClientInfo* client, const char* bytes, std::size_t count);
  // Registers a wait until the router has done with all but `mark` of the client's
  // chunks. False when there is nothing to wait for (fewer are pending already).
  bool WaitForRouter(ClientInfo* client, int32_t mark);
  // Held clients are looked at again on the poller's next pass.
  void RecheckHeld() { recheck_held_ = true; }
  // Removes a client that went away (or is sent away).
  void ClientGone(int fd);
  int stop_fd() const { return stop_fd_; }

 private:
  struct Retired {
    std::unique_ptr<ClientInfo> client;
    uint64_t ticket;  // pushes counted up to its marker
  };

  void AcceptNewClients();
  // Reads one turn from the client of `fd`; true when it may have more to read.
  bool ReadClient(int fd);
  void ServeReadable();
  void ResumeHeld();
  int PollTimeout();
  void ReapRetired();

  SockSvrNames names_;
  ClientRegistry registry_;
  StringQueue inbound_;
  RouterWakeup* wakeup_ = nullptr;
  AsyncSockSvr* events_ = nullptr;
  int listen_fd_ = -1;
  int stop_fd_ = -1;
  int wake_fd_ = -1;  // signalled by the router when a held client may go on
  std::atomic<int> greeting_{-1};  // the connection the accept thread is greeting
  int wait_failures_ = 0;
  // Only the poller thread pushes to the inbound queue and removes clients, so it
  // alone keeps these.
  uint64_t pushed_ = 0;
  std::vector<Retired> retired_;
  std::atomic<std::size_t> retired_count_{0};  // its size, for other threads
  std::vector<char> buffer_ = std::vector<char>(kLargestRead);  // the poller's reads
  std::set<int> readable_;  // clients that may have bytes waiting
  std::set<int> held_;      // clients nothing is read from for now
  bool recheck_held_ = false;
};

}  // namespace lan
