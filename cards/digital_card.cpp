// The SM-DIO12 digital I/O card, in its four variants (TTL, CMOS and open collector with
// twelve 8-bit ports, high-voltage open collector with six): identity, and the channel
// operations, which number the card's ports as its channels. The card has no relays,
// so the relay operations are absent.
#include <cstdio>

#include "cards/card_manager.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"

namespace {

struct Variant {
  uint32_t type_id;
  const char* description;
  int32_t ports;
};

constexpr Variant kVariants[] = {
    {kSmDio12TtlTypeId, "SM-DIO12 TTL 12-BYTE DIGITAL INPUT/OUTPUT MODULE", 12},
    {kSmDio12CmosTypeId, "SM-DIO12 CMOS 12-BYTE DIGITAL INPUT/OUTPUT MODULE", 12},
    {kSmDio12OcTypeId, "SM-DIO12 OC 12-BYTE DIGITAL INPUT/OUTPUT OPEN COLLECTOR MODULE", 12},
    {kSmDio12HvocTypeId,
     "SM-DIO12 HVOC 6-BYTE DIGITAL INPUT/OUTPUT HIGH VOLTAGE OPEN COLLECTOR MODULE", 6},
};

// The variant of the card in `slot`, or null for a slot outside 1..12 or another card.
const Variant* VariantOf(int slot) {
  const CardRecord* record = CardSlotRecord(slot);
  if (record == nullptr) return nullptr;
  for (const Variant& variant : kVariants) {
    if (variant.type_id == record->type_id) return &variant;
  }
  return nullptr;
}

int32_t PortCount(int slot) {
  const Variant* variant = VariantOf(slot);
  return variant != nullptr ? variant->ports : 0;
}

int32_t DigitalGetIdentity(int slot, char* description, char* serial, char* rev1, char* rev2,
                           char* rev3) {
  const Variant* variant = VariantOf(slot);
  std::snprintf(description, kCardTextSize, "%s",
                variant != nullptr ? variant->description : "N/A");
  for (char* text : {serial, rev1, rev2, rev3}) std::snprintf(text, kCardTextSize, "N/A");
  return 0;
}

int32_t DigitalChannelToIndex(int slot, int32_t port, uint8_t /*channel_flag*/) {
  return port >= 0 && port < PortCount(slot) ? port : err::kChannelNotValid;
}

int32_t DigitalFirstChannel(int slot, uint8_t /*channel_flag*/) {
  return PortCount(slot) > 0 ? 0 : err::kChannelNotValid;
}

int32_t DigitalNextChannel(int slot, int32_t port, uint8_t channel_flag) {
  const int32_t index = DigitalChannelToIndex(slot, port, channel_flag);
  if (index < 0) return index;
  return index + 1 < PortCount(slot) ? index + 1 : err::kChannelNotValid;
}

int32_t DigitalPrevChannel(int slot, int32_t port, uint8_t channel_flag) {
  const int32_t index = DigitalChannelToIndex(slot, port, channel_flag);
  if (index <= 0) return index;  // port 0 has none before it: 0
  return index - 1;
}

int32_t DigitalLastChannel(int slot, uint8_t /*channel_flag*/) {
  const int32_t ports = PortCount(slot);
  return ports > 0 ? ports - 1 : err::kChannelNotValid;
}

int32_t DigitalChannelCount(int slot, uint8_t /*channel_flag*/) { return PortCount(slot); }

// Tells a digital card from any other card for the DIGital commands.
int32_t DigitalDigitalOp(int slot, int32_t port) {
  return DigitalChannelToIndex(slot, port, 0) >= 0 ? 1 : 0;
}

// The instrument reset visits every card; the ports keep their state through it.
int32_t DigitalReset(int /*slot*/) { return 0; }

constexpr CardOperations kDigitalOperations{
    .Init = nullptr,
    .Reset = DigitalReset,
    .GetIdentity = DigitalGetIdentity,
    .ChannelToIndex = DigitalChannelToIndex,
    .FirstChannel = DigitalFirstChannel,
    .NextChannel = DigitalNextChannel,
    .PrevChannel = DigitalPrevChannel,
    .LastChannel = DigitalLastChannel,
    .ChannelCount = DigitalChannelCount,
    .IsValidChannel = nullptr,
    .GetRelayState = nullptr,
    .GetRelayCount = nullptr,
    .SetRelayCount = nullptr,
    .VerifyChannel = nullptr,
    .ValidateHook = nullptr,
    .SegmentHook = nullptr,
    .ExecuteHook = nullptr,
    .SetPending = nullptr,
    .ApplyPending = nullptr,
    .RevertPending = nullptr,
    .WriteHardware = nullptr,
    .SettleTime = nullptr,
    .ConfidenceCheck = nullptr,
    .Interrupt = nullptr,
    .Shutdown = nullptr,
    .DigitalOp = DigitalDigitalOp,
};

constexpr CardTemplate DigitalTemplate(uint32_t type_id) {
  CardTemplate card{};
  card.type_id = type_id;
  card.present = 1;
  card.operations = kDigitalOperations;
  card.category = kCardDigital;
  return card;
}

}  // namespace

constinit const CardTemplate kSmDio12TtlTemplate = DigitalTemplate(kSmDio12TtlTypeId);
constinit const CardTemplate kSmDio12CmosTemplate = DigitalTemplate(kSmDio12CmosTypeId);
constinit const CardTemplate kSmDio12OcTemplate = DigitalTemplate(kSmDio12OcTypeId);
constinit const CardTemplate kSmDio12HvocTemplate = DigitalTemplate(kSmDio12HvocTypeId);
