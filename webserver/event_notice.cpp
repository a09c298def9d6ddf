// Event notices cut from the event port's stream and told as JSON.
#include "webserver/event_notice.h"

namespace web {

std::vector<uint32_t> NoticeCutter::Feed(std::string_view bytes) {
  pending_.append(bytes);
  std::vector<uint32_t> words;
  std::size_t at = 0;
  while (pending_.size() - at >= kNoticeSize) {
    if (pending_[at + kNoticeSize - 1] != '\n') {
      ++at;
      continue;
    }
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(pending_[at + i]);
    words.push_back(word);
    at += kNoticeSize;
  }
  pending_.erase(0, at);
  return words;
}

std::string NoticeJson(uint32_t word) {
  std::string json = "{\"word\":" + std::to_string(word) + ",\"scan\":";
  json += (word & kScanStarted) ? "\"started\"" : (word & kScanEnded) ? "\"ended\"" : "null";
  json += ",\"relays\":";
  json += (word & kRelaysChanged) ? "true" : "false";
  json += ",\"slots\":[";
  bool first = true;
  for (int slot = 0; slot <= 12; ++slot) {
    if ((word & (1u << (slot + kFirstSlotBit))) == 0) continue;
    if (!first) json += ',';
    json += std::to_string(slot);
    first = false;
  }
  json += "],\"interlock\":";
  json += (word & kInterlockBroken) ? "\"broken\"" : (word & kInterlockRestored) ? "\"restored\"" : "null";
  json += ",\"emergency\":";
  json += (word & kEmergencyReset) ? "true" : "false";
  return json + "}";
}

}  // namespace web
