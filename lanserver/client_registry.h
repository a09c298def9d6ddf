// The clients of one program-message port (4444 or 4446): one ClientInfo per accepted
// connection, holding the peer address, the socket, the IEEE 488.2 block that the
// controller's requests act on, the responses the client has not taken yet and what
// its port's poller keeps of it, and the registry that maps socket descriptors to
// them, with the port's epoll set and its event array.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <vector>

#include "core/ieee_client.h"

namespace lan {

struct ClientInfo {
  ClientInfo();
  ~ClientInfo();  // closes the socket
  ClientInfo(const ClientInfo&) = delete;
  ClientInfo& operator=(const ClientInfo&) = delete;

  sockaddr_in peer_address{};
  socklen_t address_length = 0;
  int socket = -1;
  IEEE_Client block;  // owner links back here; type kClientTypeSocket

  // Set by the port's poller when it waits for the router to be done with this
  // client's chunks down to this many (-1: it does not wait); the router then signals
  // wake_fd, the poller's eventfd.
  std::atomic<int32_t> resume_at{-1};
  int wake_fd = -1;

  // Response bytes the client has not taken yet, sent on as its socket drains. The
  // router appends, the poller sends on; both under output_lock. Once the client is
  // gone (or took nothing while too much piled up) further responses are dropped.
  std::mutex output_lock;
  std::string output;
  bool output_closed = false;

  // The poller's alone: bytes received but held back until the client may go on (a
  // transfer command waiting for its turn), and the raw port's block transfer.
  std::string unexamined;
  enum class Transfer { kNone, kWrite, kRead };
  Transfer transfer = Transfer::kNone;
  std::size_t transfer_wanted = 0;  // bytes announced (a write) or to send (a read)
  std::size_t transfer_stored = 0;  // of them, those the block holds
  std::size_t transfer_done = 0;    // moved so far
};

// The ClientInfo that holds `block`, or null.
ClientInfo* ClientOf(IEEE_Client* block);

// The epoll events a client socket is watched for: EPOLLIN | EPOLLOUT | EPOLLET
// (0x80000005). Writable matters when responses wait for the client to take them.
inline constexpr uint32_t kClientEpollEvents = EPOLLIN | EPOLLOUT | EPOLLET;

class ClientRegistry {
 public:
  ClientRegistry() = default;
  ~ClientRegistry();
  ClientRegistry(const ClientRegistry&) = delete;
  ClientRegistry& operator=(const ClientRegistry&) = delete;

  // Creates the epoll set (size hint 24). 0, or -1 (errno set).
  int CreateEpoll();
  int epoll_fd() const { return epoll_fd_; }

  // Registers `client` under its descriptor, makes the socket non-blocking and adds it
  // to the epoll set. Returns the epoll_ctl result; on failure the client is not kept
  // (its socket is closed).
  int AddClient(std::unique_ptr<ClientInfo> client);

  // Takes the client of `fd` out of the epoll set and the registry and hands it to the
  // caller, who decides when it may be freed (its socket closes then). Null, with
  // "Key=%d not found in tree", when there is none.
  std::unique_ptr<ClientInfo> RemoveClient(int fd);

  // The client of `fd`, or null. The record stays valid until RemoveClient, which only
  // the port's poller calls.
  ClientInfo* Find(int fd) const;

  int32_t Count() const;

  // The event array for epoll_wait: grown by 10 whenever the client count has reached
  // its capacity.
  std::vector<epoll_event>& EventArray();

  // Removes every client from the epoll set and frees it; closes the epoll set.
  void CleanupClientCol();

 private:
  mutable std::mutex mutex_;
  std::map<int, std::unique_ptr<ClientInfo>> clients_;
  int32_t count_ = 0;
  int epoll_fd_ = -1;
  std::vector<epoll_event> events_;
};

}  // namespace lan
