// The VXI-11 instrument server (see vxi11_server.h).
#include "lanserver/vxi11_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "core/stored_file.h"
#include "lanserver/port_mapper.h"
#include "lanserver/socket_io.h"
#include "lanserver/system_port_mapper.h"
#include "platform/paths.h"

namespace lan {

namespace {

constexpr const char* kSource = "_ethernet/Vxi11Server";
constexpr uint8_t kStbRequestService = 0x40;
// Ports tried from the preferred one when it is taken.
constexpr int kPortsTried = 64;
// Waits are taken in slices so that a stop, an abort or a clear is seen within one.
constexpr std::chrono::milliseconds kSlice{50};
// How long a service request may take to connect to its client.
constexpr int kInterruptConnectMs = 1000;
// A link with this many chunks waiting for the router holds its writer back.
constexpr int32_t kQueuedMost = 64;

using Clock = std::chrono::steady_clock;

Vxi11Link* LinkOf(IEEE_Client* block) { return static_cast<Vxi11Link*>(block->owner); }

uint64_t LockOwner(const Vxi11Link& link) { return static_cast<uint64_t>(link.id); }

// A non-blocking socket bound to the first free port from `preferred` (UDP, or TCP and
// listening); -1 when none. Quiet, unlike OpenListener: a taken port is expected here.
int BindFirstFree(int type, uint16_t preferred, int tries, uint16_t* port) {
  for (int offset = 0; offset < tries; ++offset) {
    const int candidate = preferred + offset;
    if (candidate > 65535) break;
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(candidate));
    if (inet_pton(AF_INET, platform::BindAddress().c_str(), &address.sin_addr) != 1) {
      address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        (type != SOCK_STREAM || listen(fd, SOMAXCONN) == 0)) {
      *port = static_cast<uint16_t>(candidate);
      return fd;
    }
    close(fd);
  }
  return -1;
}

// Whether the client has closed its end (a read it left waiting need not wait on).
bool PeerGone(int fd) {
  pollfd check{fd, POLLRDHUP, 0};
  return poll(&check, 1, 0) == 1 && (check.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

std::string ErrorOnly(int32_t error) {
  XdrWriter out;
  out.Int(error);
  return out.bytes();
}

std::string Success(uint32_t xid, const std::string& results) {
  return AcceptedReply(xid, AcceptStat::kSuccess, results);
}

std::string Garbage(uint32_t xid) { return AcceptedReply(xid, AcceptStat::kGarbageArgs); }

}  // namespace

Vxi11Server::Vxi11Server() = default;

Vxi11Server::~Vxi11Server() { Close(); }

int Vxi11Server::Start(uint16_t core_port, uint16_t mapper_port, ServerThreads& threads,
                       RouterWakeup* wakeup) {
  wakeup_ = wakeup;
  threads_ = &threads;
  core_listen_ = BindFirstFree(SOCK_STREAM, core_port, kPortsTried, &core_port_);
  if (core_listen_ < 0) {
    diag_error_line(kSource, "Start", __LINE__, "no free port for the VXI-11 core channel from %u\n",
                    core_port);
    return EADDRINUSE;
  }
  abort_listen_ = BindFirstFree(SOCK_STREAM, static_cast<uint16_t>(core_port_ + 1), kPortsTried,
                                &abort_port_);
  if (abort_listen_ < 0) {
    diag_error_line(kSource, "Start", __LINE__, "no free port for the VXI-11 abort channel\n");
    return EADDRINUSE;
  }
  uint16_t bound = 0;
  mapper_udp_ = BindFirstFree(SOCK_DGRAM, mapper_port, 1, &bound);
  if (mapper_udp_ >= 0) mapper_listen_ = BindFirstFree(SOCK_STREAM, mapper_port, 1, &bound);
  if (mapper_udp_ < 0 || mapper_listen_ < 0) {
    if (mapper_udp_ >= 0) close(mapper_udp_);
    mapper_udp_ = -1;
    registered_ = RegisterWithSystemPortMapper(core_port_);
    if (!registered_) {
      std::printf("WARNING: [%s | %s | %d] the port mapper's port %u is taken and no system port "
                  "mapper took the VXI-11 core channel: clients must be told its port, %u\n",
                  kSource, "Start", __LINE__, mapper_port, core_port_);
      std::fflush(stdout);
    }
  }
  // Where the channels are, for the virtual chassis to tell its user.
  char ports[96];
  std::snprintf(ports, sizeof ports, "core=%u abort=%u portmapper=%s\n", core_port_, abort_port_,
                mapper_udp_ >= 0 ? "own" : registered_ ? "system" : "none");
  ReplaceStoredFile(kVxiPortsFile, ports);
  int result = threads.Start([this] { AcceptLoop(core_listen_, false); });
  if (result == 0) result = threads.Start([this] { AcceptLoop(abort_listen_, true); });
  if (result == 0 && mapper_listen_ >= 0) {
    result = threads.Start([this] { AcceptLoop(mapper_listen_, false); });
  }
  if (result == 0 && mapper_udp_ >= 0) result = threads.Start([this] { MapperUdpLoop(); });
  if (result == 0) result = threads.Start([this] { SendServiceRequests(); });
  return result;
}

void Vxi11Server::Close() {
  {
    std::lock_guard hold(connections_mutex_);
    for (auto& connection : connections_) {
      if (connection->socket >= 0) shutdown(connection->socket, SHUT_RDWR);
    }
  }
  for (;;) {
    std::unique_ptr<Connection> connection;
    {
      std::lock_guard hold(connections_mutex_);
      if (connections_.empty()) break;
      connection = std::move(connections_.front());
      connections_.pop_front();
    }
    if (connection->thread.joinable()) connection->thread.join();
    if (connection->socket >= 0) close(connection->socket);
  }
  {
    std::lock_guard hold(links_mutex_);
    links_.clear();
  }
  {
    std::lock_guard hold(push_mutex_);
    retired_.clear();
  }
  if (registered_) UnregisterFromSystemPortMapper(core_port_);
  registered_ = false;
  for (int* fd : {&core_listen_, &abort_listen_, &mapper_listen_, &mapper_udp_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

// ---- Threads ---------------------------------------------------------------------

void Vxi11Server::AcceptLoop(int listen_fd, bool abort_channel) {
  const bool mapper = listen_fd == mapper_listen_;
  while (IsRunning()) {
    ReapConnections();
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = AcceptConnection(listen_fd, threads_->stop_fd(), &peer, &length);
    if (fd == kStopped) break;
    if (fd < 0) {
      PauseUnlessStopped(threads_->stop_fd(), kAcceptRetryMs);  // no descriptors left, say
      continue;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard hold(connections_mutex_);
    if (connections_.size() >= kVxiConnectionsMost) {
      close(fd);  // too many at once: the client may try again
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->id = next_connection_++;
    connection->socket = fd;
    connection->abort_channel = abort_channel;
    Connection* raw = connection.get();
    if (mapper) {
      raw->thread = std::thread([this, raw] {
        std::string record;
        while (ReadRecord(raw->socket, threads_->stop_fd(), kVxiRecordMost, &record) ==
               RecordRead::kRecord) {
          const std::string reply = AnswerPortMapper(record, core_port_);
          if (!reply.empty() && !WriteRecord(raw->socket, reply)) break;
        }
        shutdown(raw->socket, SHUT_RDWR);
        raw->done = true;
      });
    } else {
      raw->thread = std::thread([this, raw] { Serve(raw); });
    }
    connections_.push_back(std::move(connection));
  }
}

void Vxi11Server::ReapConnections() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard hold(connections_mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : finished) {
    connection->thread.join();
    close(connection->socket);
  }
  ReapRetired();
}

void Vxi11Server::MapperUdpLoop() {
  std::vector<char> datagram(kVxiRecordMost);
  while (IsRunning()) {
    if (WaitReady(mapper_udp_, POLLIN, threads_->stop_fd(), -1) != 1) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const ssize_t got = recvfrom(mapper_udp_, datagram.data(), datagram.size(), 0,
                                 reinterpret_cast<sockaddr*>(&peer), &length);
    if (got <= 0) continue;
    const std::string reply =
        AnswerPortMapper(std::string_view(datagram.data(), static_cast<size_t>(got)), core_port_);
    if (!reply.empty()) {
      sendto(mapper_udp_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer),
             length);
    }
  }
}

void Vxi11Server::Serve(Connection* connection) {
  std::string record;
  for (;;) {
    const RecordRead read =
        ReadRecord(connection->socket, threads_->stop_fd(), kVxiRecordMost, &record);
    if (read != RecordRead::kRecord) break;
    RpcCall call;
    std::string reply;
    switch (DecodeCall(record, &call)) {
      case CallDecode::kNotACall: continue;
      case CallDecode::kRpcMismatch: reply = RpcMismatchReply(call.xid); break;
      case CallDecode::kCall: reply = Answer(connection, call); break;
    }
    if (!WriteRecord(connection->socket, reply)) break;
  }
  // The connection's links go with it, and the locks they held.
  std::vector<int32_t> owned;
  {
    std::lock_guard hold(links_mutex_);
    for (const auto& [id, link] : links_) {
      if (link->connection == connection->id) owned.push_back(id);
    }
  }
  for (int32_t id : owned) DestroyLink(connection, id);
  shutdown(connection->socket, SHUT_RDWR);
  connection->done = true;
}

std::string Vxi11Server::Answer(Connection* connection, const RpcCall& call) {
  const uint32_t program = connection->abort_channel ? kVxiAbortProgram : kVxiCoreProgram;
  if (call.program != program) return AcceptedReply(call.xid, AcceptStat::kProgUnavail);
  if (call.version != 1) return AcceptedReply(call.xid, AcceptStat::kProgMismatch, {}, 1, 1);
  return connection->abort_channel ? AnswerAbort(call) : AnswerCore(connection, call);
}

std::string Vxi11Server::AnswerAbort(const RpcCall& call) {
  if (call.procedure == 0) return Success(call.xid, {});
  if (call.procedure != kDeviceAbort) return AcceptedReply(call.xid, AcceptStat::kProcUnavail);
  int32_t id = 0;
  if (!DecodeLink(call.arguments, &id)) return Garbage(call.xid);
  std::lock_guard hold(links_mutex_);
  auto found = links_.find(id);
  if (found == links_.end()) return Success(call.xid, ErrorOnly(kVxiInvalidLink));
  Vxi11Link& link = *found->second;
  {
    std::lock_guard link_hold(link.mutex);
    ++link.interrupts;
  }
  link.changed.notify_all();
  return Success(call.xid, ErrorOnly(kVxiNoError));
}

// ---- The core channel ------------------------------------------------------------

Vxi11Link* Vxi11Server::FindLink(const Connection* connection, int32_t id) {
  std::lock_guard hold(links_mutex_);
  auto found = links_.find(id);
  if (found == links_.end() || found->second->connection != connection->id) return nullptr;
  return found->second.get();
}

int32_t Vxi11Server::Admit(const Connection* connection, int32_t id, uint32_t flags,
                           uint32_t lock_timeout, Vxi11Link** link) {
  *link = FindLink(connection, id);
  if (*link == nullptr) return kVxiInvalidLink;
  const uint32_t wait = (flags & kFlagWaitLock) != 0 ? lock_timeout : 0;
  return lock_.WaitFree(LockOwner(**link), wait) ? kVxiNoError : kVxiLocked;
}

int32_t Vxi11Server::QueueMessage(Vxi11Link* link, uint32_t io_timeout) {
  std::string message;
  {
    std::lock_guard hold(link->mutex);
    message.swap(link->input);
  }
  if (message.empty() || message.back() != '\n') message.push_back('\n');
  {
    std::lock_guard hold(push_mutex_);
    pushed_ += static_cast<uint64_t>(
        QueueInboundBytes(&inbound_, wakeup_, &link->block, message.data(), message.size()));
  }
  // A link whose messages pile up in front of the router waits for it, so that its
  // queued bytes stay bounded however fast it writes.
  const auto deadline = Clock::now() + std::chrono::milliseconds(io_timeout);
  while (link->block.pending_chunks.load() > kQueuedMost) {
    if (!IsRunning() || Clock::now() >= deadline) return kVxiIoTimeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return kVxiNoError;
}

void Vxi11Server::WaitForRouter(const Vxi11Link* link, uint32_t io_timeout) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(io_timeout);
  while (link->block.pending_chunks.load() > 0 && IsRunning() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int32_t Vxi11Server::DestroyLink(Connection* connection, int32_t id) {
  std::unique_ptr<Vxi11Link> link;
  {
    std::lock_guard hold(links_mutex_);
    auto found = links_.find(id);
    if (found == links_.end() || found->second->connection != connection->id) {
      return kVxiInvalidLink;
    }
    link = std::move(found->second);
    links_.erase(found);
  }
  lock_.Release(LockOwner(*link));
  // Freed once the router has passed everything queued for it.
  std::lock_guard hold(push_mutex_);
  pushed_ += static_cast<uint64_t>(QueueInboundBytes(&inbound_, wakeup_, nullptr, nullptr, 0));
  retired_.push_back({std::move(link), pushed_});
  return kVxiNoError;
}

void Vxi11Server::ReapRetired() {
  std::lock_guard hold(push_mutex_);
  const uint64_t taken = pushed_ - static_cast<uint64_t>(inbound_.Count());
  std::erase_if(retired_, [taken](const Retired& entry) { return entry.ticket <= taken; });
}

std::string Vxi11Server::AnswerCore(Connection* connection, const RpcCall& call) {
  XdrWriter out;
  switch (call.procedure) {
    case 0:
      return Success(call.xid, {});
    case kCreateLink: {
      CreateLinkArgs args;
      if (!DecodeCreateLink(call.arguments, &args)) return Garbage(call.xid);
      ReapRetired();
      auto link = std::make_unique<Vxi11Link>();
      link->connection = connection->id;
      link->block.owner = link.get();
      link->block.type = kClientTypeVxi11;
      int32_t error = kVxiNoError;
      {
        std::lock_guard hold(links_mutex_);
        if (links_.size() >= kVxiLinksMost) {
          error = kVxiOutOfResources;
        } else {
          link->id = next_link_++;
          if (next_link_ <= 0) next_link_ = 1;
        }
      }
      if (error == kVxiNoError && args.lock_device &&
          !lock_.Acquire(LockOwner(*link), args.lock_timeout)) {
        error = kVxiLocked;
      }
      const int32_t id = error == kVxiNoError ? link->id : 0;
      if (error == kVxiNoError) {
        std::lock_guard hold(links_mutex_);
        links_[id] = std::move(link);
      }
      out.Int(error);
      out.Int(id);
      out.Uint(abort_port_);
      out.Uint(kVxiMaxRecvSize);
      return Success(call.xid, out.bytes());
    }
    case kDeviceWrite: {
      WriteArgs args;
      if (!DecodeWrite(call.arguments, kVxiMaxRecvSize, &args)) return Garbage(call.xid);
      Vxi11Link* link = nullptr;
      int32_t error = Admit(connection, args.link, args.flags, args.lock_timeout, &link);
      uint32_t taken = 0;
      if (error == kVxiNoError) {
        bool ends = (args.flags & kFlagEnd) != 0 || (!args.data.empty() && args.data.back() == '\n');
        {
          std::lock_guard hold(link->mutex);
          link->input.append(args.data);
          ends = ends || link->input.size() >= kVxiInputMost;
        }
        taken = static_cast<uint32_t>(args.data.size());
        if (ends) error = QueueMessage(link, args.io_timeout);
      }
      out.Int(error);
      out.Uint(taken);
      return Success(call.xid, out.bytes());
    }
    case kDeviceRead: {
      ReadArgs args;
      if (!DecodeRead(call.arguments, &args)) return Garbage(call.xid);
      Vxi11Link* link = nullptr;
      int32_t error = Admit(connection, args.link, args.flags, args.lock_timeout, &link);
      int32_t reason = 0;
      std::string data;
      if (error == kVxiNoError) {
        const bool term = (args.flags & kFlagTermCharSet) != 0;
        const std::size_t want = std::max<uint32_t>(args.request_size, 1);
        const auto deadline = Clock::now() + std::chrono::milliseconds(args.io_timeout);
        std::unique_lock hold(link->mutex);
        const uint64_t interrupts = link->interrupts;
        auto ready = [&] {
          return !link->ends.empty() || link->output.size() >= want ||
                 (term && link->output.find(args.term_char) != std::string::npos);
        };
        while (!ready()) {
          if (link->interrupts != interrupts) {
            error = kVxiAbort;
            break;
          }
          if (PeerGone(connection->socket)) {
            error = kVxiIoError;  // no one is left to take the answer
            break;
          }
          if (!IsRunning() || Clock::now() >= deadline) {
            error = kVxiIoTimeout;
            break;
          }
          link->changed.wait_for(hold, std::min<Clock::duration>(kSlice, deadline - Clock::now()));
        }
        if (error == kVxiNoError) {
          std::size_t count = std::min(want, link->output.size());
          if (term) {
            const std::size_t at = link->output.find(args.term_char);
            if (at != std::string::npos && at < count) {
              count = at + 1;
              reason |= kReasonTermChar;
            }
          }
          if (!link->ends.empty() && link->ends.front() <= count) {
            count = link->ends.front();
            reason = kReasonEnd | (term && link->output[count - 1] == args.term_char ? kReasonTermChar : 0);
          }
          if (reason == 0) reason = kReasonRequestCount;
          data = link->output.substr(0, count);
          link->output.erase(0, count);
          for (std::size_t& end : link->ends) end -= std::min(end, count);
          while (!link->ends.empty() && link->ends.front() == 0) link->ends.pop_front();
        }
      }
      out.Int(error);
      out.Int(reason);
      out.Opaque(data);
      return Success(call.xid, out.bytes());
    }
    case kDeviceReadStb:
    case kDeviceTrigger:
    case kDeviceClear:
    case kDeviceRemote:
    case kDeviceLocal: {
      GenericArgs args;
      if (!DecodeGeneric(call.arguments, &args)) return Garbage(call.xid);
      Vxi11Link* link = nullptr;
      int32_t error = Admit(connection, args.link, args.flags, args.lock_timeout, &link);
      uint8_t stb = 0;
      if (error == kVxiNoError) {
        if (call.procedure == kDeviceReadStb) {
          // The byte as the messages written before it left it.
          WaitForRouter(link, args.io_timeout);
          std::lock_guard hold(link->mutex);
          stb = static_cast<uint8_t>((link->stb & ~kStbMessageAvailable) |
                                     (link->output.empty() ? 0 : kStbMessageAvailable));
        } else if (call.procedure == kDeviceTrigger) {
          {
            std::lock_guard hold(link->mutex);
            link->input = "*TRG";
          }
          error = QueueMessage(link, args.io_timeout);
        } else if (call.procedure == kDeviceClear) {
          // What was queued before the clear is answered first, so that its responses
          // are dropped with the rest.
          WaitForRouter(link, args.io_timeout);
          {
            std::lock_guard hold(link->mutex);
            link->input.clear();
            link->output.clear();
            link->ends.clear();
            ++link->interrupts;
          }
          link->changed.notify_all();
        }
      }
      out.Int(error);
      if (call.procedure == kDeviceReadStb) out.Uint(stb);
      return Success(call.xid, out.bytes());
    }
    case kDeviceLock: {
      GenericArgs args;
      if (!DecodeLock(call.arguments, &args)) return Garbage(call.xid);
      Vxi11Link* link = FindLink(connection, args.link);
      int32_t error = kVxiInvalidLink;
      if (link != nullptr) {
        const uint32_t wait = (args.flags & kFlagWaitLock) != 0 ? args.lock_timeout : 0;
        error = lock_.Acquire(LockOwner(*link), wait) ? kVxiNoError : kVxiLocked;
      }
      return Success(call.xid, ErrorOnly(error));
    }
    case kDeviceUnlock: {
      int32_t id = 0;
      if (!DecodeLink(call.arguments, &id)) return Garbage(call.xid);
      Vxi11Link* link = FindLink(connection, id);
      int32_t error = kVxiInvalidLink;
      if (link != nullptr) error = lock_.Release(LockOwner(*link)) ? kVxiNoError : kVxiNoLockHeld;
      return Success(call.xid, ErrorOnly(error));
    }
    case kDeviceEnableSrq: {
      EnableSrqArgs args;
      if (!DecodeEnableSrq(call.arguments, &args)) return Garbage(call.xid);
      Vxi11Link* link = FindLink(connection, args.link);
      if (link == nullptr) return Success(call.xid, ErrorOnly(kVxiInvalidLink));
      std::lock_guard hold(link->mutex);
      link->srq_enabled = args.enable;
      link->srq_handle = args.handle;
      return Success(call.xid, ErrorOnly(kVxiNoError));
    }
    case kDeviceDocmd: {
      XdrReader in(call.arguments);
      const int32_t id = in.Int();
      if (in.failed()) return Garbage(call.xid);
      out.Int(FindLink(connection, id) == nullptr ? kVxiInvalidLink : kVxiNotSupported);
      out.Opaque({});
      return Success(call.xid, out.bytes());
    }
    case kDestroyLink: {
      int32_t id = 0;
      if (!DecodeLink(call.arguments, &id)) return Garbage(call.xid);
      return Success(call.xid, ErrorOnly(DestroyLink(connection, id)));
    }
    case kCreateIntrChan: {
      RemoteFuncArgs args;
      if (!DecodeRemoteFunc(call.arguments, &args)) return Garbage(call.xid);
      std::lock_guard hold(connections_mutex_);
      int32_t error = kVxiNoError;
      if (connection->has_interrupt) {
        error = kVxiChannelAlreadyEstablished;
      } else if (args.family != 0) {
        error = kVxiNotSupported;  // TCP only
      } else {
        connection->has_interrupt = true;
        connection->interrupt = args;
      }
      return Success(call.xid, ErrorOnly(error));
    }
    case kDestroyIntrChan: {
      if (!call.arguments.empty()) return Garbage(call.xid);
      std::lock_guard hold(connections_mutex_);
      const int32_t error = connection->has_interrupt ? kVxiNoError : kVxiChannelNotEstablished;
      connection->has_interrupt = false;
      return Success(call.xid, ErrorOnly(error));
    }
    default:
      return AcceptedReply(call.xid, AcceptStat::kProcUnavail);
  }
}

// ---- The router's hooks ----------------------------------------------------------

int Vxi11Server::Deliver(IEEE_Client* block, const char* text) {
  Vxi11Link* link = LinkOf(block);
  const std::size_t length = std::strlen(text);
  {
    std::lock_guard hold(link->mutex);
    link->output.append(text, length);
    // A response's last piece ends with its line feed.
    if (length > 0 && text[length - 1] == '\n') link->ends.push_back(link->output.size());
  }
  link->changed.notify_all();
  return static_cast<int>(length);
}

bool Vxi11Server::OutputPending(IEEE_Client* block) {
  Vxi11Link* link = LinkOf(block);
  std::lock_guard hold(link->mutex);
  return !link->output.empty();
}

// The service-request sender is reached through the one server of the program.
namespace {
Vxi11Server* g_server = nullptr;
std::mutex g_server_mutex;
}  // namespace

void Vxi11Server::StoreStb(IEEE_Client* block, uint8_t value) {
  Vxi11Link* link = LinkOf(block);
  bool rising = false;
  {
    std::lock_guard hold(link->mutex);
    rising = (link->stb & kStbRequestService) == 0 && (value & kStbRequestService) != 0 &&
             link->srq_enabled;
    link->stb = value;
    block->stb = value;
  }
  if (!rising) return;
  std::lock_guard hold(g_server_mutex);
  if (g_server != nullptr) g_server->RequestService(link);
}

void Vxi11Server::RequestService(Vxi11Link* link) {
  ServiceRequest request;
  {
    std::lock_guard hold(connections_mutex_);
    const Connection* owner = nullptr;
    for (const auto& connection : connections_) {
      if (connection->id == link->connection) owner = connection.get();
    }
    if (owner == nullptr || !owner->has_interrupt) return;
    request.channel = owner->interrupt;
  }
  {
    std::lock_guard hold(link->mutex);
    request.handle = link->srq_handle;
  }
  {
    std::lock_guard hold(srq_mutex_);
    srq_queue_.push_back(std::move(request));
  }
  srq_changed_.notify_one();
}

// Sends each queued service request as a one-way device_intr_srq call on its own short
// connection: nothing waits for a reply, and a client that does not listen costs the
// failed connect alone.
void Vxi11Server::SendServiceRequests() {
  {
    std::lock_guard hold(g_server_mutex);
    g_server = this;
  }
  uint32_t xid = 1;
  while (IsRunning()) {
    ServiceRequest request;
    {
      std::unique_lock hold(srq_mutex_);
      if (srq_queue_.empty()) {
        // Woken by each request; the time limit only bounds how late a stop is seen.
        srq_changed_.wait_for(hold, std::chrono::seconds(1));
        continue;
      }
      request = std::move(srq_queue_.front());
      srq_queue_.pop_front();
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) continue;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(request.channel.host_port));
    address.sin_addr.s_addr = htonl(request.channel.host_address);
    const bool connected =
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
        (errno == EINPROGRESS && WaitReady(fd, POLLOUT, threads_->stop_fd(), kInterruptConnectMs) == 1);
    int failure = 0;
    socklen_t size = sizeof failure;
    if (connected && getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) == 0 && failure == 0) {
      XdrWriter arguments;
      arguments.Opaque(request.handle);
      const std::string call = EncodeCall(xid++, request.channel.program, request.channel.version,
                                          kDeviceIntrSrq, arguments.bytes());
      const int flags = fcntl(fd, F_GETFL);
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
      WriteRecord(fd, call);
    }
    close(fd);
  }
  std::lock_guard hold(g_server_mutex);
  g_server = nullptr;
}

}  // namespace lan
