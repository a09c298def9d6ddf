// ONC RPC as the VXI-11 channels and the port mapper speak it: XDR values read from and
// written to a record, the record marking of RPC over TCP (a 4-byte mark per fragment,
// the top bit on the last one), the call header a server decodes and the replies it
// encodes. Every reader is bounded by its record and fails cleanly on short or
// oversized input, never reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lan {

// An XDR decoder over one record's bytes. A read past the end, or an opaque longer
// than its limit, sets the failed flag and yields zero or empty values.
class XdrReader {
 public:
  explicit XdrReader(std::string_view bytes) : bytes_(bytes) {}

  uint32_t Uint();
  int32_t Int() { return static_cast<int32_t>(Uint()); }
  bool Bool() { return Uint() != 0; }
  // Variable-length opaque data or string (length word, bytes, padding to 4) of at most
  // `most` bytes.
  std::string Opaque(std::size_t most);
  // Skips an opaque of at most `most` bytes (credentials and verifiers).
  void SkipOpaque(std::size_t most);

  bool failed() const { return failed_; }
  std::size_t remaining() const { return bytes_.size() - at_; }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

// An XDR encoder appending to a string.
class XdrWriter {
 public:
  void Uint(uint32_t value);
  void Int(int32_t value) { Uint(static_cast<uint32_t>(value)); }
  void Bool(bool value) { Uint(value ? 1 : 0); }
  void Opaque(std::string_view data);

  const std::string& bytes() const { return bytes_; }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

// ---- Record marking (RPC over TCP)

// What reading one record from a stream gave.
enum class RecordRead { kRecord, kClosed, kTooLong, kStopped };

// Reads fragments from `fd` until the last one, into *record; a record whose fragments
// add up to more than `most` bytes is kTooLong (the stream cannot be trusted after it).
// Waits with poll so that `stop_fd` becoming readable ends the wait (kStopped).
RecordRead ReadRecord(int fd, int stop_fd, std::size_t most, std::string* record);
// Writes `record` as one last fragment. False when the peer is gone.
bool WriteRecord(int fd, std::string_view record);

// ---- Calls and replies

inline constexpr uint32_t kRpcVersion = 2;
inline constexpr uint32_t kRpcCall = 0;
inline constexpr uint32_t kRpcReply = 1;

// The longest credential or verifier body RPC allows.
inline constexpr std::size_t kRpcAuthMost = 400;

enum class AcceptStat : uint32_t {
  kSuccess = 0,
  kProgUnavail = 1,
  kProgMismatch = 2,
  kProcUnavail = 3,
  kGarbageArgs = 4,
  kSystemErr = 5,
};

struct RpcCall {
  uint32_t xid = 0;
  uint32_t program = 0;
  uint32_t version = 0;
  uint32_t procedure = 0;
  std::string_view arguments;  // the record's bytes after the header
};

// What decoding a call header gave: a call to serve, an RPC version other than 2 (to
// be answered MSG_DENIED with RPC_MISMATCH), or something that is no call at all (a
// reply, a truncated header: dropped without an answer).
enum class CallDecode { kCall, kRpcMismatch, kNotACall };

CallDecode DecodeCall(std::string_view record, RpcCall* call);

// An accepted reply: SUCCESS followed by `results`, or one of the errors (PROG_MISMATCH
// carries the lowest and highest version served).
std::string AcceptedReply(uint32_t xid, AcceptStat stat, std::string_view results = {},
                          uint32_t low = 0, uint32_t high = 0);
// MSG_DENIED, RPC_MISMATCH 2..2.
std::string RpcMismatchReply(uint32_t xid);
// A call with AUTH_NONE credentials, for the interrupt channel and for tests.
std::string EncodeCall(uint32_t xid, uint32_t program, uint32_t version, uint32_t procedure,
                       std::string_view arguments);

}  // namespace lan
