// Reading the text of the stored lists: a file cut into its lines, and the decimal
// numbers inside them. Header-only: the list recalls of this folder share it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The lines of a file read whole, without their line feeds and without the carriage
// returns and blanks that end them: the fields of every stored line end before any
// white space, so a file saved with CRLF line ends or trailing blanks (edited on
// another machine) reads as the one written here.
inline std::vector<std::string> StoredLines(const std::string& contents) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < contents.size()) {
    std::size_t end = contents.find('\n', at);
    if (end == std::string::npos) end = contents.size();
    std::size_t last = end;
    while (last > at && (contents[last - 1] == '\r' || contents[last - 1] == ' ' ||
                         contents[last - 1] == '\t')) {
      --last;
    }
    lines.push_back(contents.substr(at, last - at));
    at = end + 1;
  }
  return lines;
}

// Reads a decimal number at *p (with a leading '-' when `with_sign`) that fits an
// int32 and moves past it; false, with *p unmoved, when there is none.
inline bool ReadStoredNumber(const char** p, int32_t* number, bool with_sign = false) {
  const char* at = *p;
  const bool negative = with_sign && *at == '-';
  if (negative) ++at;
  if (*at < '0' || *at > '9') return false;
  int64_t value = 0;
  for (; *at >= '0' && *at <= '9'; ++at) {
    value = value * 10 + (*at - '0');
    if (value > INT32_MAX) return false;
  }
  *number = static_cast<int32_t>(negative ? -value : value);
  *p = at;
  return true;
}
