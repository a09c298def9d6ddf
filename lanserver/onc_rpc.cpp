// XDR, record marking, and RPC call and reply headers (see onc_rpc.h).
#include "lanserver/onc_rpc.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace lan {

namespace {

constexpr uint32_t kLastFragment = 0x80000000u;
constexpr uint32_t kMsgAccepted = 0;
constexpr uint32_t kMsgDenied = 1;
constexpr uint32_t kRpcMismatch = 0;
constexpr uint32_t kAuthNone = 0;

std::size_t Padded(std::size_t length) { return (length + 3) & ~static_cast<std::size_t>(3); }

// Reads exactly `count` bytes, waiting with poll on the socket and the stop.
RecordRead ReadExactly(int fd, int stop_fd, char* into, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    pollfd waits[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int ready = poll(waits, stop_fd >= 0 ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return RecordRead::kClosed;
    }
    if (stop_fd >= 0 && (waits[1].revents & POLLIN) != 0) return RecordRead::kStopped;
    const ssize_t got = recv(fd, into + done, count - done, 0);
    if (got == 0) return RecordRead::kClosed;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return RecordRead::kClosed;
    }
    done += static_cast<std::size_t>(got);
  }
  return RecordRead::kRecord;
}

void ReplyHeader(XdrWriter* out, uint32_t xid, uint32_t reply_stat) {
  out->Uint(xid);
  out->Uint(kRpcReply);
  out->Uint(reply_stat);
}

}  // namespace

uint32_t XdrReader::Uint() {
  if (failed_ || bytes_.size() - at_ < 4) {
    failed_ = true;
    return 0;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + at_);
  at_ += 4;
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::string XdrReader::Opaque(std::size_t most) {
  const uint32_t length = Uint();
  if (failed_ || length > most || Padded(length) > bytes_.size() - at_) {
    failed_ = true;
    return {};
  }
  std::string data(bytes_.substr(at_, length));
  at_ += Padded(length);
  return data;
}

void XdrReader::SkipOpaque(std::size_t most) {
  const uint32_t length = Uint();
  if (failed_ || length > most || Padded(length) > bytes_.size() - at_) {
    failed_ = true;
    return;
  }
  at_ += Padded(length);
}

void XdrWriter::Uint(uint32_t value) {
  const char word[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                        static_cast<char>(value >> 8), static_cast<char>(value)};
  bytes_.append(word, 4);
}

void XdrWriter::Opaque(std::string_view data) {
  Uint(static_cast<uint32_t>(data.size()));
  bytes_.append(data);
  bytes_.append(Padded(data.size()) - data.size(), '\0');
}

RecordRead ReadRecord(int fd, int stop_fd, std::size_t most, std::string* record) {
  record->clear();
  for (;;) {
    unsigned char mark[4];
    RecordRead read = ReadExactly(fd, stop_fd, reinterpret_cast<char*>(mark), 4);
    if (read != RecordRead::kRecord) return read;
    const uint32_t word = (uint32_t{mark[0]} << 24) | (uint32_t{mark[1]} << 16) |
                          (uint32_t{mark[2]} << 8) | mark[3];
    const std::size_t length = word & ~kLastFragment;
    if (length > most - record->size()) return RecordRead::kTooLong;
    const std::size_t at = record->size();
    record->resize(at + length);
    read = ReadExactly(fd, stop_fd, record->data() + at, length);
    if (read != RecordRead::kRecord) return read;
    if ((word & kLastFragment) != 0) return RecordRead::kRecord;
  }
}

bool WriteRecord(int fd, std::string_view record) {
  XdrWriter mark;
  mark.Uint(kLastFragment | static_cast<uint32_t>(record.size()));
  std::string bytes = mark.bytes();
  bytes.append(record);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

CallDecode DecodeCall(std::string_view record, RpcCall* call) {
  XdrReader in(record);
  call->xid = in.Uint();
  const uint32_t type = in.Uint();
  const uint32_t version = in.Uint();
  call->program = in.Uint();
  call->version = in.Uint();
  call->procedure = in.Uint();
  in.Uint();  // credential flavor
  in.SkipOpaque(kRpcAuthMost);
  in.Uint();  // verifier flavor
  in.SkipOpaque(kRpcAuthMost);
  if (in.failed() || type != kRpcCall) return CallDecode::kNotACall;
  if (version != kRpcVersion) return CallDecode::kRpcMismatch;
  call->arguments = record.substr(record.size() - in.remaining());
  return CallDecode::kCall;
}

std::string AcceptedReply(uint32_t xid, AcceptStat stat, std::string_view results, uint32_t low,
                          uint32_t high) {
  XdrWriter out;
  ReplyHeader(&out, xid, kMsgAccepted);
  out.Uint(kAuthNone);
  out.Opaque({});
  out.Uint(static_cast<uint32_t>(stat));
  if (stat == AcceptStat::kSuccess) out.bytes().append(results);
  if (stat == AcceptStat::kProgMismatch) {
    out.Uint(low);
    out.Uint(high);
  }
  return out.bytes();
}

std::string RpcMismatchReply(uint32_t xid) {
  XdrWriter out;
  ReplyHeader(&out, xid, kMsgDenied);
  out.Uint(kRpcMismatch);
  out.Uint(kRpcVersion);
  out.Uint(kRpcVersion);
  return out.bytes();
}

std::string EncodeCall(uint32_t xid, uint32_t program, uint32_t version, uint32_t procedure,
                       std::string_view arguments) {
  XdrWriter out;
  out.Uint(xid);
  out.Uint(kRpcCall);
  out.Uint(kRpcVersion);
  out.Uint(program);
  out.Uint(version);
  out.Uint(procedure);
  out.Uint(kAuthNone);
  out.Opaque({});
  out.Uint(kAuthNone);
  out.Opaque({});
  out.bytes().append(arguments);
  return out.bytes();
}

}  // namespace lan
