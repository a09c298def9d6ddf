// Fuzz target for what a browser sends the web server: the input is a query string or
// form body, and a page template. The decoded fields must respect the limits, the
// escapes must leave nothing that could close their quotes or tags, and a JSON string
// must hold no raw control character.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "webserver/web_text.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "web_form: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto fields = web::ParseForm(text)) {
    if (fields->size() > web::kMostFields) Fail("more fields than the limit");
    for (const auto& [name, value] : *fields) {
      if (name.empty()) Fail("a field without a name");
      if (name.find('\0') != std::string::npos || value.find('\0') != std::string::npos) Fail("a NUL decoded");
      if (web::HtmlEscape(value).find_first_of("<>\"'") != std::string::npos) Fail("HTML escape leaks");
      const std::string json = web::JsonString(value);
      for (std::size_t i = 1; i + 1 < json.size(); ++i) {
        if (static_cast<unsigned char>(json[i]) < 0x20) Fail("raw control character in JSON");
        if (json[i] == '"' && json[i - 1] != '\\') Fail("unescaped quote in JSON");
      }
      if (web::ScpiUnquoted(web::ScpiQuoted(value)) != value) Fail("SCPI string does not come back");
    }
  } else if (text.size() <= web::kLongestForm && text.find('%') == std::string_view::npos &&
             text.find("&=") == std::string_view::npos && text.find('=') != 0 &&
             text.find("&") == std::string_view::npos && text.find('\0') == std::string_view::npos) {
    Fail("a plain single field refused");
  }
  const std::string page = web::FillTemplate(text, [](std::string_view key) -> std::optional<std::string> {
    if (key == "v") return std::string("<&>");
    return std::nullopt;
  });
  if (page.find("<&>") != std::string::npos && text.find("<&>") == std::string_view::npos) {
    Fail("a value went into the page unescaped");
  }
  return 0;
}
