// The VXI-11 instrument server of the LAN server: the core channel (links, writes,
// reads, status byte, trigger, clear, locks, service requests), the abort channel and
// the port mapper that tells clients where the core channel is.
//
// Each link is one more client of the LAN server, with its own IEEE 488.2 block: its
// program messages are queued for the router like a raw-port line (a message ends at
// the END flag or a final line feed), and its responses wait in the link until a
// device_read takes them, so MAV stands while a response is unread. Each core or abort
// connection has a thread of its own, since a read may wait for its response; the
// accept loops, the port mapper and the service-request sender are the server's
// long-running threads. A link that is destroyed (or whose connection closes) is freed
// only once the router has passed a marker queued behind its last chunk.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/ieee_client.h"
#include "core/master_router.h"
#include "core/server_threads.h"
#include "core/string_queue.h"
#include "lanserver/instrument_lock.h"
#include "lanserver/onc_rpc.h"
#include "lanserver/vxi11_protocol.h"

namespace lan {

inline constexpr int32_t kClientTypeVxi11 = 3;
// Where the server writes its channels' ports once they are open: "core=%u abort=%u
// portmapper=own|system|none" (the port mapper on 111 is this server's, the system's,
// or neither's).
inline constexpr const char* kVxiPortsFile = "/tmp/vxi11_ports";
// The largest device_write data a link takes in one call, as create_link tells.
inline constexpr uint32_t kVxiMaxRecvSize = 65536;
// The longest record a core or abort connection accepts; a longer one closes it.
inline constexpr std::size_t kVxiRecordMost = kVxiMaxRecvSize + 1024;
// Links held at once, on all connections together.
inline constexpr std::size_t kVxiLinksMost = 64;
// Core and abort connections served at once.
inline constexpr std::size_t kVxiConnectionsMost = 128;
// Unterminated write data a link keeps before its message is taken as ended.
inline constexpr std::size_t kVxiInputMost = 1 << 20;

struct Vxi11Link {
  int32_t id = 0;
  uint64_t connection = 0;  // the core connection that created it
  IEEE_Client block;        // owner links back here; type kClientTypeVxi11

  // Under mutex: the link's input not yet queued, its unread responses (and where each
  // ends), its stored status byte, service request and abort state.
  std::mutex mutex;
  std::condition_variable changed;
  std::string input;
  std::string output;
  std::deque<std::size_t> ends;  // output offsets just past each whole response
  uint8_t stb = 0;
  bool srq_enabled = false;
  std::string srq_handle;
  uint64_t interrupts = 0;  // generation of aborts and clears: ends a waiting operation
};

class Vxi11Server {
 public:
  Vxi11Server();
  ~Vxi11Server();
  Vxi11Server(const Vxi11Server&) = delete;
  Vxi11Server& operator=(const Vxi11Server&) = delete;

  // Opens the core channel on the first free port from `core_port`, the abort channel
  // on the next free one, and the port mapper on `mapper_port` (111 on the board; when
  // it is taken the core channel is registered with the system's port mapper, and when
  // that fails too, one warning line names the core port). Starts the accept threads
  // in `threads`. Chunks go to inbound() and wake `wakeup`. 0 or an errno value.
  int Start(uint16_t core_port, uint16_t mapper_port, ServerThreads& threads,
            RouterWakeup* wakeup);
  // After the threads have ended: ends every connection and frees every link.
  void Close();

  StringQueue* inbound() { return &inbound_; }
  uint16_t core_port() const { return core_port_; }
  uint16_t abort_port() const { return abort_port_; }

  // The router's hooks for a link's block.
  static int Deliver(IEEE_Client* block, const char* text);
  static void StoreStb(IEEE_Client* block, uint8_t value);
  static bool OutputPending(IEEE_Client* block);

 private:
  struct Connection {
    uint64_t id = 0;
    int socket = -1;
    bool abort_channel = false;
    std::thread thread;
    std::atomic<bool> done{false};
    // The interrupt channel create_intr_chan set up (core connections).
    bool has_interrupt = false;
    RemoteFuncArgs interrupt;
  };
  struct Retired {
    std::unique_ptr<Vxi11Link> link;
    uint64_t ticket;
  };
  struct ServiceRequest {
    RemoteFuncArgs channel;
    std::string handle;
  };

  void AcceptLoop(int listen_fd, bool abort_channel);
  void MapperUdpLoop();
  void Serve(Connection* connection);
  std::string Answer(Connection* connection, const RpcCall& call);
  std::string AnswerCore(Connection* connection, const RpcCall& call);
  std::string AnswerAbort(const RpcCall& call);

  // The link `id` of `connection`, or null.
  Vxi11Link* FindLink(const Connection* connection, int32_t id);
  // The link `id` of `connection` in *link, and whether an operation on it may go on:
  // 0, error 4 when there is no such link, error 11 when another link holds the lock
  // and it is not free within the lock timeout (when the flags say to wait).
  int32_t Admit(const Connection* connection, int32_t id, uint32_t flags, uint32_t lock_timeout,
                Vxi11Link** link);
  // Queues the link's input as one program message (a line feed added if it has none).
  int32_t QueueMessage(Vxi11Link* link, uint32_t io_timeout);
  // Waits (at most `io_timeout` ms) until the router is done with the link's messages.
  static void WaitForRouter(const Vxi11Link* link, uint32_t io_timeout);
  int32_t DestroyLink(Connection* connection, int32_t id);
  void ReapRetired();
  void ReapConnections();
  void SendServiceRequests();
  void RequestService(Vxi11Link* link);

  StringQueue inbound_;
  RouterWakeup* wakeup_ = nullptr;
  ServerThreads* threads_ = nullptr;
  int core_listen_ = -1;
  int abort_listen_ = -1;
  int mapper_listen_ = -1;
  int mapper_udp_ = -1;
  uint16_t core_port_ = 0;
  uint16_t abort_port_ = 0;
  bool registered_ = false;  // with the system's port mapper

  InstrumentLock lock_;

  std::mutex links_mutex_;
  std::map<int32_t, std::unique_ptr<Vxi11Link>> links_;
  int32_t next_link_ = 1;

  std::mutex push_mutex_;  // pushes to inbound_ and the retired links
  uint64_t pushed_ = 0;
  std::vector<Retired> retired_;

  std::mutex connections_mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  uint64_t next_connection_ = 1;

  std::mutex srq_mutex_;
  std::condition_variable srq_changed_;
  std::deque<ServiceRequest> srq_queue_;
};

}  // namespace lan
