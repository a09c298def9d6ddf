// The texts the web server reads from and writes to browsers: query strings and form
// bodies decoded, values escaped for HTML, XML and JSON, and page templates filled.
// Every decoder refuses malformed input as a whole instead of guessing at it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace web {

using Fields = std::vector<std::pair<std::string, std::string>>;

// Limits of what a query string or form body may hold.
inline constexpr std::size_t kMostFields = 32;
inline constexpr std::size_t kLongestForm = 16384;

// Decodes "%XX" escapes and '+' (as a blank). Nothing for a '%' that is not followed by
// two hexadecimal digits, or for a decoded NUL.
std::optional<std::string> UrlDecode(std::string_view text);

// Splits "name=value&name=value" (a query string or an application/x-www-form-urlencoded
// body) into decoded pairs in their order. An empty text gives no fields; a part
// without '=' is a name with an empty value; empty parts ("a=1&&b=2") are skipped.
// Nothing for a text longer than kLongestForm, more than kMostFields fields, an empty
// name or a malformed escape.
std::optional<Fields> ParseForm(std::string_view text);

// The value of the first field named `name`, or an empty text.
std::string FieldValue(const Fields& fields, std::string_view name);

std::string HtmlEscape(std::string_view text);  // & < > " ' as entities
std::string XmlEscape(std::string_view text);   // the same set, valid in XML
// A JSON string literal, quotes included; control characters as \u00XX, and bytes
// that are not valid UTF-8 replaced by U+FFFD, so the result is always valid JSON.
std::string JsonString(std::string_view text);

// A SCPI string: `value` in double quotes with each quote doubled, and back (a text
// that is no quoted string comes back as it is).
std::string ScpiQuoted(std::string_view value);
std::string ScpiUnquoted(std::string_view text);

// `page` with every "{{key}}" replaced by lookup(key), HTML-escaped. A key lookup does
// not know (nullopt) is left as it stands, so a misspelt key shows on the page.
std::string FillTemplate(std::string_view page,
                         const std::function<std::optional<std::string>(std::string_view)>& lookup);

}  // namespace web
