// The converters, validation helpers and reply builders every handler uses, so that
// all commands accept the same syntax and answer in the same formats. Parameters
// arrive upper case outside quotes with their quotes kept. Results are 0 or a
// negative SCPI code. Channel-list helpers live with the channel-list code; they
// follow the shape of the helpers here (count rule, then the converter, then
// SetCommandResult).
#pragma once

#include <cstddef>
#include <cstdint>

struct CommandContext;

// A (text, value) pair of a keyword table; a null text ends the table.
struct KeywordValue {
  const char* text;
  int32_t value;
};

// Result of a command: status 1 with a code marks it failed, 3 with 0 marks it valid.
// detail may be null. -301 when the context has no execution context.
int32_t SetCommandResult(CommandContext* context, int32_t status, int32_t code,
                         const char* detail);

// Converters.
int32_t ParseInteger(const char* text, int32_t minimum, int32_t maximum, int32_t* out);
int32_t ParseKeywordLimit(const char* text, int32_t minimum, int32_t default_value,
                          int32_t maximum, int32_t* out);
int32_t ParseReal(const char* text, double minimum, double maximum, double* out);
int32_t ParseRealWithDefault(const char* text, double minimum, double default_value,
                             double maximum, double* out);
int32_t ParseBoolean(const char* text, int32_t* out);
int32_t CheckQuotedString(const char* text, std::size_t minimum_length,
                          std::size_t maximum_length);
int32_t LookupKeywordValue(const KeywordValue* table, const char* text);
// 1 to 40 characters: a letter, then letters, digits or '_'.
bool IsValidName(const char* text);
// The same rule with 1 to 256 characters.
bool IsValidLongName(const char* text);
bool StringContainsSuffix(const char* string, const char* suffix, bool fold_case);
// The strings joined with ','; -1 when an entry is missing or out is too small.
int32_t JoinStrings(const char* const* strings, std::size_t count, char* out,
                    std::size_t out_size);

// Validation helpers: count rule (-109 missing, -108 too many), the converter, then
// SetCommandResult. Each returns the code it stored (0 on success).
int32_t ValidateNoParameters(CommandContext* context);
int32_t ValidateOneParameter(CommandContext* context);
int32_t ValidateBoolean(CommandContext* context, int32_t* out = nullptr);
int32_t ValidateInteger(CommandContext* context, int32_t minimum, int32_t maximum,
                        int32_t* out = nullptr);
int32_t ValidateReal(CommandContext* context, double minimum, double maximum,
                     double* out = nullptr);
int32_t ValidateQuotedString(CommandContext* context, std::size_t minimum_length,
                             std::size_t maximum_length);
int32_t ValidateKeyword(CommandContext* context, const KeywordValue* table,
                        int32_t* out = nullptr);
// The count rule alone: -109 below minimum, -108 above maximum, else 0. For helpers
// built elsewhere (channel lists) on the same rule.
int32_t CheckParameterCount(const CommandContext* context, int32_t minimum, int32_t maximum);
// Stores a validation's outcome through SetCommandResult: failed with `code` (and the
// detail, when given), or validated when `code` is 0 (with `validated_status` in the
// second form, for a command that holds a channel list). Returns the code, or
// SetCommandResult's own failure. Every handler's validation ends with one of these.
int32_t ConcludeValidation(CommandContext* context, int32_t code, const char* detail = nullptr);
int32_t ConcludeValidation(CommandContext* context, int32_t code, int32_t validated_status);

// Reply builders: append to the current command's reply (',' first when it is not
// empty). -301 when the context is incomplete, -223 when the reply buffer is full.
int32_t AppendRealNumberToReply(double value, CommandContext* context);
int32_t AppendIntegerNumberToReply(int32_t value, CommandContext* context);
int32_t AppendIntegerNumberToReply(int32_t value, const KeywordValue* table,
                                   CommandContext* context);
int32_t AppendStringToReply(const char* text, CommandContext* context);
// Appends text with a separator of the caller's choice (some replies join with ';').
int32_t AppendToReply(const char* text, std::size_t length, char separator,
                      CommandContext* context);
// An element that the pipeline turns into nothing (DEL, removed before sending).
int32_t AppendEmptyReply(CommandContext* context);
// Whole-reply setters: replace the reply.
int32_t SetBooleanReply(bool value, CommandContext* context);
int32_t SetIntegerReply(long value, CommandContext* context);
int32_t SetStringReply(const char* text, CommandContext* context);
