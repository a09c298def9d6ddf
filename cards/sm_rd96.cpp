// SM-RD96 and SM-RD48, the relay drivers: eight relays per bank, channels 100·b + r
// (r 0-7), bank b from 1; every channel index drives the drive bit of the same number
// (identity map), so every bit of every drive byte carries a coil.
#include "cards/relay_cards.h"
#include "cards/relay_driver.h"
#include "cards/relay_tables.h"

namespace {

// 100-107, 200-207, ..., 1200-1207.
constexpr auto kRd96Channels = GridChannels<1, 12, 8>(100, 0, 100);
static_assert(kRd96Channels[0] == 100 && kRd96Channels[8] == 200 && kRd96Channels[95] == 1207);
static_assert(Ascending(kRd96Channels));
constexpr uint8_t kRd96Mask[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr RelayCardDescriptor kSmRd96{
    .type_id = 0x7A01,
    .description = "SM-RD96 96-CHANNEL RELAY DRIVER",
    .channel_count = 96,
    .channel_table = kRd96Channels.data(),
    .relay_map = nullptr,
    .image_bytes = 12,
    .drive_bytes = 12,
    .confidence_mask = kRd96Mask,
    .settle_time = 1000,
};

// 100-107, ..., 600-607.
constexpr auto kRd48Channels = GridChannels<1, 6, 8>(100, 0, 100);
static_assert(kRd48Channels[0] == 100 && kRd48Channels[47] == 607);
static_assert(Ascending(kRd48Channels));
constexpr uint8_t kRd48Mask[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr RelayCardDescriptor kSmRd48{
    .type_id = 0x7A02,
    .description = "SM-RD48 48-CHANNEL RELAY DRIVER",
    .channel_count = 48,
    .channel_table = kRd48Channels.data(),
    .relay_map = nullptr,
    .image_bytes = 6,
    .drive_bytes = 6,
    .confidence_mask = kRd48Mask,
    .settle_time = 1000,
};

}  // namespace

constexpr CardTemplate kSmRd96Template = RelayCardTemplate(kSmRd96);
constexpr CardTemplate kSmRd48Template = RelayCardTemplate(kSmRd48);
