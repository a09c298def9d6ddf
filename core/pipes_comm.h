// The pipe protocol: the one wire contract between the controller and its I/O servers.
// Every message crossing a command or event FIFO is one frame: STX, a two- or
// three-character mnemonic ("M1", "S10", "E3", ...), then either one SOH and a text
// (string kinds) or one SOH and one upper-case hex byte per data byte (binary kinds),
// then ETX. The codec below builds and takes apart those frames; it keeps no state
// of its own and never allocates, so every channel owns its buffers and records.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of every frame buffer: readers read at most this much, encoders write into it.
inline constexpr std::size_t FRAME_SIZE = 10246;

inline constexpr char PIPE_SOH = 0x01;  // opens a text or one data byte
inline constexpr char PIPE_STX = 0x02;  // opens a frame
inline constexpr char PIPE_ETX = 0x03;  // closes a frame

inline constexpr std::size_t PIPE_MNEMONIC_SIZE = 256;
inline constexpr std::size_t PIPE_TEXT_SIZE = 10248;
inline constexpr std::size_t PIPE_DATA_SIZE = 128;

// Longest text a string frame can carry: STX, two-character mnemonic, SOH, text, ETX
// and NUL must fit the frame buffer.
inline constexpr std::size_t PIPE_MAX_TEXT_LENGTH = FRAME_SIZE - 6;  // 10240

// Result codes of the codec.
inline constexpr int ERR_CODE_MISSING_PIPE_STX = -1;  // first character is not STX
inline constexpr int ERR_CODE_MISSING_PIPE_ETX = -2;  // last character before NUL is not ETX
inline constexpr int ERR_CODE_PIPE_BAD_KIND = -3;     // wrong mnemonic or malformed body
inline constexpr int ERR_CODE_PIPE_OVERFLOW = -5;     // the frame would not fit its buffer

// The kind numbers travel in the records and are what parse_message_type reports.
enum class PipeMsgKind : uint32_t {
  M1 = 1,    // server: program message text
  M2 = 2,    // server: one error entry, answer to S8
  M3 = 3,    // server: ESE, ESR, SRE, STB, answer to S9
  S1 = 4,    // controller: execution finished
  S2 = 5,    // controller: new ESE
  S3 = 6,    // controller: new STB
  S4 = 7,    // controller: new ESR
  S5 = 8,    // controller: new SRE
  S6 = 9,    // controller: append this error entry
  S7 = 10,   // controller: response text
  S8 = 11,   // controller: send me the oldest error entry
  S9 = 12,   // controller: send me the four status bytes
  S10 = 13,  // controller: clear the error queue
  E1 = 14,   // scan started
  E2 = 15,   // scan ended
  E3 = 16,   // relay state change, one byte per slot 0 .. 12
  E4 = 17,   // emergency reset on a slot
  E5 = 18,   // interlock broken on a slot
  E6 = 19,   // interlock restored on a slot
};

// String form of a message. frame points at the channel's buffer of FRAME_SIZE bytes
// for the record's direction; the record does not own it.
struct PipeMessage {
  uint32_t kind;
  char* frame;
  char mnemonic[PIPE_MNEMONIC_SIZE];
  char text[PIPE_TEXT_SIZE];
  uint32_t length;
};

// Binary form of a message; frame as above.
struct PipeBinaryMessage {
  uint32_t kind;
  char* frame;
  char mnemonic[PIPE_MNEMONIC_SIZE];
  int32_t count;
  uint8_t data[PIPE_DATA_SIZE];
};

// The mnemonic of a kind ("M1" .. "E6"), or nullptr for a number outside 1 .. 19.
const char* pipe_kind_mnemonic(uint32_t kind);

// Index of the first `separator` at or after `start` in the NUL-terminated `text`
// (looked at up to FRAME_SIZE characters); -1 when there is none, -2 when `start` is
// at or beyond the text's end.
int find_pipe_separator(const char* text, int start, char separator);

// Checks STX and ETX and maps the mnemonic to kind_out. When the frame holds an SOH,
// everything after it (text and the closing ETX) is copied to payload_out, which must
// hold FRAME_SIZE bytes; without one, payload_out becomes empty. payload_out may be
// nullptr. Returns 0, ERR_CODE_MISSING_PIPE_STX, ERR_CODE_MISSING_PIPE_ETX, or -1 for an
// unknown mnemonic; on any failure both outputs are left as they were.
int parse_message_type(const char* frame, char* payload_out, PipeMsgKind* kind_out);

// Decode the record's frame into mnemonic, text and length (string form) or into
// mnemonic, count and data (binary form). Both clear the record's outputs first; a
// binary decode that fails leaves data as the last good frame left it.
int decode_string_message(PipeMessage* record);
int decode_binary_data(PipeBinaryMessage* record);

// Per-kind decoders: decode by the kind's form, then require the kind's mnemonic
// (ERR_CODE_PIPE_BAD_KIND otherwise). Per-kind encoders: set kind and mnemonic and
// write the frame into the record's buffer. Text kinds take record->text, or copy the
// given text first (and set length); binary kinds write record->count bytes of data,
// which must be 1 .. 128. An encoder whose frame would not fit FRAME_SIZE prints an
// overflow error and returns ERR_CODE_PIPE_OVERFLOW without writing.
int decode_M1_msg(PipeMessage* record);
int encode_M1_msg(PipeMessage* record);
int encode_M1_msg(PipeMessage* record, const char* text);
int decode_M2_msg(PipeMessage* record);
int encode_M2_msg(PipeMessage* record);
int encode_M2_msg(PipeMessage* record, const char* text);
int decode_M3_msg(PipeBinaryMessage* record);
int encode_M3_msg(PipeBinaryMessage* record);
int decode_S1_msg(PipeMessage* record);
int encode_S1_msg(PipeMessage* record);  // also sets length to 0
int decode_S2_msg(PipeBinaryMessage* record);
int encode_S2_msg(PipeBinaryMessage* record);
int decode_S3_msg(PipeBinaryMessage* record);
int encode_S3_msg(PipeBinaryMessage* record);
int decode_S4_msg(PipeBinaryMessage* record);
int encode_S4_msg(PipeBinaryMessage* record);
int decode_S5_msg(PipeBinaryMessage* record);
int encode_S5_msg(PipeBinaryMessage* record);
int decode_S6_msg(PipeMessage* record);
int encode_S6_msg(PipeMessage* record);
int encode_S6_msg(PipeMessage* record, const char* text);
int decode_S7_msg(PipeMessage* record);
int encode_S7_msg(PipeMessage* record);
int encode_S7_msg(PipeMessage* record, const char* text);
int decode_S8_msg(PipeMessage* record);
int encode_S8_msg(PipeMessage* record);
int decode_S9_msg(PipeMessage* record);
int encode_S9_msg(PipeMessage* record);
int decode_S10_msg(PipeMessage* record);
int encode_S10_msg(PipeMessage* record);
int decode_E1_msg(PipeMessage* record);
int encode_E1_msg(PipeMessage* record);
int decode_E2_msg(PipeMessage* record);
int encode_E2_msg(PipeMessage* record);
int decode_E3_msg(PipeBinaryMessage* record);
int encode_E3_msg(PipeBinaryMessage* record);
int decode_E4_msg(PipeBinaryMessage* record);
int encode_E4_msg(PipeBinaryMessage* record);
int decode_E5_msg(PipeBinaryMessage* record);
int encode_E5_msg(PipeBinaryMessage* record);
int decode_E6_msg(PipeBinaryMessage* record);
int encode_E6_msg(PipeBinaryMessage* record);
