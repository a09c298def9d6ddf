// The chassis' event notices as the web server relays them: the 5-byte notices of the
// event port (the event word, least significant byte first, then a line feed) cut
// from the byte stream, and each word told to browsers as one JSON object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace web {

inline constexpr std::size_t kNoticeSize = 5;

// Event word bits.
inline constexpr uint32_t kScanStarted = 1u << 0;
inline constexpr uint32_t kScanEnded = 1u << 1;
inline constexpr int kFirstSlotBit = 2;  // slot s is bit s + 2, s = 0 .. 12
inline constexpr uint32_t kInterlockRestored = 1u << 27;
inline constexpr uint32_t kInterlockBroken = 1u << 28;
inline constexpr uint32_t kRelaysChanged = 1u << 29;
inline constexpr uint32_t kEmergencyReset = 1u << 30;

// Cuts notices from the stream as its bytes arrive, in any pieces. A 5-byte group that
// does not end in a line feed is no notice: its first byte is dropped and the cutter
// looks again from the next, so one stray byte costs one notice at most.
class NoticeCutter {
 public:
  // Appends `bytes` and returns the words of the notices now complete.
  std::vector<uint32_t> Feed(std::string_view bytes);

 private:
  std::string pending_;
};

// {"word":N,"scan":"started"|"ended"|null,"relays":true|false,"slots":[..],
//  "interlock":"broken"|"restored"|null,"emergency":true|false}
std::string NoticeJson(uint32_t word);

}  // namespace web
