// SM-SC64, the 64-channel two-wire scanner: eight banks of eight scan channels (0-7,
// 10-17, ..., 70-77), the seven bank relays 100, 200, ..., 700 and the four relays
// 1000-1003.
//
// Its relay map is scrambled by the card's wiring: the scan relays take the drive bits
// from 73 downward, passing over bits 70..64, which carry the bank relays 100..700 in
// order (so 0 → 73, 1 → 72, 2 → 71, 3 → 63, 4 → 62, ..., 77 → 3); 1000-1003 sit at bits
// 74-77. Bits 0-2, 78 and 79 carry no coil.
#include "cards/relay_cards.h"
#include "cards/relay_driver.h"
#include "cards/relay_tables.h"

namespace {

constexpr std::array<uint16_t, 75> kSc64Channels = {
    0,   1,   2,   3,   4,   5,   6,   7,    //
    10,  11,  12,  13,  14,  15,  16,  17,   //
    20,  21,  22,  23,  24,  25,  26,  27,   //
    30,  31,  32,  33,  34,  35,  36,  37,   //
    40,  41,  42,  43,  44,  45,  46,  47,   //
    50,  51,  52,  53,  54,  55,  56,  57,   //
    60,  61,  62,  63,  64,  65,  66,  67,   //
    70,  71,  72,  73,  74,  75,  76,  77,   //
    100, 200, 300, 400, 500, 600, 700,       //
    1000, 1001, 1002, 1003,
};
static_assert(Ascending(kSc64Channels));

constexpr std::array<uint16_t, 75> kSc64Map = {
    73, 72, 71, 63, 62, 61, 60, 59,  // 0-7
    58, 57, 56, 55, 54, 53, 52, 51,  // 10-17
    50, 49, 48, 47, 46, 45, 44, 43,  // 20-27
    42, 41, 40, 39, 38, 37, 36, 35,  // 30-37
    34, 33, 32, 31, 30, 29, 28, 27,  // 40-47
    26, 25, 24, 23, 22, 21, 20, 19,  // 50-57
    18, 17, 16, 15, 14, 13, 12, 11,  // 60-67
    10, 9,  8,  7,  6,  5,  4,  3,   // 70-77
    64, 65, 66, 67, 68, 69, 70,      // 100-700
    74, 75, 76, 77,                  // 1000-1003
};
static_assert(kSc64Map[0] == 73 && kSc64Map[1] == 72 && kSc64Map[2] == 71 && kSc64Map[3] == 63);

constexpr uint8_t kSc64Mask[10] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F};

constexpr RelayCardDescriptor kSmSc64{
    .type_id = 0x7A06,
    .description = "SM-SC64 64-CHANNEL TWO-WIRE SCANNER/MUX",
    .channel_count = 75,
    .channel_table = kSc64Channels.data(),
    .relay_map = kSc64Map.data(),
    .image_bytes = 10,
    .drive_bytes = 10,
    .confidence_mask = kSc64Mask,
    .settle_time = 4000,
};

}  // namespace

constexpr CardTemplate kSmSc64Template = RelayCardTemplate(kSmSc64);
