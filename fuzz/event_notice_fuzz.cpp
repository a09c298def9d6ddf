// Fuzz target for the event port's byte stream as the web server relays it: the input
// is cut into notices whole and again in pieces split at its first byte's value; both
// cuts must give the same words, and each word's JSON must name only slots 0 to 12.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "webserver/event_notice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  web::NoticeCutter whole;
  const std::vector<uint32_t> words = whole.Feed(bytes);
  web::NoticeCutter pieces;
  std::vector<uint32_t> pieced;
  const std::size_t step = size == 0 ? 1 : 1 + data[0] % 7;
  for (std::size_t at = 0; at < size; at += step) {
    for (uint32_t word : pieces.Feed(bytes.substr(at, step))) pieced.push_back(word);
  }
  if (words != pieced) {
    std::fprintf(stderr, "event_notice: the cut depends on how the bytes arrive\n");
    std::abort();
  }
  if (words.size() > size / web::kNoticeSize) std::abort();
  for (uint32_t word : words) {
    const std::string json = web::NoticeJson(word);
    if (json.front() != '{' || json.back() != '}' || json.find(",13") != std::string::npos ||
        json.find("[13") != std::string::npos) {
      std::fprintf(stderr, "event_notice: %s\n", json.c_str());
      std::abort();
    }
  }
  return 0;
}
