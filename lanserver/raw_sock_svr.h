// The raw socket server (port base+2): program messages exactly as on the command
// socket, without greeting, plus two block transfer commands that move up to 1 MiB
// between the client and the shared block:
//   "**READ <count>"   the client receives the first <count> bytes of the block;
//   "**WRITE <count>"  the client sends <count> bytes, stored from the block's start.
// A chunk of at least 7 bytes that begins with either is a transfer command, not a
// program message.
//
// A transfer is a state of its connection, moved on by the poller as its bytes come
// in or its socket drains, so the port serves its other clients meanwhile. One
// transfer at a time holds the block; a client whose transfer command finds it taken,
// or whose earlier program messages are not all answered yet (the block's bytes must
// not pass their responses), waits held with the rest of its input until its turn.
// A transfer is bounded in time as a whole: one still unfinished after
// kTransferTimeLimit is ended and its connection closed, since what its client sends
// next could not be told apart from block bytes.
#pragma once

#include <chrono>
#include <cstddef>

#include "core/shared_block.h"
#include "lanserver/sock_svr.h"

namespace lan {

inline constexpr std::chrono::seconds kTransferTimeLimit{10};

class RawSockSvr : public SockSvr {
 public:
  RawSockSvr();

 protected:
  bool Greet(ClientInfo* client) override;
  void Examine(ClientInfo* client, const char* bytes, std::size_t count) override;
  std::size_t ReadSize(ClientInfo* client) override;
  bool Held(ClientInfo* client) override;
  bool Proceed(ClientInfo* client) override;
  void Writable(ClientInfo* client) override;
  void Leaving(ClientInfo* client) override;
  bool NextDeadline(Clock::time_point* when) override;
  void DeadlinePassed() override;

 private:
  bool AttachBlock();
  // Examines received bytes that are not block bytes: transfer commands and program
  // messages. What cannot go on yet is kept in the client's unexamined bytes.
  void Process(ClientInfo* client, const char* bytes, std::size_t count);
  // Whether the client's transfer may start now (a wait on the router is registered).
  bool MayTransfer(ClientInfo* client);
  void BeginRead(ClientInfo* client, long announced);
  void BeginWrite(ClientInfo* client, long announced);
  // Sends on a block read as far as the socket takes it.
  void ContinueRead(ClientInfo* client);
  // Takes block bytes of a write; returns how many of `count` it took.
  std::size_t TakeBlockBytes(ClientInfo* client, const char* bytes, std::size_t count);
  void EndTransfer(ClientInfo* client);

  SharedBlock block_;
  ClientInfo* block_owner_ = nullptr;  // the client whose transfer holds the block
  Clock::time_point deadline_;
};

}  // namespace lan
