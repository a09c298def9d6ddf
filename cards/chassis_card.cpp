// The chassis pseudo-card of slot 0 (type 0x7A00): it names the chassis in module
// identification and has no channels and no images. Its channel operations refuse with
// -1; IsValidChannel answers 0, so that no channel list ever names a chassis channel.
#include "cards/relay_cards.h"
#include "cards/relay_driver.h"

namespace {

int32_t ChassisNoError(int /*slot*/) { return 0; }

int32_t ChassisIdentity(int /*slot*/, char* description, char* serial, char* rev1, char* rev2,
                        char* rev3) {
  FillCardIdentity("4410X SWITCH SYSTEM", description, serial, rev1, rev2, rev3);
  return 0;
}

int32_t ChassisNoChannel(int /*slot*/, int32_t /*channel*/, uint8_t /*channel_flag*/) {
  return -1;
}
int32_t ChassisNoChannels(int /*slot*/, uint8_t /*channel_flag*/) { return -1; }
int32_t ChassisChannelInvalid(int /*slot*/, int32_t /*channel*/) { return 0; }
int32_t ChassisNoRelay(int /*slot*/, int32_t /*channel*/) { return -1; }
int32_t ChassisHook(int32_t /*command_id*/, int /*slot*/, int32_t /*channel*/,
                    CommandContext* /*context*/) {
  return 0;
}
int32_t ChassisInterrupt(int /*slot*/, uint8_t /*status*/) { return 0; }

}  // namespace

constexpr CardTemplate kChassisTemplate{
    .type_id = kChassisTypeId,
    .present = 1,
    .operations =
        {
            .Init = ChassisNoError,
            .Reset = ChassisNoError,
            .GetIdentity = ChassisIdentity,
            .ChannelToIndex = ChassisNoChannel,
            .FirstChannel = ChassisNoChannels,
            .NextChannel = ChassisNoChannel,
            .PrevChannel = ChassisNoChannel,
            .LastChannel = ChassisNoChannels,
            .ChannelCount = ChassisNoChannels,
            .IsValidChannel = ChassisChannelInvalid,
            .GetRelayState = ChassisNoRelay,
            .GetRelayCount = nullptr,
            .SetRelayCount = nullptr,
            .VerifyChannel = nullptr,
            .ValidateHook = ChassisHook,
            .SegmentHook = ChassisHook,
            .ExecuteHook = ChassisHook,
            .SetPending = nullptr,
            .ApplyPending = nullptr,
            .RevertPending = nullptr,
            .WriteHardware = nullptr,
            .SettleTime = nullptr,
            .ConfidenceCheck = nullptr,
            .Interrupt = ChassisInterrupt,
            .Shutdown = nullptr,
            .DigitalOp = nullptr,
        },
};
