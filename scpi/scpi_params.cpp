// Converters, validation helpers and reply builders shared by every handler (see
// scpi_params.h).
#include "scpi/scpi_params.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"
#include "scpi/text_format.h"

namespace {

ExecutionContext* ExecutionOf(const CommandContext* context) {
  if (context == nullptr || context->command == nullptr) return nullptr;
  return context->command->execution;
}

bool Equals(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// The MIN/MAX/DEF keyword forms of a numeric parameter: 1 and the chosen value when
// the text is one of them, 0 when it is not.
template <typename T>
int MatchLimitKeyword(const char* text, T minimum, T default_value, T maximum, bool allow_default,
                      T* out) {
  if (Equals(text, "MIN") || Equals(text, "MINIMUM")) {
    *out = minimum;
  } else if (Equals(text, "MAX") || Equals(text, "MAXIMUM")) {
    *out = maximum;
  } else if (allow_default && (Equals(text, "DEF") || Equals(text, "DEFAULT"))) {
    *out = default_value;
  } else {
    return 0;
  }
  return 1;
}

bool IsNameWithLength(const char* text, std::size_t maximum) {
  if (text == nullptr || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  std::size_t length = 1;
  for (; text[length] != '\0'; ++length) {
    auto c = static_cast<unsigned char>(text[length]);
    if (!std::isalnum(c) && c != '_') return false;
  }
  return length <= maximum;
}

}  // namespace

int32_t SetCommandResult(CommandContext* context, int32_t status, int32_t code,
                         const char* detail) {
  ExecutionContext* execution = ExecutionOf(context);
  if (execution == nullptr) return err::kSystemError;
  context->command->status = status;
  execution->error_code = code;
  std::size_t length = 0;
  if (detail != nullptr) {
    length = std::strlen(detail);
    if (length > kErrorDetailSize - 1) length = kErrorDetailSize - 1;
    std::memcpy(execution->error_detail, detail, length);
  }
  execution->error_detail[length] = '\0';
  return 0;
}

int32_t ParseInteger(const char* text, int32_t minimum, int32_t maximum, int32_t* out) {
  if (text == nullptr) return err::kMissingParameter;
  if (text[0] == 'M' || text[0] == 'D') {
    return MatchLimitKeyword(text, minimum, minimum, maximum, true, out)
               ? 0
               : err::kInvalidCharacterData;
  }
  const char* p = text;
  int base = 10;
  int64_t limit = 214748364;
  bool negative = false;
  if (*p == '#') {
    switch (p[1]) {
      case 'H': base = 16; limit = 0x7FFFFFF; break;
      case 'Q': base = 8; limit = 0xFFFFFFF; break;
      case 'B': base = 2; limit = 0x3FFFFFFF; break;
      default: return err::kInvalidCharacterInNumber;
    }
    p += 2;
  } else if (*p == '-') {
    negative = true;
    ++p;
  }
  if (*p == '\0') return err::kInvalidCharacterInNumber;
  // Accumulated in 64 bits: the last decimal digit may take the value past 2^31 - 1,
  // which the range check below then refuses.
  int64_t value = 0;
  for (; *p != '\0'; ++p) {
    int digit;
    if (*p >= '0' && *p <= '9') {
      digit = *p - '0';
    } else if (*p >= 'A' && *p <= 'F') {
      digit = *p - 'A' + 10;
    } else {
      return err::kInvalidCharacterInNumber;
    }
    if (digit >= base) return err::kInvalidCharacterInNumber;
    if (value > limit) return err::kDataOutOfRange;
    value = value * base + digit;
  }
  if (negative) value = -value;
  if (value < minimum || value > maximum) return err::kDataOutOfRange;
  *out = static_cast<int32_t>(value);
  return 0;
}

int32_t ParseKeywordLimit(const char* text, int32_t minimum, int32_t default_value,
                          int32_t maximum, int32_t* out) {
  if (text == nullptr) return err::kMissingParameter;
  return MatchLimitKeyword(text, minimum, default_value, maximum, true, out)
             ? 0
             : err::kInvalidCharacterData;
}

namespace {

int32_t ParseRealImpl(const char* text, double minimum, double default_value, double maximum,
                      bool allow_default, double* out) {
  if (text == nullptr) return err::kMissingParameter;
  if (MatchLimitKeyword(text, minimum, default_value, maximum, allow_default, out)) return 0;
  char* end = nullptr;
  double value = std::strtod(text, &end);
  // "NAN" converts but compares with nothing; it is not a usable number.
  if (end == text || std::isnan(value)) return err::kDataTypeError;
  if (value < minimum - 1e-20 || value > maximum + 1e-20) return err::kDataOutOfRange;
  *out = value;
  return 0;
}

}  // namespace

int32_t ParseReal(const char* text, double minimum, double maximum, double* out) {
  return ParseRealImpl(text, minimum, minimum, maximum, false, out);
}

int32_t ParseRealWithDefault(const char* text, double minimum, double default_value,
                             double maximum, double* out) {
  return ParseRealImpl(text, minimum, default_value, maximum, true, out);
}

int32_t ParseBoolean(const char* text, int32_t* out) {
  if (text == nullptr) return err::kSystemError;
  if (Equals(text, "ON") || Equals(text, "1")) {
    *out = 1;
  } else if (Equals(text, "OFF") || Equals(text, "0")) {
    *out = 0;
  } else {
    return err::kIllegalParameterValue;
  }
  return 0;
}

int32_t CheckQuotedString(const char* text, std::size_t minimum_length,
                          std::size_t maximum_length) {
  if (text == nullptr) return err::kMissingParameter;
  std::size_t length = std::strlen(text);
  // The length without the two quotes; a text too short to have two counts whole.
  const std::size_t inner = length >= 2 ? length - 2 : length;
  if (inner < minimum_length || inner > maximum_length) return err::kStringDataError;
  // A lone quote is no string, even though its last character equals its first.
  if (length < 2 || (text[0] != '\'' && text[0] != '"')) return err::kInvalidStringData;
  if (text[length - 1] != text[0]) return err::kInvalidStringData;
  return 0;
}

int32_t LookupKeywordValue(const KeywordValue* table, const char* text) {
  if (table == nullptr || text == nullptr) return err::kIllegalParameterValue;
  for (; table->text != nullptr; ++table) {
    if (Equals(table->text, text)) return table->value;
  }
  return err::kIllegalParameterValue;
}

bool IsValidName(const char* text) { return IsNameWithLength(text, 40); }
bool IsValidLongName(const char* text) { return IsNameWithLength(text, 256); }

bool StringContainsSuffix(const char* string, const char* suffix, bool fold_case) {
  char string_copy[256];
  char suffix_copy[12];
  std::size_t string_length = std::strlen(string);
  std::size_t suffix_length = std::strlen(suffix);
  if (string_length >= sizeof string_copy) {
    std::printf("** ERROR: [%s | %s | %d] stringCpy not large enough for string %s\n",
                "_util/custom_util_func", "StringContainsSuffix", __LINE__, string);
    return false;
  }
  if (suffix_length >= sizeof suffix_copy) {
    std::printf("** ERROR: [%s | %s | %d] suffixCpy not large enough for string %s\n",
                "_util/custom_util_func", "StringContainsSuffix", __LINE__, suffix);
    return false;
  }
  for (std::size_t i = 0; i <= string_length; ++i) {
    auto c = static_cast<unsigned char>(string[i]);
    string_copy[i] = static_cast<char>(fold_case ? std::toupper(c) : c);
  }
  for (std::size_t i = 0; i <= suffix_length; ++i) {
    auto c = static_cast<unsigned char>(suffix[i]);
    suffix_copy[i] = static_cast<char>(fold_case ? std::toupper(c) : c);
  }
  const char* found = std::strstr(string_copy, suffix_copy);
  return found != nullptr && found == string_copy + string_length - suffix_length;
}

int32_t JoinStrings(const char* const* strings, std::size_t count, char* out,
                    std::size_t out_size) {
  if (out == nullptr || out_size == 0) return -1;
  std::size_t length = 0;
  out[0] = '\0';
  for (std::size_t i = 0; i < count; ++i) {
    if (strings == nullptr || strings[i] == nullptr) return -1;
    std::size_t n = std::strlen(strings[i]);
    if (length + (i > 0 ? 1 : 0) + n >= out_size) return -1;
    if (i > 0) out[length++] = ',';
    std::memcpy(out + length, strings[i], n);
    length += n;
    out[length] = '\0';
  }
  return 0;
}

int32_t CheckParameterCount(const CommandContext* context, int32_t minimum, int32_t maximum) {
  if (context->parameter_count < minimum) return err::kMissingParameter;
  if (context->parameter_count > maximum) return err::kParameterNotAllowed;
  return 0;
}

int32_t ValidateNoParameters(CommandContext* context) {
  return ConcludeValidation(context, CheckParameterCount(context, 0, 0));
}

int32_t ValidateOneParameter(CommandContext* context) {
  return ConcludeValidation(context, CheckParameterCount(context, 1, 1));
}

int32_t ValidateBoolean(CommandContext* context, int32_t* out) {
  int32_t code = CheckParameterCount(context, 1, 1);
  int32_t value = 0;
  if (code == 0) code = ParseBoolean(context->parameters[0], &value);
  if (code == 0 && out != nullptr) *out = value;
  return ConcludeValidation(context, code);
}

int32_t ValidateInteger(CommandContext* context, int32_t minimum, int32_t maximum,
                        int32_t* out) {
  int32_t code = CheckParameterCount(context, 1, 1);
  int32_t value = 0;
  if (code == 0) code = ParseInteger(context->parameters[0], minimum, maximum, &value);
  if (code == 0 && out != nullptr) *out = value;
  return ConcludeValidation(context, code);
}

int32_t ValidateReal(CommandContext* context, double minimum, double maximum, double* out) {
  int32_t code = CheckParameterCount(context, 1, 1);
  double value = 0;
  if (code == 0) code = ParseReal(context->parameters[0], minimum, maximum, &value);
  if (code == 0 && out != nullptr) *out = value;
  return ConcludeValidation(context, code);
}

int32_t ValidateQuotedString(CommandContext* context, std::size_t minimum_length,
                             std::size_t maximum_length) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0) code = CheckQuotedString(context->parameters[0], minimum_length, maximum_length);
  return ConcludeValidation(context, code);
}

int32_t ValidateKeyword(CommandContext* context, const KeywordValue* table, int32_t* out) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0) {
    const char* text = context->parameters[0];
    code = err::kIllegalParameterValue;
    for (const KeywordValue* entry = table; entry != nullptr && entry->text != nullptr; ++entry) {
      if (Equals(entry->text, text)) {
        if (out != nullptr) *out = entry->value;
        code = 0;
        break;
      }
    }
  }
  return ConcludeValidation(context, code);
}

int32_t AppendToReply(const char* text, std::size_t length, char separator,
                      CommandContext* context) {
  ExecutionContext* execution = ExecutionOf(context);
  if (execution == nullptr || text == nullptr) return err::kSystemError;
  std::size_t used = execution->reply_length;
  std::size_t needed = length + (used > 0 ? 1 : 0);
  if (needed > kReplySize - 1 - used) return err::kTooMuchData;
  if (used > 0) execution->reply[used++] = separator;
  std::memcpy(execution->reply + used, text, length);
  used += length;
  execution->reply[used] = '\0';
  execution->reply_length = used;
  return 0;
}

int32_t AppendRealNumberToReply(double value, CommandContext* context) {
  char text[64];
  int length = std::snprintf(text, sizeof text, "%.8E", value);
  return AppendToReply(text, static_cast<std::size_t>(length), ',', context);
}

int32_t AppendIntegerNumberToReply(int32_t value, CommandContext* context) {
  char text[kDecimalMax + 1];
  return AppendToReply(text, FormatDecimal(value, text), ',', context);
}

int32_t AppendIntegerNumberToReply(int32_t value, const KeywordValue* table,
                                   CommandContext* context) {
  const char* text = "???";
  for (const KeywordValue* entry = table; entry != nullptr && entry->text != nullptr; ++entry) {
    if (entry->value == value) {
      text = entry->text;
      break;
    }
  }
  return AppendStringToReply(text, context);
}

int32_t AppendStringToReply(const char* text, CommandContext* context) {
  if (text == nullptr) return err::kSystemError;
  return AppendToReply(text, std::strlen(text), ',', context);
}

int32_t AppendEmptyReply(CommandContext* context) {
  static const char kDel = 127;
  return AppendToReply(&kDel, 1, ',', context);
}

int32_t SetStringReply(const char* text, CommandContext* context) {
  ExecutionContext* execution = ExecutionOf(context);
  if (execution == nullptr) return err::kSystemError;
  execution->reply_length = 0;
  return AppendStringToReply(text, context);
}

int32_t SetBooleanReply(bool value, CommandContext* context) {
  return SetStringReply(value ? "1" : "0", context);
}

int32_t SetIntegerReply(long value, CommandContext* context) {
  char text[kDecimalMax + 1];
  FormatDecimal(value, text);
  return SetStringReply(text, context);
}

int32_t ConcludeValidation(CommandContext* context, int32_t code, const char* detail) {
  const int32_t stored =
      SetCommandResult(context, code == 0 ? kCommandValidated : kCommandFailed, code, detail);
  return stored != 0 ? stored : code;
}

int32_t ConcludeValidation(CommandContext* context, int32_t code, int32_t validated_status) {
  const int32_t stored =
      SetCommandResult(context, code == 0 ? validated_status : kCommandFailed, code, nullptr);
  return stored != 0 ? stored : code;
}
