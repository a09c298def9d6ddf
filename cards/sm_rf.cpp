// The RF switch modules: SM-RF5 (five SPDT switches, channels 0-4, bits 0-4), SM-RF4D
// (two 1x4 switches: channels 0-3 on bits 0-3, 10-13 on bits 8-11) and SM-RF6D (two
// 1x6 switches: channels 0-5 on bits 0-5, 6-11 on bits 8-13). The dual modules put each
// switch in a drive byte of its own.
#include "cards/relay_cards.h"
#include "cards/relay_driver.h"
#include "cards/relay_tables.h"

namespace {

constexpr uint8_t kRf5Mask[1] = {0x1F};

constexpr RelayCardDescriptor kSmRf5{
    .type_id = 0x7A11,
    .description = "SM-RF5 5-CHANNEL SPDT RF MUX",
    .channel_count = 5,
    .channel_table = nullptr,
    .relay_map = nullptr,
    .image_bytes = 1,
    .drive_bytes = 1,
    .confidence_mask = kRf5Mask,
    .settle_time = 500,
};

constexpr std::array<uint16_t, 8> kRf4dChannels = {0, 1, 2, 3, 10, 11, 12, 13};
constexpr std::array<uint16_t, 8> kRf4dMap = {0, 1, 2, 3, 8, 9, 10, 11};
static_assert(Ascending(kRf4dChannels));
constexpr uint8_t kRf4dMask[2] = {0x0F, 0x0F};

constexpr RelayCardDescriptor kSmRf4d{
    .type_id = 0x7A14,
    .description = "SM-RF4D DUAL 1x4 RF SWITCHING MODULE",
    .channel_count = 8,
    .channel_table = kRf4dChannels.data(),
    .relay_map = kRf4dMap.data(),
    .image_bytes = 2,
    .drive_bytes = 2,
    .confidence_mask = kRf4dMask,
    .settle_time = 10000,
};

constexpr std::array<uint16_t, 12> kRf6dMap = {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13};
constexpr uint8_t kRf6dMask[2] = {0x3F, 0x3F};

constexpr RelayCardDescriptor kSmRf6d{
    .type_id = 0x7A15,
    .description = "SM-RF6D DUAL 1x6 RF SWITCHING MODULE",
    .channel_count = 12,
    .channel_table = nullptr,
    .relay_map = kRf6dMap.data(),
    .image_bytes = 2,
    .drive_bytes = 2,
    .confidence_mask = kRf6dMask,
    .settle_time = 10000,
};

}  // namespace

constexpr CardTemplate kSmRf5Template = RelayCardTemplate(kSmRf5);
constexpr CardTemplate kSmRf4dTemplate = RelayCardTemplate(kSmRf4d);
constexpr CardTemplate kSmRf6dTemplate = RelayCardTemplate(kSmRf6d);
