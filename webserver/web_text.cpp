// Decoding of query strings and form bodies, escaping, and page templates.
#include "webserver/web_text.h"

#include <cstdio>

namespace web {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(0);
  std::size_t length = 0;
  unsigned lowest = 0;
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
    lowest = 0x80;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    lowest = 0x800;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  unsigned code = first & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      if (text.size() - i < 3) return std::nullopt;
      const int h = HexDigit(text[i + 1]);
      const int l = HexDigit(text[i + 2]);
      if (h < 0 || l < 0) return std::nullopt;
      c = static_cast<char>(h * 16 + l);
      i += 2;
    }
    if (c == '\0') return std::nullopt;
    out += c;
  }
  return out;
}

std::optional<Fields> ParseForm(std::string_view text) {
  if (text.size() > kLongestForm) return std::nullopt;
  Fields fields;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('&'), text.size());
    const std::string_view part = text.substr(0, end);
    text.remove_prefix(end == text.size() ? end : end + 1);
    if (part.empty()) continue;
    const std::size_t equals = std::min(part.find('='), part.size());
    auto name = UrlDecode(part.substr(0, equals));
    auto value = UrlDecode(equals < part.size() ? part.substr(equals + 1) : std::string_view());
    if (!name || !value || name->empty() || fields.size() == kMostFields) return std::nullopt;
    fields.emplace_back(std::move(*name), std::move(*value));
  }
  return fields;
}

std::string FieldValue(const Fields& fields, std::string_view name) {
  for (const auto& [key, value] : fields) {
    if (key == name) return value;
  }
  return {};
}

std::string HtmlEscape(std::string_view text) { return Escape(text); }
std::string XmlEscape(std::string_view text) { return Escape(text); }

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  while (!text.empty()) {
    const unsigned char c = static_cast<unsigned char>(text[0]);
    const std::size_t length = Utf8Length(text);
    if (length == 0) {
      out += "\\ufffd";
      text.remove_prefix(1);
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out + "\"";
}

std::string ScpiQuoted(std::string_view value) {
  std::string quoted = "\"";
  for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string ScpiUnquoted(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  std::string value(text.substr(1, text.size() - 2));
  for (std::size_t at = 0; (at = value.find("\"\"", at)) != std::string::npos; ++at) value.erase(at, 1);
  return value;
}

std::string FillTemplate(std::string_view page,
                         const std::function<std::optional<std::string>(std::string_view)>& lookup) {
  std::string out;
  out.reserve(page.size() + 1024);
  for (;;) {
    const std::size_t open = page.find("{{");
    const std::size_t close = open == std::string_view::npos ? open : page.find("}}", open + 2);
    if (close == std::string_view::npos) break;
    out.append(page.substr(0, open));
    const std::string_view key = page.substr(open + 2, close - open - 2);
    if (auto value = lookup(key)) {
      out += HtmlEscape(*value);
    } else {
      out.append(page.substr(open, close + 2 - open));
    }
    page.remove_prefix(close + 2);
  }
  out.append(page);
  return out;
}

}  // namespace web
