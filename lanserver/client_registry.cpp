// Client records and the registry of a program-message port.
#include "lanserver/client_registry.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "lanserver/socket_io.h"

namespace lan {

namespace {
constexpr int kEpollSizeHint = 24;
constexpr std::size_t kEventArrayStep = 10;
}  // namespace

ClientInfo::ClientInfo() {
  block.owner = this;
  block.type = kClientTypeSocket;
}

ClientInfo::~ClientInfo() {
  if (socket >= 0 && close(socket) != 0) std::perror("close");
}

ClientInfo* ClientOf(IEEE_Client* block) {
  return block != nullptr ? static_cast<ClientInfo*>(block->owner) : nullptr;
}

ClientRegistry::~ClientRegistry() { CleanupClientCol(); }

int ClientRegistry::CreateEpoll() {
  epoll_fd_ = epoll_create(kEpollSizeHint);
  if (epoll_fd_ < 0) {
    std::perror("epoll_create");
    return -1;
  }
  return 0;
}

int ClientRegistry::AddClient(std::unique_ptr<ClientInfo> client) {
  int fd = client->socket;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    clients_[fd] = std::move(client);
    ++count_;
  }
  if (SetNonBlocking(fd) != 0) std::perror("fcntl");
  epoll_event event{};
  event.events = kClientEpollEvents;
  event.data.fd = fd;
  int result = epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event);
  if (result != 0) {
    std::perror("AddClient: epoll_ctl");
    // Never polled, it could never be served nor removed: drop it now.
    std::lock_guard<std::mutex> hold(mutex_);
    clients_.erase(fd);
    --count_;
  }
  return result;
}

std::unique_ptr<ClientInfo> ClientRegistry::RemoveClient(int fd) {
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr) != 0) {
    std::perror("RemoveClient: epoll_ctl");
  }
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = clients_.find(fd);
  if (found == clients_.end()) {
    std::printf("Key=%d not found in tree\n", fd);
    return nullptr;
  }
  std::unique_ptr<ClientInfo> client = std::move(found->second);
  clients_.erase(found);
  --count_;
  return client;
}

ClientInfo* ClientRegistry::Find(int fd) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = clients_.find(fd);
  return found != clients_.end() ? found->second.get() : nullptr;
}

int32_t ClientRegistry::Count() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return count_;
}

std::vector<epoll_event>& ClientRegistry::EventArray() {
  // One cell more than the clients: the stop event shares the set.
  while (static_cast<std::size_t>(Count()) + 1 >= events_.size()) {
    events_.resize(events_.size() + kEventArrayStep);
  }
  return events_;
}

void ClientRegistry::CleanupClientCol() {
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& [fd, client] : clients_) {
    if (!client) {
      std::puts("CleanupClientCol : pPresentClientInfo == NULL!");
      continue;
    }
    if (epoll_fd_ >= 0 && epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr) != 0) {
      std::printf("CleanupClientCol : epoll_ctl failed with code=%d\n", errno);
    }
  }
  clients_.clear();
  count_ = 0;
  if (epoll_fd_ >= 0) close(epoll_fd_);
  epoll_fd_ = -1;
}

}  // namespace lan
