// The per-client state a server keeps for the controller: the IEEE 488.2 status bytes,
// the last response, the line being assembled from received chunks, and the error
// queue. A LAN connection and the GPIB bus each own one block; the master router acts
// on the block of the client whose program message it is serving. Also here: the
// inbound chunk, the unit of received bytes a server queues for its router.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/string_queue.h"

inline constexpr std::size_t kResponseBufferSize = 40984;
inline constexpr std::size_t kLineAssemblySize = 10240;

inline constexpr int32_t kClientTypeGpib = 1;
inline constexpr int32_t kClientTypeSocket = 2;

inline constexpr uint8_t kStbMessageAvailable = 0x10;  // STB bit 4: output pending

// What the thread that receives a client's bytes keeps of the line they belong to, so
// that the bytes past the line's limit are dropped as they arrive instead of being
// queued for the router (QueueInboundBytes). Only that thread touches it.
struct InboundLine {
  uint32_t passed = 0;            // characters of the line queued so far
  uint64_t dropped = 0;           // characters dropped since, past the limit
  char last_dropped = 0;          // the most recent of them
  bool dropped_reserved = false;  // one of them is a byte no program message may carry
};

struct IEEE_Client {
  uint8_t ese = 0;
  uint8_t esr = 0;
  uint8_t sre = 0;
  uint8_t stb = 0;
  char response[kResponseBufferSize] = {};  // the last S7 text received
  char line[kLineAssemblySize] = {};        // not NUL-terminated: line_position counts it
  int32_t line_position = 0;
  // The router's account of the line being assembled: whether it holds a byte that no
  // program message may carry (the line is then refused, not sent), and how many
  // characters went past its limit (reported once, when the line ends).
  bool line_refused = false;
  uint64_t line_overflow = 0;
  StringQueue error_queue;
  void* owner = nullptr;  // the server's record that holds this block
  int32_t type = 0;       // kClientTypeGpib or kClientTypeSocket
  InboundLine inbound;    // the receiving thread's, not the router's
  // Chunks of this client queued for the router and not yet done with: counted up as
  // they are queued, down once the router has sent (or refused) their lines.
  std::atomic<int32_t> pending_chunks{0};
};

// An inbound chunk is a queue entry holding up to 254 received bytes and a NUL in its
// text (their count in user_length, as they may hold NULs of their own), in its user
// word the IEEE_Client of the client they came from, and in user_skipped how many
// bytes of their line were dropped before them.
using InboundChunk = StringQueueEntry;
inline constexpr std::size_t kInboundChunkBytes = 254;

inline IEEE_Client* InboundChunkClient(const InboundChunk& chunk) {
  return static_cast<IEEE_Client*>(chunk.user);
}
