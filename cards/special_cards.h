// The card models that differ from the plain relay card in more than their tables: the
// one-wire multiplexers SM-MX12H and SM-MX26Q (two drive bits per channel, relay
// counters in an on-card FRAM), the step attenuator SM-AT56, the chassis test card
// SM-CT1 (it interrupts) and the four variants of the digital I/O card SM-DIO12.
//
// Their templates join the built-in template table; the attenuator's setter and reader
// serve the attenuation command.
#pragma once

#include <cstdint>

#include "cards/card_record.h"

inline constexpr uint32_t kSmAt56TypeId = 0x7A0A;
inline constexpr uint32_t kSmMx12hTypeId = 0x7A10;
inline constexpr uint32_t kSmCt1TypeId = 0x7A12;
inline constexpr uint32_t kSmMx26qTypeId = 0x7A13;
inline constexpr uint32_t kSmDio12TtlTypeId = 0x7A20;
inline constexpr uint32_t kSmDio12CmosTypeId = 0x7A21;
inline constexpr uint32_t kSmDio12OcTypeId = 0x7A22;
inline constexpr uint32_t kSmDio12HvocTypeId = 0x7A23;

extern const CardTemplate kSmMx12hTemplate;
extern const CardTemplate kSmMx26qTemplate;
extern const CardTemplate kSmAt56Template;
extern const CardTemplate kSmCt1Template;
extern const CardTemplate kSmDio12TtlTemplate;
extern const CardTemplate kSmDio12CmosTemplate;
extern const CardTemplate kSmDio12OcTemplate;
extern const CardTemplate kSmDio12HvocTemplate;

// ---- SM-AT56 step attenuator -------------------------------------------------------
inline constexpr int kAttenuatorPads = 8;

// The pad table of one attenuator card, kept per slot.
struct AttenuatorPadTable {
  uint32_t type_id;
  uint32_t pad_count;
  double total;  // dB, every pad inserted
  struct Pad {
    double attenuation;  // dB
    uint8_t selected;
  } pads[kAttenuatorPads];
  // 1: a selected pad closes its relay; 0: a selected pad opens it.
  uint8_t polarity;
};

// Inserts the pads that make up `decibels` (with 0.1 dB of headroom against rounding):
// the pads are taken from the largest down while they fit, their relays set through the
// pending image and applied and written at once. 0, -22202 for a slot outside 1..12,
// -30002 without a card, -20071 for a card that is not an attenuator, or the card's
// write error.
int32_t SetAttenuation(int slot, double decibels);
// The sum of the selected pads' attenuations, with the same refusals (and -301 for a
// null output).
int32_t GetAttenuation(int slot, double* decibels);
// The slot's pad table (slots 1..12), else null.
const AttenuatorPadTable* AttenuatorPads(int slot);

// The channel-delay command and its query, as card-directed commands the attenuator
// validates. The command table hands these ids to the card hooks.
inline constexpr int32_t kChannelDelayCommandId = 10252;
inline constexpr int32_t kChannelDelayQueryId = 10253;
