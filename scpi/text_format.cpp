// Decimal formatting without printf (see text_format.h).
#include "scpi/text_format.h"

std::size_t FormatDecimal(int64_t value, char* out) {
  char digits[kDecimalMax];
  std::size_t count = 0;
  // Work on the negative magnitude so that the most negative value needs no special case.
  int64_t rest = value < 0 ? value : -value;
  do {
    digits[count++] = static_cast<char>('0' - rest % 10);
    rest /= 10;
  } while (rest != 0);
  std::size_t length = 0;
  if (value < 0) out[length++] = '-';
  while (count > 0) out[length++] = digits[--count];
  out[length] = '\0';
  return length;
}
