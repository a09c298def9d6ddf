// The clients of one program-message port (4444 or 4446): one ClientInfo per accepted
// connection, holding the peer address, the socket and the IEEE 488.2 block that the
// controller's requests act on, and the registry that maps socket descriptors to
// them, with the port's epoll set and its event array.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
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
};

// The ClientInfo that holds `block`, or null.
ClientInfo* ClientOf(IEEE_Client* block);

// The epoll events a client socket is watched for: EPOLLIN | EPOLLET (0x80000001).
inline constexpr uint32_t kClientEpollEvents = EPOLLIN | EPOLLET;

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
