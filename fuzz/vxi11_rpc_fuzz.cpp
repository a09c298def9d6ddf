// Fuzz target for what a VXI-11 client or a port mapper client sends: the input is one
// call record. The port mapper answers it (a reply carrying the call's xid, or nothing
// for what is no call), the call header is decoded, and its arguments go through every
// core and abort channel decoder, whose results must encode back to the same bytes.
// The same bytes, read as a TCP stream through a pipe, are cut into records with record
// marking, never past the limit the reader was given.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lanserver/onc_rpc.h"
#include "lanserver/port_mapper.h"
#include "lanserver/vxi11_protocol.h"

namespace {

constexpr std::size_t kRecordMost = 2048;

void Fail(const char* what) {
  std::fprintf(stderr, "vxi11_rpc: %s\n", what);
  std::abort();
}

void CheckReply(std::string_view call, std::string_view reply) {
  if (reply.empty()) return;
  lan::XdrReader in(reply);
  lan::XdrReader header(call);
  if (in.Uint() != header.Uint() || in.Uint() != lan::kRpcReply) Fail("reply does not match its call");
  if (reply.size() % 4 != 0) Fail("reply not in whole XDR words");
}

void CheckArguments(std::string_view arguments) {
  lan::WriteArgs write;
  if (lan::DecodeWrite(arguments, 1024, &write)) {
    if (write.data.size() > 1024) Fail("write data past its limit");
    lan::XdrWriter out;
    out.Int(write.link);
    out.Uint(write.io_timeout);
    out.Uint(write.lock_timeout);
    out.Uint(write.flags);
    out.Opaque(write.data);
    lan::WriteArgs again;
    if (!lan::DecodeWrite(out.bytes(), 1024, &again) || again.data != write.data) {
      Fail("write arguments do not round-trip");
    }
  }
  lan::CreateLinkArgs create;
  if (lan::DecodeCreateLink(arguments, &create) && create.device.size() > lan::kVxiDeviceNameMost) {
    Fail("device name past its limit");
  }
  lan::EnableSrqArgs srq;
  if (lan::DecodeEnableSrq(arguments, &srq) && srq.handle.size() > lan::kVxiSrqHandleMost) {
    Fail("handle past its limit");
  }
  lan::ReadArgs read;
  lan::GenericArgs generic;
  lan::RemoteFuncArgs remote;
  int32_t link = 0;
  lan::DecodeRead(arguments, &read);
  lan::DecodeGeneric(arguments, &generic);
  lan::DecodeLock(arguments, &generic);
  lan::DecodeLink(arguments, &link);
  lan::DecodeRemoteFunc(arguments, &remote);
}

void CheckRecords(const uint8_t* data, std::size_t size) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) Fail("pipe");
  fcntl(pipe_fds[1], F_SETPIPE_SZ, 1 << 20);
  if (write(pipe_fds[1], data, size) != static_cast<ssize_t>(size)) Fail("pipe write");
  close(pipe_fds[1]);
  std::string record;
  while (lan::ReadRecord(pipe_fds[0], -1, kRecordMost, &record) == lan::RecordRead::kRecord) {
    if (record.size() > kRecordMost) Fail("record past its limit");
  }
  close(pipe_fds[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 65536) return 0;
  const std::string_view record(reinterpret_cast<const char*>(data), size);
  CheckReply(record, lan::AnswerPortMapper(record, 4447));
  lan::RpcCall call;
  if (lan::DecodeCall(record, &call) == lan::CallDecode::kCall) CheckArguments(call.arguments);
  CheckRecords(data, size);
  return 0;
}
