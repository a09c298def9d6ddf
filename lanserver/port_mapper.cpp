// The port mapper's answers (see port_mapper.h).
#include "lanserver/port_mapper.h"

#include "lanserver/onc_rpc.h"
#include "lanserver/vxi11_protocol.h"

namespace lan {

namespace {

constexpr uint32_t kProcNull = 0;
constexpr uint32_t kProcGetPort = 3;
constexpr uint32_t kProcDump = 4;

}  // namespace

std::string AnswerPortMapper(std::string_view record, uint16_t core_port) {
  RpcCall call;
  switch (DecodeCall(record, &call)) {
    case CallDecode::kNotACall: return {};
    case CallDecode::kRpcMismatch: return RpcMismatchReply(call.xid);
    case CallDecode::kCall: break;
  }
  if (call.program != kPortMapperProgram) return AcceptedReply(call.xid, AcceptStat::kProgUnavail);
  if (call.version != kPortMapperVersion) {
    return AcceptedReply(call.xid, AcceptStat::kProgMismatch, {}, kPortMapperVersion,
                         kPortMapperVersion);
  }
  XdrWriter results;
  switch (call.procedure) {
    case kProcNull:
      break;
    case kProcGetPort: {
      XdrReader in(call.arguments);
      const uint32_t program = in.Uint();
      const uint32_t version = in.Uint();
      const uint32_t protocol = in.Uint();
      in.Uint();  // port: unused
      if (in.failed()) return AcceptedReply(call.xid, AcceptStat::kGarbageArgs);
      const bool core = program == kVxiCoreProgram && version == kVxiCoreVersion &&
                        protocol == kIpProtoTcp;
      results.Uint(core ? core_port : 0);
      break;
    }
    case kProcDump:
      // The one mapping this port mapper holds, then the list's end.
      results.Bool(true);
      results.Uint(kVxiCoreProgram);
      results.Uint(kVxiCoreVersion);
      results.Uint(kIpProtoTcp);
      results.Uint(core_port);
      results.Bool(false);
      break;
    default:
      return AcceptedReply(call.xid, AcceptStat::kProcUnavail);
  }
  return AcceptedReply(call.xid, AcceptStat::kSuccess, results.bytes());
}

}  // namespace lan
