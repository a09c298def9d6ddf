// The multiplexer and switch modules with one relay per channel and the identity map
// (channel index i drives bit i): SM-MX52, SM-SW80 and SM-SW20, whose channels are
// numbered 0..N-1 without a channel table, and SM-HF1, channels 10·g + k (k 0-3).
// Confidence masks cover the bits 0..N-1 that carry coils.
#include "cards/relay_cards.h"
#include "cards/relay_driver.h"
#include "cards/relay_tables.h"

namespace {

// Bits 0-51.
constexpr uint8_t kMx52Mask[7] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F};

constexpr RelayCardDescriptor kSmMx52{
    .type_id = 0x7A03,
    .description = "SM-MX52 52-CHANNEL SPDT 2A MUX",
    .channel_count = 52,
    .channel_table = nullptr,
    .relay_map = nullptr,
    .image_bytes = 7,
    .drive_bytes = 7,
    .confidence_mask = kMx52Mask,
    .settle_time = 500,
};

// Bits 0-79.
constexpr uint8_t kSw80Mask[10] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr RelayCardDescriptor kSmSw80{
    .type_id = 0x7A04,
    .description = "SM-SW80 80-CHANNEL SPST 2A SWITCH MODULE",
    .channel_count = 80,
    .channel_table = nullptr,
    .relay_map = nullptr,
    .image_bytes = 10,
    .drive_bytes = 10,
    .confidence_mask = kSw80Mask,
    .settle_time = 2000,
};

// Bits 0-19.
constexpr uint8_t kSw20Mask[3] = {0xFF, 0xFF, 0x0F};

constexpr RelayCardDescriptor kSmSw20{
    .type_id = 0x7A05,
    .description = "SM-SW20 20-CHANNEL SPST 10A SWITCH MODULE",
    .channel_count = 20,
    .channel_table = nullptr,
    .relay_map = nullptr,
    .image_bytes = 3,
    .drive_bytes = 3,
    .confidence_mask = kSw20Mask,
    .settle_time = 10000,
};

// 0-3, 10-13, ..., 90-93; bits 0-39.
constexpr auto kHf1Channels = GridChannels<1, 10, 4>(0, 0, 10);
static_assert(kHf1Channels[4] == 10 && kHf1Channels[39] == 93);
static_assert(Ascending(kHf1Channels));
constexpr uint8_t kHf1Mask[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr RelayCardDescriptor kSmHf1{
    .type_id = 0x7A08,
    .description = "SM-HF1 HIGH FREQUENCY SWITCH MODULE",
    .channel_count = 40,
    .channel_table = kHf1Channels.data(),
    .relay_map = nullptr,
    .image_bytes = 5,
    .drive_bytes = 5,
    .confidence_mask = kHf1Mask,
    .settle_time = 5000,
};

}  // namespace

constexpr CardTemplate kSmMx52Template = RelayCardTemplate(kSmMx52);
constexpr CardTemplate kSmSw80Template = RelayCardTemplate(kSmSw80);
constexpr CardTemplate kSmSw20Template = RelayCardTemplate(kSmSw20);
constexpr CardTemplate kSmHf1Template = RelayCardTemplate(kSmHf1);
