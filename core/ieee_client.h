// The per-client state a server keeps for the controller: the IEEE 488.2 status bytes,
// the last response, the line being assembled from received chunks, and the error
// queue. A LAN connection and the GPIB bus each own one block; the master router acts
// on the block of the client whose program message it is serving. Also here: the
// inbound chunk, the unit of received bytes a server queues for its router.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/string_queue.h"

inline constexpr std::size_t kResponseBufferSize = 40984;
inline constexpr std::size_t kLineAssemblySize = 10240;

inline constexpr int32_t kClientTypeGpib = 1;
inline constexpr int32_t kClientTypeSocket = 2;

inline constexpr uint8_t kStbMessageAvailable = 0x10;  // STB bit 4: output pending

struct IEEE_Client {
  uint8_t ese = 0;
  uint8_t esr = 0;
  uint8_t sre = 0;
  uint8_t stb = 0;
  char response[kResponseBufferSize] = {};  // the last S7 text received
  char line[kLineAssemblySize] = {};        // not NUL-terminated: line_position counts it
  int32_t line_position = 0;
  StringQueue error_queue;
  void* owner = nullptr;  // the server's record that holds this block
  int32_t type = 0;       // kClientTypeGpib or kClientTypeSocket
};

// An inbound chunk is a queue entry holding up to 254 received bytes and a NUL in its
// text, and in its user word the IEEE_Client of the client they came from.
using InboundChunk = StringQueueEntry;
inline constexpr std::size_t kInboundChunkBytes = 254;

inline IEEE_Client* InboundChunkClient(const InboundChunk& chunk) {
  return static_cast<IEEE_Client*>(chunk.user);
}
