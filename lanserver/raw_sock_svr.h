// The raw socket server (port base+2): program messages exactly as on the command
// socket, without greeting, plus two block transfer commands that move up to 1 MiB
// between the client and the shared block:
//   "**READ <count>"   the client receives the first <count> bytes of the block;
//   "**WRITE <count>"  the client sends <count> bytes, stored from the block's start.
// A chunk of at least 7 bytes that begins with either is a transfer command, not a
// program message. The transfers run on the poller thread, one at a time, which is
// what serialises the use of the block.
#pragma once

#include <cstddef>

#include "core/shared_block.h"
#include "lanserver/sock_svr.h"

namespace lan {

class RawSockSvr : public SockSvr {
 public:
  RawSockSvr();

 protected:
  bool Greet(ClientInfo* client) override;
  void Examine(ClientInfo* client, const char* bytes, std::size_t count) override;

 private:
  bool AttachBlock();
  void BlockRead(ClientInfo* client, long announced);
  // Stores the block the client sends; the first `lead_count` bytes are those that came
  // behind the command in its chunk. Returns how many of them it took.
  std::size_t BlockWrite(ClientInfo* client, long announced, const char* lead,
                         std::size_t lead_count);

  SharedBlock block_;
};

}  // namespace lan
