// *RST, *TST?, SYSTem:PRESet, and the relay cycle counters of DIAGnostic:RELay:CYCLes.
#include <cstdio>
#include <cstring>
#include <string>

#include "cards/card_manager.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "switching/channel_list.h"
#include "switching/switching_handlers.h"
#include "switching/system_reset.h"

namespace {

// Relay numbers of the cycle counters are the cards' own relay numbering.
constexpr uint8_t kRelayNumbering = 1;
constexpr std::size_t kCyclesReplyLimit = 10229;
constexpr int32_t kLastSelfTest = 3;
constexpr int32_t kLastPassingSelfTest = 1;

// The master service code clears any counter.
constexpr char kMasterServiceCode[] = "QZ71B";
constexpr std::size_t kLongestPassword = 9;

// The per-relay service code: four letters A..Z from a keyed hash of the relay number.
// The hash is 32-bit FNV-1a over the bytes of kServiceKey followed by the relay number
// in decimal (for example "TW4410-RELAY-SERVICE:17"); the letters are the hash's
// base-26 digits, least significant first: letter i = 'A' + (h / 26^i) % 26.
// Service staff who hold this rule can work out the code of any relay; a user who
// knows only relay numbers cannot.
constexpr char kServiceKey[] = "TW4410-RELAY-SERVICE:";

}  // namespace

std::string RelayServiceCode(int32_t relay) {
  uint32_t hash = 2166136261u;
  std::string text = kServiceKey;
  text += std::to_string(relay);
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  std::string code(4, 'A');
  for (char& letter : code) {
    letter = static_cast<char>('A' + hash % 26);
    hash /= 26;
  }
  return code;
}

namespace {


// A relay list in the cards' relay numbering, without paths.
int32_t ValidateRelayNumbers(CommandContext* context, const char* text) {
  const int32_t parsed = ParseChannelListParam(context, text, true, true, kRelayNumbering);
  if (parsed != 0) return parsed;
  for (const ChannelListElement& element : ContextChannelList(context)->close) {
    if (element.path != 0) return ConcludeValidation(context, err::kPathNotSupported);
  }
  return 0;
}

// The password between its quotes, at most kLongestPassword characters.
std::string Password(const char* quoted) {
  std::string password;
  for (const char* p = quoted + 1; *p != '\0' && *p != quoted[0]; ++p) {
    if (password.size() == kLongestPassword) break;
    password += *p;
  }
  return password;
}

}  // namespace

NO_PARAMETERS_VALIDATION(RST)
int32_t RST_DoExecutionConclusion(CommandContext* /*context*/) {
  return SystemReset(ResetForm::kFull);
}

NO_PARAMETERS_VALIDATION(SYST_PRESET)
int32_t SYST_PRESET_DoExecutionConclusion(CommandContext* /*context*/) {
  return SystemReset(ResetForm::kBasic);
}

int32_t TSTQuery_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 0, 1);
  int32_t selector = 0;
  if (code == 0 && context->parameter_count == 1) {
    code = ParseInteger(context->parameters[0], 0, kLastSelfTest, &selector);
  }
  return ConcludeValidation(context, code);
}

// The self-test's answer is the selector's result; the reset that follows is the
// instrument reset without its optional steps.
int32_t TSTQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t selector = 0;
  if (context->parameter_count == 1) {
    ParseInteger(context->parameters[0], 0, kLastSelfTest, &selector);
  }
  const int32_t result = selector <= kLastPassingSelfTest ? 0 : err::kSystemError;
  SystemReset(ResetForm::kBasic);
  return AppendIntegerNumberToReply(result, context);
}

int32_t DIAG_RELAY_CYCLESQuery_DoContextValidation(CommandContext* context) {
  const int32_t count = CheckParameterCount(context, 1, 1);
  if (count != 0) return ConcludeValidation(context, count);
  return ValidateRelayNumbers(context, context->parameters[0]);
}

int32_t DIAG_RELAY_CYCLESQuery_DoExecutionConclusion(CommandContext* context) {
  std::string reply;
  for (const ChannelListElement& element : ContextChannelList(context)->close) {
    if (reply.size() >= kCyclesReplyLimit) break;
    uint32_t count = 0;
    const int32_t read = CardGetRelayCount(element.slot, element.channel, &count);
    if (read < 0) return read;
    // A count is unsigned: one past 2^31 operations is not a negative number.
    if (!reply.empty()) reply += ',';
    reply += std::to_string(count);
  }
  return AppendToReply(reply.data(), reply.size(), ',', context);
}

int32_t DIAG_RELAY_CYCLES_CLEAR_DoContextValidation(CommandContext* context) {
  const int32_t count = CheckParameterCount(context, 2, 2);
  if (count != 0) return ConcludeValidation(context, count);
  const int32_t listed = ValidateRelayNumbers(context, context->parameters[0]);
  if (listed != 0) return listed;
  const char* password = context->parameters[1];
  const std::size_t length = std::strlen(password);
  const bool quoted = length >= 2 && (password[0] == '"' || password[0] == '\'') &&
                      password[length - 1] == password[0];
  return ConcludeValidation(context, quoted ? 0 : err::kInvalidStringData);
}

int32_t DIAG_RELAY_CYCLES_CLEAR_DoExecutionConclusion(CommandContext* context) {
  const std::string password = Password(context->parameters[1]);
  const ChannelList& list = *ContextChannelList(context);
  if (password != kMasterServiceCode) {
    for (const ChannelListElement& element : list.close) {
      if (element.path != 0) return err::kPathNotSupported;
      uint32_t type_id = 0;
      const int32_t identity = GetCardTypeId(element.slot, &type_id);
      if (identity != 0) return identity;
      if (password != RelayServiceCode(element.channel)) return err::kInvalidPassword;
    }
  }
  for (const ChannelListElement& element : list.close) {
    if (CardSetRelayCount(element.slot, element.channel, 0) < 0) break;
  }
  return 0;
}
