// Relay maps of the card models the live view names by channel (see channel_maps.h).
#include "sim/channel_maps.h"

#include <algorithm>

namespace sim {
namespace {

// A channel numbering in nested digits: relay index i (the drive bit of an identity
// map) is split, innermost first, into digits of the given counts, each placed at its
// weight, and `first` is added. SM-RD96: 12 banks of 8 relays, channel 100 + 100 b + r.
struct Numbering {
  int count;      // relays, that is drive bits in use
  int first;      // channel of relay 0
  int inner;      // relays in the innermost group
  int inner_weight;
  int middle;     // groups of `inner` in a middle group (0: no middle level)
  int middle_weight;
  int outer_weight;
};

struct ModelMap {
  const char* model;
  Numbering numbering;
};

// clang-format off
constexpr ModelMap kNumberings[] = {
  // model        count first inner weight middle weight outer
  {"SM-RD96",   {96,  100, 8,  1,   0,  0,   100}},    // 100-107 ... 1200-1207
  {"SM-RD48",   {48,  100, 8,  1,   0,  0,   100}},    // 100-107 ... 600-607
  {"SM-MX52",   {52,  0,   52, 1,   0,  0,   0}},      // 0-51
  {"SM-SW80",   {80,  0,   80, 1,   0,  0,   0}},      // 0-79
  {"SM-SW20",   {20,  0,   20, 1,   0,  0,   0}},      // 0-19
  {"SM-RF5",    {5,   0,   5,  1,   0,  0,   0}},      // 0-4
  {"SM-HF1",    {40,  0,   4,  1,   0,  0,   10}},     // 10 g + k
  {"SM-MT436",  {144, 0,   4,  1,   0,  0,   100}},    // 100 x + y, y 0-3
  {"SM-MT9Q",   {144, 0,   4,  1,   4,  100, 1000}},   // 1000 m + 100 x + y
  {"SM-MT2W",   {128, 0,   4,  1,   16, 100, 10000}},  // 10000 m + 100 x + y
};
// clang-format on

int Number(const Numbering& n, int relay) {
  const int inner = relay % n.inner;
  int rest = relay / n.inner;
  int channel = n.first + inner * n.inner_weight;
  if (n.middle != 0) {
    channel += (rest % n.middle) * n.middle_weight;
    rest /= n.middle;
  }
  return channel + rest * n.outer_weight;
}

// The RF switches: two banks of relays, the second starting at drive bit 8 and
// channel 10 (SM-RF4D, four a bank) or continuing the channel count (SM-RF6D, six).
bool RfChannel(const std::string& model, int bit, int* channel) {
  const int bank_size = model == "SM-RF4D" ? 4 : 6;
  const int second_first = model == "SM-RF4D" ? 10 : 6;
  if (bit < bank_size) {
    *channel = bit;
  } else if (bit >= 8 && bit < 8 + bank_size) {
    *channel = second_first + bit - 8;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool ChannelsOfDriveBits(const std::string& model, const std::vector<int>& bits,
                         std::vector<int>* channels) {
  std::vector<int> found;
  if (model == "SM-MX26Q") {
    // Multiplexer m's tree is drive bits 2m and 2m + 1: channel 10m + 1 energises the
    // first, 10m + 2 both, 10m + 3 the second; 10m + 0 energises neither, so it never
    // shows as energised.
    for (size_t i = 0; i < bits.size(); ++i) {
      const int bit = bits[i];
      if (bit < 0 || bit >= 52) return false;
      const int mux = bit / 2;
      if (bit % 2 == 0 && i + 1 < bits.size() && bits[i + 1] == bit + 1) {
        found.push_back(10 * mux + 2);
        ++i;
      } else {
        found.push_back(10 * mux + (bit % 2 == 0 ? 1 : 3));
      }
    }
  } else if (model == "SM-RF4D" || model == "SM-RF6D") {
    for (int bit : bits) {
      int channel;
      if (!RfChannel(model, bit, &channel)) return false;
      found.push_back(channel);
    }
  } else {
    const ModelMap* map = std::find_if(std::begin(kNumberings), std::end(kNumberings),
                                       [&](const ModelMap& m) { return model == m.model; });
    if (map == std::end(kNumberings)) return false;
    for (int bit : bits) {
      if (bit < 0 || bit >= map->numbering.count) return false;
      found.push_back(Number(map->numbering, bit));
    }
  }
  std::sort(found.begin(), found.end());
  *channels = std::move(found);
  return true;
}

}  // namespace sim
