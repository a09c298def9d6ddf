// Error numbers, queue entry formatting and reporting (see error_report.h).
#include "scpi/error_report.h"

#include <cstring>

#include "scpi/error_table.h"
#include "scpi/status.h"
#include "scpi/text_format.h"

namespace {

// The standard event status bit of a reported number's class; 0 for none.
uint8_t EventBitOfClass(int32_t number) {
  if (number <= -100 && number >= -199) return kEsrCommandError;
  if (number <= -200 && number >= -299) return kEsrExecutionError;
  if (number <= -300 && number >= -399) return kEsrDeviceError;
  if (number <= -400 && number >= -499) return kEsrQueryError;
  return 0;
}

// Appends up to limit - *length bytes of text.
void Put(char* out, std::size_t* length, std::size_t limit, const char* text, std::size_t n) {
  if (n > limit - *length) n = limit - *length;
  std::memcpy(out + *length, text, n);
  *length += n;
}

}  // namespace

int32_t ReportedErrorNumber(int32_t code) {
  int32_t number = code > 0 ? -code : code;
  if (number < -99999) {
    number /= 10000;
  } else if (number < -999) {
    number /= 100;
  }
  return number;
}

int32_t FormatErrorEntry(int32_t code, const char* detail, char* out) {
  constexpr std::size_t kLimit = kErrorEntrySize - 1;
  char digits[kDecimalMax + 1];
  std::size_t digits_length = FormatDecimal(code, digits);
  std::size_t length = 0;
  const ErrorEntry* entry = FindErrorEntry(code);
  if (entry == nullptr) {
    Put(out, &length, kLimit, digits, digits_length);
    Put(out, &length, kLimit, ",ERROR ", 7);
    Put(out, &length, kLimit, digits, digits_length);
    Put(out, &length, kLimit, " NOT RECOGNIZED", 15);
    out[length] = '\0';
    return 0;
  }
  int32_t number = ReportedErrorNumber(code);
  digits_length = FormatDecimal(number, digits);
  Put(out, &length, kLimit, digits, digits_length);
  Put(out, &length, kLimit, ",\"", 2);
  // Room is kept for the closing quote: an over-long text is cut inside the quotes.
  const std::size_t text_limit = kLimit - 1;
  Put(out, &length, text_limit, entry->text, std::strlen(entry->text));
  if (detail != nullptr && detail[0] != '\0') {
    Put(out, &length, text_limit, ";", 1);
    Put(out, &length, text_limit, detail, std::strlen(detail));
  }
  out[length++] = '"';
  out[length] = '\0';
  return number;
}

void ReportError(ChannelHandle* handle, int32_t code, const char* detail) {
  char entry[kErrorEntrySize];
  int32_t number = FormatErrorEntry(code, detail, entry);
  if (number != 0 && handle->read_status != nullptr) {
    uint8_t bit = EventBitOfClass(number);
    if (bit != 0) SetEventStatusBit(handle, bit);
  }
  if (handle->push_error != nullptr) handle->push_error(handle->channel, entry);
}
