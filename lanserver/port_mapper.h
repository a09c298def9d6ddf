// The port mapper (program 100000, version 2) as the LAN server answers it when it owns
// port 111: NULL, GETPORT and DUMP, for the VXI-11 core program alone. Any other
// program's port is 0; other versions, procedures and programs get the RPC errors.
// The same answer serves calls over UDP (one datagram a call) and over TCP (one record).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lan {

inline constexpr uint32_t kPortMapperProgram = 100000;
inline constexpr uint32_t kPortMapperVersion = 2;
inline constexpr uint16_t kPortMapperPort = 111;
inline constexpr uint32_t kIpProtoTcp = 6;
inline constexpr uint32_t kIpProtoUdp = 17;

// The reply to one call record, or "" when the record is no call to answer.
std::string AnswerPortMapper(std::string_view record, uint16_t core_port);

}  // namespace lan
