// Raw socket server: transfer commands and block transfers through the shared block.
#include "lanserver/raw_sock_svr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "lanserver/socket_io.h"

namespace lan {

namespace {

constexpr SockSvrNames kRawNames = {"_ethernet/RawSockSvr", "PollRawData",
                                    "AcceptNewRawClients: accept()", "RawSockSvr: read()"};

constexpr std::size_t kCommandMinimum = 7;  // shorter chunks are program messages
// A transfer ends when 1001 waits of 1 ms in a row bring no progress.
constexpr StallBound kTransferBound = {1, 1001};

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
  while (count > 0) {
    bool read = BeginsWith(bytes, count, "**READ");
    bool write = !read && BeginsWith(bytes, count, "**WRITE");
    if (!read && !write) {
      QueueChunk(client, bytes, count);
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
      BlockRead(client, announced);
    } else {
      std::size_t taken = BlockWrite(client, announced, bytes, count);
      bytes += taken;
      count -= taken;
    }
  }
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

void RawSockSvr::BlockRead(ClientInfo* client, long announced) {
  if (!AttachBlock()) return;
  SendAll(client->socket, block_.Address(), Capped(announced), stop_fd(), kTransferBound);
}

std::size_t RawSockSvr::BlockWrite(ClientInfo* client, long announced, const char* lead,
                                   std::size_t lead_count) {
  std::size_t wanted = static_cast<std::size_t>(std::max(announced, 0L));
  std::size_t stored = AttachBlock() ? Capped(announced) : 0;
  std::size_t taken = std::min(lead_count, wanted);
  std::size_t have = std::min(taken, stored);
  if (have > 0) std::memcpy(block_.Address(), lead, have);
  have = taken;
  if (have < stored) {
    have += ReceiveAll(client->socket, block_.Address() + have, stored - have, stop_fd(),
                       kTransferBound);
  }
  // Bytes announced beyond what the block holds are read and dropped, so they are not
  // taken for program messages.
  if (have >= stored && have < wanted) {
    ReceiveAll(client->socket, nullptr, wanted - have, stop_fd(), kTransferBound);
  }
  return taken;
}

}  // namespace lan
