// The pipe codec: frames in and out of the command and event FIFOs. One table names
// every kind with its mnemonic and form; the per-kind decoders and encoders are thin
// doors onto the generic routines below. Nothing here allocates or keeps state.
#include "core/pipes_comm.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "core/diag_print.h"

namespace {

constexpr const char* kSource = "_util/pipes_comm";

enum class Form {
  text,    // string kind carrying a text after its SOH
  none,    // string kind without text: STX, mnemonic, ETX
  binary,  // one SOH and one hex byte per data byte
};

struct KindRow {
  PipeMsgKind kind;
  const char* mnemonic;
  Form form;
};

constexpr KindRow kKinds[] = {
    {PipeMsgKind::M1, "M1", Form::text},    {PipeMsgKind::M2, "M2", Form::text},
    {PipeMsgKind::M3, "M3", Form::binary},  {PipeMsgKind::S1, "S1", Form::none},
    {PipeMsgKind::S2, "S2", Form::binary},  {PipeMsgKind::S3, "S3", Form::binary},
    {PipeMsgKind::S4, "S4", Form::binary},  {PipeMsgKind::S5, "S5", Form::binary},
    {PipeMsgKind::S6, "S6", Form::text},    {PipeMsgKind::S7, "S7", Form::text},
    {PipeMsgKind::S8, "S8", Form::none},    {PipeMsgKind::S9, "S9", Form::none},
    {PipeMsgKind::S10, "S10", Form::none},  {PipeMsgKind::E1, "E1", Form::none},
    {PipeMsgKind::E2, "E2", Form::none},    {PipeMsgKind::E3, "E3", Form::binary},
    {PipeMsgKind::E4, "E4", Form::binary},  {PipeMsgKind::E5, "E5", Form::binary},
    {PipeMsgKind::E6, "E6", Form::binary},
};

// The table is indexed by kind number - 1.
constexpr bool table_in_kind_order() {
  for (std::size_t i = 0; i < std::size(kKinds); ++i) {
    if (static_cast<uint32_t>(kKinds[i].kind) != i + 1) return false;
  }
  return std::size(kKinds) == 19;
}
static_assert(table_in_kind_order(), "kind table must list kinds 1 .. 19 in order");

constexpr const KindRow& row_of(PipeMsgKind kind) {
  return kKinds[static_cast<uint32_t>(kind) - 1];
}

const KindRow* row_of_mnemonic(const char* text, std::size_t length) {
  for (const KindRow& row : kKinds) {
    if (std::strlen(row.mnemonic) == length && std::memcmp(row.mnemonic, text, length) == 0) {
      return &row;
    }
  }
  return nullptr;
}

// Checks the frame's STX and closing ETX on behalf of `caller`, printing the caller's
// error line on failure. A buffer without NUL within FRAME_SIZE has no closing ETX
// either. On success *length is the frame's string length.
int check_frame(const char* frame, const char* caller, std::size_t* length) {
  if (frame == nullptr || frame[0] != PIPE_STX) {
    diag_error_line(kSource, caller, __LINE__, "%s: ERR_CODE_MISSING_PIPE_STX\n", caller);
    return ERR_CODE_MISSING_PIPE_STX;
  }
  std::size_t n = strnlen(frame, FRAME_SIZE);
  if (n == FRAME_SIZE || frame[n - 1] != PIPE_ETX) {
    diag_error_line(kSource, caller, __LINE__, "%s: ERR_CODE_MISSING_PIPE_ETX\n", caller);
    return ERR_CODE_MISSING_PIPE_ETX;
  }
  *length = n;
  return 0;
}

// End of the mnemonic in a checked frame: the first SOH, or the closing ETX.
std::size_t mnemonic_end(const char* frame, std::size_t length) {
  int soh = find_pipe_separator(frame, 1, PIPE_SOH);
  return soh > 0 ? static_cast<std::size_t>(soh) : length - 1;
}

void store_mnemonic(char* mnemonic, const char* from, std::size_t length) {
  std::memset(mnemonic, 0, PIPE_MNEMONIC_SIZE);
  std::memcpy(mnemonic, from, length);
}

// A text of `length` characters framed as a string kind of the given mnemonic must
// leave room for STX, SOH, ETX and NUL in the frame buffer.
bool text_fits(std::size_t length, const char* mnemonic, const char* function) {
  if (length + std::strlen(mnemonic) + 4 <= FRAME_SIZE) return true;
  diag_error_line(kSource, function, __LINE__, "%s: error - pipe overflow deletected\n",
                  function);
  return false;
}

constexpr bool is_binary(PipeMsgKind kind) { return row_of(kind).form == Form::binary; }

// Decode by the record's form, then require the kind's mnemonic.
template <typename Record>
int decode_kind(Record* record, PipeMsgKind kind) {
  int result = 0;
  if constexpr (std::is_same_v<Record, PipeBinaryMessage>) {
    result = decode_binary_data(record);
  } else {
    result = decode_string_message(record);
  }
  if (result != 0) return result;
  if (std::strcmp(record->mnemonic, row_of(kind).mnemonic) != 0) return ERR_CODE_PIPE_BAD_KIND;
  record->kind = static_cast<uint32_t>(kind);
  return 0;
}

int encode_kind(PipeMessage* record, PipeMsgKind kind, const char* function) {
  const KindRow& row = row_of(kind);
  std::size_t mnemonic_length = std::strlen(row.mnemonic);
  std::size_t text_length = 0;
  if (row.form == Form::text) {
    text_length = strnlen(record->text, PIPE_TEXT_SIZE);
    if (!text_fits(text_length, row.mnemonic, function)) return ERR_CODE_PIPE_OVERFLOW;
  }
  record->kind = static_cast<uint32_t>(kind);
  store_mnemonic(record->mnemonic, row.mnemonic, mnemonic_length);
  char* out = record->frame;
  *out++ = PIPE_STX;
  out = static_cast<char*>(std::memcpy(out, row.mnemonic, mnemonic_length)) + mnemonic_length;
  // A text kind keeps its SOH even when the text is empty.
  if (row.form == Form::text) {
    *out++ = PIPE_SOH;
    out = static_cast<char*>(std::memcpy(out, record->text, text_length)) + text_length;
  }
  *out++ = PIPE_ETX;
  *out = '\0';
  if (kind == PipeMsgKind::S1) record->length = 0;
  return 0;
}

int encode_kind(PipeMessage* record, const char* text, PipeMsgKind kind, const char* function) {
  std::size_t length = strnlen(text, PIPE_TEXT_SIZE);
  if (!text_fits(length, row_of(kind).mnemonic, function)) return ERR_CODE_PIPE_OVERFLOW;
  std::memmove(record->text, text, length);  // text may be record->text itself
  record->text[length] = '\0';
  record->length = static_cast<uint32_t>(length);
  return encode_kind(record, kind, function);
}

int encode_kind(PipeBinaryMessage* record, PipeMsgKind kind, const char* function) {
  const KindRow& row = row_of(kind);
  if (record->count < 1 || record->count > static_cast<int32_t>(PIPE_DATA_SIZE)) {
    diag_error_line(kSource, function, __LINE__, "%s: invalid byte count %d\n", function,
                    static_cast<int>(record->count));
    return ERR_CODE_PIPE_OVERFLOW;
  }
  record->kind = static_cast<uint32_t>(kind);
  store_mnemonic(record->mnemonic, row.mnemonic, std::strlen(row.mnemonic));
  // At most 1 + 3 + 128 * 3 + 2 bytes: always inside the frame buffer.
  char* out = record->frame;
  out += std::sprintf(out, "%c%s", PIPE_STX, row.mnemonic);
  for (int32_t i = 0; i < record->count; ++i) {
    out += std::sprintf(out, "%c%X", PIPE_SOH, static_cast<unsigned>(record->data[i]));
  }
  *out++ = PIPE_ETX;
  *out = '\0';
  return 0;
}

}  // namespace

const char* pipe_kind_mnemonic(uint32_t kind) {
  if (kind < 1 || kind > std::size(kKinds)) return nullptr;
  return kKinds[kind - 1].mnemonic;
}

int find_pipe_separator(const char* text, int start, char separator) {
  std::size_t length = strnlen(text, FRAME_SIZE);
  if (start < 0 || static_cast<std::size_t>(start) >= length) return -2;
  const void* found = std::memchr(text + start, separator, length - start);
  if (found == nullptr) return -1;
  return static_cast<int>(static_cast<const char*>(found) - text);
}

int parse_message_type(const char* frame, char* payload_out, PipeMsgKind* kind_out) {
  std::size_t length = 0;
  int result = check_frame(frame, "parse_message_type", &length);
  if (result != 0) return result;
  std::size_t end = mnemonic_end(frame, length);
  const KindRow* row = row_of_mnemonic(frame + 1, end - 1);
  if (row == nullptr) return -1;
  if (payload_out != nullptr) {
    if (frame[end] == PIPE_SOH) {
      // The text, its closing ETX and the NUL.
      std::memcpy(payload_out, frame + end + 1, length - end);
    } else {
      payload_out[0] = '\0';
    }
  }
  *kind_out = row->kind;
  return 0;
}

int decode_string_message(PipeMessage* record) {
  std::memset(record->mnemonic, 0, sizeof record->mnemonic);
  std::memset(record->text, 0, sizeof record->text);
  record->length = 0;
  std::size_t length = 0;
  int result = check_frame(record->frame, "decode_string_message", &length);
  if (result != 0) return result;
  const char* frame = record->frame;
  std::size_t end = mnemonic_end(frame, length);
  if (end - 1 >= PIPE_MNEMONIC_SIZE) return ERR_CODE_PIPE_BAD_KIND;
  bool has_text = frame[end] == PIPE_SOH;
  // A text may not hold an SOH of its own.
  if (has_text && find_pipe_separator(frame, static_cast<int>(end) + 1, PIPE_SOH) >= 0) {
    return ERR_CODE_PIPE_BAD_KIND;
  }
  store_mnemonic(record->mnemonic, frame + 1, end - 1);
  if (has_text) {
    std::size_t text_length = length - 2 - end;  // between the SOH and the closing ETX
    std::memcpy(record->text, frame + end + 1, text_length);
    record->length = static_cast<uint32_t>(text_length);
  }
  return 0;
}

int decode_binary_data(PipeBinaryMessage* record) {
  record->count = 0;
  std::memset(record->mnemonic, 0, sizeof record->mnemonic);
  std::size_t length = 0;
  int result = check_frame(record->frame, "decode_binary_data", &length);
  if (result != 0) return result;
  const char* frame = record->frame;
  std::size_t end = mnemonic_end(frame, length);
  // A binary frame always carries at least one byte.
  if (frame[end] != PIPE_SOH || end - 1 >= PIPE_MNEMONIC_SIZE) return ERR_CODE_PIPE_BAD_KIND;

  // Fields are gathered aside so that a malformed frame leaves data as it was.
  uint8_t bytes[PIPE_DATA_SIZE];
  std::size_t count = 0;
  std::size_t field_soh = end;
  while (field_soh < length - 1) {
    std::size_t first = field_soh + 1;
    int next = find_pipe_separator(frame, static_cast<int>(first), PIPE_SOH);
    std::size_t stop = next < 0 ? length - 1 : static_cast<std::size_t>(next);
    std::size_t width = stop - first;
    // Senders write one or two hex digits per byte; anything else is not a frame of ours.
    if (width < 1 || width > 2 || count == PIPE_DATA_SIZE) return ERR_CODE_PIPE_BAD_KIND;
    char scratch[4] = {};
    for (std::size_t i = 0; i < width; ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(frame[first + i]))) {
        return ERR_CODE_PIPE_BAD_KIND;
      }
      scratch[i] = frame[first + i];
    }
    bytes[count++] = static_cast<uint8_t>(std::strtol(scratch, nullptr, 16));
    field_soh = stop;
  }
  store_mnemonic(record->mnemonic, frame + 1, end - 1);
  std::memcpy(record->data, bytes, count);
  record->count = static_cast<int32_t>(count);
  return 0;
}

// The per-kind doors. The static_assert keeps each kind on the record of its form.
#define PIPE_KIND_CODEC(KIND, Record)                                                   \
  static_assert(is_binary(PipeMsgKind::KIND) == std::is_same_v<Record, PipeBinaryMessage>); \
  int decode_##KIND##_msg(Record* record) { return decode_kind(record, PipeMsgKind::KIND); } \
  int encode_##KIND##_msg(Record* record) {                                             \
    return encode_kind(record, PipeMsgKind::KIND, "encode_" #KIND "_msg");              \
  }

#define PIPE_TEXT_TWIN(KIND)                                                  \
  int encode_##KIND##_msg(PipeMessage* record, const char* text) {            \
    return encode_kind(record, text, PipeMsgKind::KIND, "encode_" #KIND "_msg"); \
  }

PIPE_KIND_CODEC(M1, PipeMessage)
PIPE_KIND_CODEC(M2, PipeMessage)
PIPE_KIND_CODEC(M3, PipeBinaryMessage)
PIPE_KIND_CODEC(S1, PipeMessage)
PIPE_KIND_CODEC(S2, PipeBinaryMessage)
PIPE_KIND_CODEC(S3, PipeBinaryMessage)
PIPE_KIND_CODEC(S4, PipeBinaryMessage)
PIPE_KIND_CODEC(S5, PipeBinaryMessage)
PIPE_KIND_CODEC(S6, PipeMessage)
PIPE_KIND_CODEC(S7, PipeMessage)
PIPE_KIND_CODEC(S8, PipeMessage)
PIPE_KIND_CODEC(S9, PipeMessage)
PIPE_KIND_CODEC(S10, PipeMessage)
PIPE_KIND_CODEC(E1, PipeMessage)
PIPE_KIND_CODEC(E2, PipeMessage)
PIPE_KIND_CODEC(E3, PipeBinaryMessage)
PIPE_KIND_CODEC(E4, PipeBinaryMessage)
PIPE_KIND_CODEC(E5, PipeBinaryMessage)
PIPE_KIND_CODEC(E6, PipeBinaryMessage)

PIPE_TEXT_TWIN(M1)
PIPE_TEXT_TWIN(M2)
PIPE_TEXT_TWIN(S6)
PIPE_TEXT_TWIN(S7)
