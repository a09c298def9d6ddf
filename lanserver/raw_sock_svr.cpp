// Raw socket server: transfer commands and block transfers through the shared block.
#include "lanserver/raw_sock_svr.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "lanserver/lan_hooks.h"

namespace lan {

namespace {

constexpr SockSvrNames kRawNames = {"_ethernet/RawSockSvr", "PollRawData",
                                    "AcceptNewRawClients: accept()", "RawSockSvr: read()"};

constexpr std::size_t kCommandMinimum = 7;  // shorter chunks are program messages

bool BeginsWith(const char* bytes, std::size_t count, const char* word) {
  std::size_t length = std::strlen(word);
  return count >= kCommandMinimum && count >= length && std::memcmp(bytes, word, length) == 0;
}

// The announced count, capped to what the block holds; 0 for a negative count.
std::size_t Capped(long announced) {
  return static_cast<std::size_t>(std::clamp(announced, 0L, SHARED_BLOCK_SIZE));
}

}  // namespace

RawSockSvr::RawSockSvr() : SockSvr(kRawNames) {}

bool RawSockSvr::Greet(ClientInfo*) { return true; }

void RawSockSvr::Examine(ClientInfo* client, const char* bytes, std::size_t count) {
  if (client->transfer == ClientInfo::Transfer::kWrite) {
    std::size_t taken = TakeBlockBytes(client, bytes, count);
    bytes += taken;
    count -= taken;
  }
  if (count > 0) Process(client, bytes, count);
}

void RawSockSvr::Process(ClientInfo* client, const char* bytes, std::size_t count) {
  while (count > 0) {
    bool read = BeginsWith(bytes, count, "**READ");
    bool write = !read && BeginsWith(bytes, count, "**WRITE");
    if (!read && !write) {
      QueueChunk(client, bytes, count);
      return;
    }
    if (!MayTransfer(client)) {
      client->unexamined.assign(bytes, count);
      return;
    }
    // The command ends at its line feed; what follows in the chunk is not part of it
    // (block bytes for a write, further input otherwise) and is not dropped.
    const void* feed = std::memchr(bytes, '\n', count);
    std::size_t length =
        feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - bytes) + 1
                        : count;
    std::string command(bytes, length);
    long announced = 0;
    std::sscanf(command.c_str(), read ? "**READ %ld" : "**WRITE %ld", &announced);
    bytes += length;
    count -= length;
    if (read) {
      BeginRead(client, announced);
      if (client->transfer != ClientInfo::Transfer::kNone) {
        client->unexamined.assign(bytes, count);  // goes on after the block is sent
        return;
      }
    } else {
      BeginWrite(client, announced);
      std::size_t taken = TakeBlockBytes(client, bytes, count);
      bytes += taken;
      count -= taken;
    }
  }
}

// A block write reads no further than its block: what follows starts a read, and so a
// chunk, of its own, as a transfer command must.
std::size_t RawSockSvr::ReadSize(ClientInfo* client) {
  if (client->transfer != ClientInfo::Transfer::kWrite) return SockSvr::ReadSize(client);
  return std::min(client->transfer_wanted - client->transfer_done, kLargestRead);
}

bool RawSockSvr::MayTransfer(ClientInfo* client) {
  if (block_owner_ != nullptr && block_owner_ != client) return false;
  if (OutputWaiting(client)) return false;
  return !WaitForRouter(client, 0);
}

bool RawSockSvr::Held(ClientInfo* client) {
  if (client->transfer == ClientInfo::Transfer::kRead || !client->unexamined.empty()) {
    return true;
  }
  return SockSvr::Held(client);
}

bool RawSockSvr::Proceed(ClientInfo* client) {
  if (client->transfer == ClientInfo::Transfer::kRead) return false;
  if (!client->unexamined.empty()) {
    std::string rest;
    rest.swap(client->unexamined);
    Process(client, rest.data(), rest.size());
  }
  return !Held(client);
}

void RawSockSvr::Writable(ClientInfo* client) {
  if (client->transfer == ClientInfo::Transfer::kRead) ContinueRead(client);
  SockSvr::Writable(client);
}

void RawSockSvr::Leaving(ClientInfo* client) {
  if (block_owner_ == client) EndTransfer(client);
}

bool RawSockSvr::NextDeadline(Clock::time_point* when) {
  if (block_owner_ == nullptr) return false;
  *when = deadline_;
  return true;
}

void RawSockSvr::DeadlinePassed() {
  ClientInfo* client = block_owner_;
  if (client == nullptr) return;
  diag_error_line("_ethernet/RawSockSvr", "PollRawData", __LINE__,
                  "block transfer of client %d unfinished after %d s (%zu of %zu bytes): "
                  "closed\n",
                  client->socket, static_cast<int>(kTransferTimeLimit.count()),
                  client->transfer_done, client->transfer_wanted);
  EndTransfer(client);
  shutdown(client->socket, SHUT_RDWR);
  ClientGone(client->socket);
}

bool RawSockSvr::AttachBlock() {
  if (!block_.attached() && block_.Attach() != 0) {
    std::perror("Attach to shared memory failed");
    return false;
  }
  if (block_.Address() == nullptr) {
    std::perror("Retrieval of binary_block failed");
    return false;
  }
  return true;
}

void RawSockSvr::BeginRead(ClientInfo* client, long announced) {
  client->transfer_wanted = AttachBlock() ? Capped(announced) : 0;
  client->transfer_stored = client->transfer_wanted;
  client->transfer_done = 0;
  if (client->transfer_wanted == 0) return;
  client->transfer = ClientInfo::Transfer::kRead;
  block_owner_ = client;
  deadline_ = Clock::now() + kTransferTimeLimit;
  ContinueRead(client);
}

void RawSockSvr::BeginWrite(ClientInfo* client, long announced) {
  client->transfer_wanted = static_cast<std::size_t>(std::max(announced, 0L));
  client->transfer_stored = AttachBlock() ? Capped(announced) : 0;
  client->transfer_done = 0;
  if (client->transfer_wanted == 0) return;
  client->transfer = ClientInfo::Transfer::kWrite;
  block_owner_ = client;
  deadline_ = Clock::now() + kTransferTimeLimit;
}

void RawSockSvr::ContinueRead(ClientInfo* client) {
  const char* block = reinterpret_cast<const char*>(block_.Address());
  while (client->transfer_done < client->transfer_wanted) {
    ssize_t sent = send(client->socket, block + client->transfer_done,
                        client->transfer_wanted - client->transfer_done,
                        MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      client->transfer_done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR && IsRunning()) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // on when writable
    break;  // the client is gone: its poller finds it closed
  }
  EndTransfer(client);
}

std::size_t RawSockSvr::TakeBlockBytes(ClientInfo* client, const char* bytes,
                                       std::size_t count) {
  if (client->transfer != ClientInfo::Transfer::kWrite) return 0;
  std::size_t taken = std::min(count, client->transfer_wanted - client->transfer_done);
  // Bytes announced beyond what the block holds are taken and dropped, so they are
  // not taken for program messages.
  if (client->transfer_done < client->transfer_stored) {
    std::size_t kept = std::min(taken, client->transfer_stored - client->transfer_done);
    std::memcpy(block_.Address() + client->transfer_done, bytes, kept);
  }
  client->transfer_done += taken;
  if (client->transfer_done == client->transfer_wanted) EndTransfer(client);
  return taken;
}

void RawSockSvr::EndTransfer(ClientInfo* client) {
  client->transfer = ClientInfo::Transfer::kNone;
  if (block_owner_ == client) block_owner_ = nullptr;
  // A client waiting for the block, and this one's input held behind its transfer.
  RecheckHeld();
}

}  // namespace lan
