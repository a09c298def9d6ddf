// The matrix modules, 100·x + y crosspoints (x the row, y the column), some in several
// sub-matrices m. Channel indices run m, then x, then y. Three relay maps are in use:
// - identity (index i drives bit i): SM-MT436, SM-MT9Q, SM-MT2W;
// - groups of four in 32-bit blocks, alternating between the block's two 16-bit words
//   (0-3 → 0-3, 4-7 → 16-19, 8-11 → 4-7, 12-15 → 20-23, ..., 28-31 → 28-31, then the
//   next block from bit 32): SM-MT816;
// - groups of four across the nine 16-bit words of the drive layout, nibble by nibble
//   (0-3 → 0-3, 4-7 → 16-19, 8-11 → 32-35, ..., 32-35 → 128-131, 36-39 → 4-7, ...):
//   SM-MT3W, SM-MT2E, SM-MT12.
// Every matrix has 18 drive bytes; the masks cover the bits their maps reach.
#include "cards/relay_cards.h"
#include "cards/relay_driver.h"
#include "cards/relay_tables.h"

namespace {

constexpr int kMatrixWords = 9;  // 18 drive bytes
constexpr uint8_t kFullMask[18] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// Bits 0-127.
constexpr uint8_t kFirst128Mask[18] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};

// 8x16: x 0-15, y 0-7.
constexpr auto kMt816Channels = GridChannels<1, 16, 8>(0, 0, 100);
constexpr auto kMt816Map = BlockInterleavedGroupMap<128>();
static_assert(kMt816Channels[8] == 100 && kMt816Channels[127] == 1507);
static_assert(Ascending(kMt816Channels));
static_assert(kMt816Map[0] == 0 && kMt816Map[3] == 3 && kMt816Map[4] == 16 &&
              kMt816Map[7] == 19 && kMt816Map[8] == 4 && kMt816Map[11] == 7 &&
              kMt816Map[32] == 32 && kMt816Map[127] == 127);

constexpr RelayCardDescriptor kSmMt816{
    .type_id = 0x7A07,
    .description = "SM-MT816 8X16 MATRIX MODULE",
    .channel_count = 128,
    .channel_table = kMt816Channels.data(),
    .relay_map = kMt816Map.data(),
    .image_bytes = 18,
    .drive_bytes = 18,
    .confidence_mask = kFirst128Mask,
    .settle_time = 2000,
};

// 4x36: x 0-35, y 0-3.
constexpr auto kMt436Channels = GridChannels<1, 36, 4>(0, 0, 100);
static_assert(kMt436Channels[4] == 100 && kMt436Channels[143] == 3503);
static_assert(Ascending(kMt436Channels));

constexpr RelayCardDescriptor kSmMt436{
    .type_id = 0x7A09,
    .description = "SM-MT436 4X36 MATRIX MODULE",
    .channel_count = 144,
    .channel_table = kMt436Channels.data(),
    .relay_map = nullptr,
    .image_bytes = 18,
    .drive_bytes = 18,
    .confidence_mask = kFullMask,
    .settle_time = 2000,
};

// Nine 4x4: 1000·m + 100·x + y, m 0-8, x 0-3, y 0-3.
constexpr auto kMt9qChannels = GridChannels<9, 4, 4>(0, 1000, 100);
static_assert(kMt9qChannels[16] == 1000 && kMt9qChannels[143] == 8303);
static_assert(Ascending(kMt9qChannels));

constexpr RelayCardDescriptor kSmMt9q{
    .type_id = 0x7A0B,
    .description = "SM-MT9Q 9-4X4 MATRIX MODULE",
    .channel_count = 144,
    .channel_table = kMt9qChannels.data(),
    .relay_map = nullptr,
    .image_bytes = 18,
    .drive_bytes = 18,
    .confidence_mask = kFullMask,
    .settle_time = 2000,
};

// Three 4x12: 10000·m + 100·x + y, m 0-2, x 0-3, y 0-11.
constexpr auto kMt3wChannels = GridChannels<3, 4, 12>(0, 10000, 100);
constexpr auto kMt3wMap = WordColumnGroupMap<144>(kMatrixWords);
static_assert(kMt3wChannels[12] == 100 && kMt3wChannels[48] == 10000 &&
              kMt3wChannels[143] == 20311);
static_assert(Ascending(kMt3wChannels));
static_assert(kMt3wMap[0] == 0 && kMt3wMap[3] == 3 && kMt3wMap[4] == 16 && kMt3wMap[7] == 19 &&
              kMt3wMap[8] == 32 && kMt3wMap[11] == 35 && kMt3wMap[36] == 4 &&
              kMt3wMap[143] == 143);

constexpr RelayCardDescriptor kSmMt3w{
    .type_id = 0x7A0C,
    .description = "SM-MT3W 3-4X12 MATRIX MODULE",
    .channel_count = 144,
    .channel_table = kMt3wChannels.data(),
    .relay_map = kMt3wMap.data(),
    .image_bytes = 18,
    .drive_bytes = 18,
    .confidence_mask = kFullMask,
    .settle_time = 2000,
};

// Two 4x16: 10000·m + 100·x + y, m 0-1, x 0-15, y 0-3.
constexpr auto kMt2wChannels = GridChannels<2, 16, 4>(0, 10000, 100);
static_assert(kMt2wChannels[64] == 10000 && kMt2wChannels[127] == 11503);
static_assert(Ascending(kMt2wChannels));

constexpr RelayCardDescriptor kSmMt2w{
    .type_id = 0x7A0D,
    .description = "SM-MT2W 2-4X16 MATRIX MODULE",
    .channel_count = 128,
    .channel_table = kMt2wChannels.data(),
    .relay_map = nullptr,
    .image_bytes = 18,
    .drive_bytes = 18,
    .confidence_mask = kFirst128Mask,
    .settle_time = 2000,
};

// Two 8x8: 10000·m + 100·x + y, m 0-1, x 0-7, y 0-7. Its 32 groups fill nibbles 0-2 of
// all nine words and nibble 3 of words 0-4.
constexpr auto kMt2eChannels = GridChannels<2, 8, 8>(0, 10000, 100);
constexpr auto kMt2eMap = WordColumnGroupMap<128>(kMatrixWords);
static_assert(kMt2eChannels[64] == 10000 && kMt2eChannels[127] == 10707);
static_assert(Ascending(kMt2eChannels));
static_assert(kMt2eMap[4] == 16 && kMt2eMap[8] == 32 && kMt2eMap[124] == 76 &&
              kMt2eMap[127] == 79);
constexpr uint8_t kMt2eMask[18] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F};

constexpr RelayCardDescriptor kSmMt2e{
    .type_id = 0x7A0E,
    .description = "SM-MT2E 2-8X8 MATRIX MODULE",
    .channel_count = 128,
    .channel_table = kMt2eChannels.data(),
    .relay_map = kMt2eMap.data(),
    .image_bytes = 18,
    .drive_bytes = 18,
    .confidence_mask = kMt2eMask,
    .settle_time = 2000,
};

// 12x12: x 0-11, y 0-11.
constexpr auto kMt12Channels = GridChannels<1, 12, 12>(0, 0, 100);
constexpr auto kMt12Map = WordColumnGroupMap<144>(kMatrixWords);
static_assert(kMt12Channels[12] == 100 && kMt12Channels[143] == 1111);
static_assert(Ascending(kMt12Channels));

constexpr RelayCardDescriptor kSmMt12{
    .type_id = 0x7A0F,
    .description = "SM-MT12 12X12 MATRIX MODULE",
    .channel_count = 144,
    .channel_table = kMt12Channels.data(),
    .relay_map = kMt12Map.data(),
    .image_bytes = 18,
    .drive_bytes = 18,
    .confidence_mask = kFullMask,
    .settle_time = 2000,
};

}  // namespace

constexpr CardTemplate kSmMt816Template = RelayCardTemplate(kSmMt816);
constexpr CardTemplate kSmMt436Template = RelayCardTemplate(kSmMt436);
constexpr CardTemplate kSmMt9qTemplate = RelayCardTemplate(kSmMt9q);
constexpr CardTemplate kSmMt3wTemplate = RelayCardTemplate(kSmMt3w);
constexpr CardTemplate kSmMt2wTemplate = RelayCardTemplate(kSmMt2w);
constexpr CardTemplate kSmMt2eTemplate = RelayCardTemplate(kSmMt2e);
constexpr CardTemplate kSmMt12Template = RelayCardTemplate(kSmMt12);
