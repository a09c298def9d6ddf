// The VXI-11 client of the benchmarks and system tests (see vxi11_client.h).
#include "lanserver/vxi11_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "lanserver/onc_rpc.h"
#include "lanserver/vxi11_protocol.h"

namespace lan {

namespace {

// The results of an accepted, successful reply; false otherwise.
bool Results(const std::string& reply, uint32_t xid, std::string_view* results) {
  XdrReader in(reply);
  if (in.Uint() != xid || in.Uint() != kRpcReply || in.Uint() != 0) return false;
  in.Uint();
  in.SkipOpaque(kRpcAuthMost);
  if (in.Uint() != 0 || in.failed()) return false;
  *results = std::string_view(reply).substr(reply.size() - in.remaining());
  return true;
}

}  // namespace

Vxi11Client::~Vxi11Client() { Close(); }

bool Vxi11Client::Open(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  const int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const timeval limit{10, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  XdrWriter args;
  args.Int(1);
  args.Bool(false);
  args.Uint(0);
  args.Opaque("inst0");
  const std::string reply = Call(kCreateLink, args.bytes());
  std::string_view results;
  if (!Results(reply, xid_, &results)) return false;
  XdrReader out(results);
  const int32_t error = out.Int();
  link_ = out.Int();
  return error == 0 && !out.failed();
}

std::string Vxi11Client::Call(uint32_t procedure, const std::string& arguments) {
  if (!WriteRecord(fd_, EncodeCall(++xid_, kVxiCoreProgram, kVxiCoreVersion, procedure, arguments))) {
    return {};
  }
  std::string reply;
  if (ReadRecord(fd_, -1, 1 << 20, &reply) != RecordRead::kRecord) return {};
  return reply;
}

bool Vxi11Client::Write(const std::string& message) {
  XdrWriter args;
  args.Int(link_);
  args.Uint(5000);
  args.Uint(0);
  args.Uint(kFlagEnd);
  args.Opaque(message);
  std::string_view results;
  const std::string reply = Call(kDeviceWrite, args.bytes());
  if (!Results(reply, xid_, &results)) return false;
  XdrReader out(results);
  return out.Int() == 0 && out.Uint() == message.size();
}

bool Vxi11Client::Read(std::string* response, uint32_t timeout_ms) {
  response->clear();
  for (;;) {
    XdrWriter args;
    args.Int(link_);
    args.Uint(1 << 16);
    args.Uint(timeout_ms);
    args.Uint(0);
    args.Uint(0);
    args.Uint(0);
    std::string_view results;
    const std::string reply = Call(kDeviceRead, args.bytes());
    if (!Results(reply, xid_, &results)) return false;
    XdrReader out(results);
    const int32_t error = out.Int();
    const int32_t reason = out.Int();
    response->append(out.Opaque(1 << 20));
    if (error != 0 || out.failed()) return false;
    if ((reason & kReasonEnd) != 0) return true;
  }
}

void Vxi11Client::Close() {
  if (fd_ < 0) return;
  XdrWriter args;
  args.Int(link_);
  Call(kDestroyLink, args.bytes());
  close(fd_);
  fd_ = -1;
}

uint16_t Vxi11CorePort(const std::string& root) {
  std::ifstream file(root + "/tmp/vxi11_ports");
  std::string line;
  unsigned core = 0;
  if (!std::getline(file, line) || std::sscanf(line.c_str(), "core=%u", &core) != 1) return 0;
  return static_cast<uint16_t>(core);
}

}  // namespace lan
