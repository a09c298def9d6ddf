// The VXI-11 programs, procedures, flags, reasons and error codes, and the argument
// records of the core and abort channels decoded from XDR (each decoder false on a
// record it cannot read: the call is then answered GARBAGE_ARGS).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lan {

inline constexpr uint32_t kVxiCoreProgram = 0x0607AF;
inline constexpr uint32_t kVxiCoreVersion = 1;
inline constexpr uint32_t kVxiAbortProgram = 0x0607B0;
inline constexpr uint32_t kVxiAbortVersion = 1;
inline constexpr uint32_t kVxiInterruptProgram = 0x0607B1;
inline constexpr uint32_t kVxiInterruptVersion = 1;

enum VxiProcedure : uint32_t {
  kCreateLink = 10,
  kDeviceWrite = 11,
  kDeviceRead = 12,
  kDeviceReadStb = 13,
  kDeviceTrigger = 14,
  kDeviceClear = 15,
  kDeviceRemote = 16,
  kDeviceLocal = 17,
  kDeviceLock = 18,
  kDeviceUnlock = 19,
  kDeviceEnableSrq = 20,
  kDeviceDocmd = 22,
  kDestroyLink = 23,
  kCreateIntrChan = 25,
  kDestroyIntrChan = 26,
  kDeviceAbort = 1,      // abort channel
  kDeviceIntrSrq = 30,   // interrupt channel
};

// Operation flags.
inline constexpr uint32_t kFlagWaitLock = 0x01;
inline constexpr uint32_t kFlagEnd = 0x08;
inline constexpr uint32_t kFlagTermCharSet = 0x80;

// Read reasons.
inline constexpr int32_t kReasonRequestCount = 0x01;
inline constexpr int32_t kReasonTermChar = 0x02;
inline constexpr int32_t kReasonEnd = 0x04;

enum VxiError : int32_t {
  kVxiNoError = 0,
  kVxiSyntaxError = 1,
  kVxiInvalidLink = 4,
  kVxiParameterError = 5,
  kVxiChannelNotEstablished = 6,
  kVxiNotSupported = 8,
  kVxiOutOfResources = 9,
  kVxiLocked = 11,
  kVxiNoLockHeld = 12,
  kVxiIoTimeout = 15,
  kVxiIoError = 17,
  kVxiAbort = 23,
  kVxiChannelAlreadyEstablished = 29,
};

// The longest device name and SRQ handle accepted.
inline constexpr std::size_t kVxiDeviceNameMost = 256;
inline constexpr std::size_t kVxiSrqHandleMost = 40;

struct CreateLinkArgs {
  int32_t client_id = 0;
  bool lock_device = false;
  uint32_t lock_timeout = 0;
  std::string device;
};
struct WriteArgs {
  int32_t link = 0;
  uint32_t io_timeout = 0;
  uint32_t lock_timeout = 0;
  uint32_t flags = 0;
  std::string data;
};
struct ReadArgs {
  int32_t link = 0;
  uint32_t request_size = 0;
  uint32_t io_timeout = 0;
  uint32_t lock_timeout = 0;
  uint32_t flags = 0;
  char term_char = 0;
};
// Device_GenericParms, and the lock call's arguments (no io_timeout).
struct GenericArgs {
  int32_t link = 0;
  uint32_t flags = 0;
  uint32_t lock_timeout = 0;
  uint32_t io_timeout = 0;
};
struct EnableSrqArgs {
  int32_t link = 0;
  bool enable = false;
  std::string handle;
};
struct RemoteFuncArgs {
  uint32_t host_address = 0;  // IPv4, host order
  uint32_t host_port = 0;
  uint32_t program = 0;
  uint32_t version = 0;
  uint32_t family = 0;  // 0 TCP, 1 UDP
};

bool DecodeCreateLink(std::string_view bytes, CreateLinkArgs* args);
// Data longer than `most` bytes is refused.
bool DecodeWrite(std::string_view bytes, std::size_t most, WriteArgs* args);
bool DecodeRead(std::string_view bytes, ReadArgs* args);
bool DecodeGeneric(std::string_view bytes, GenericArgs* args);
bool DecodeLock(std::string_view bytes, GenericArgs* args);
bool DecodeLink(std::string_view bytes, int32_t* link);
bool DecodeEnableSrq(std::string_view bytes, EnableSrqArgs* args);
bool DecodeRemoteFunc(std::string_view bytes, RemoteFuncArgs* args);

}  // namespace lan
