// Fuzz target for a card's EPROM as the firmware reads it at start-up: a simulated card
// whose EPROM image is the input, identified and installed the way the slot scan does
// it (type id from the primary or alternate layout, the downloaded tables of a card
// without a built-in driver), then driven through the operations that use those
// tables. Input: byte 0 is the card's ID register, byte 1 says whether it is a digital
// card (bit 0) and how many drive bytes it has (bits 1-5), the rest is the EPROM.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "cards/card_manager.h"
#include "fuzz/simulated_chassis.h"
#include "scpi/error_codes.h"
#include "sim/card_models.h"

namespace {

constexpr int kSlot = 7;
// A walk over more channels finds nothing the first ones did not.
constexpr int kLongestWalk = 128;
// Longer settle times only make the confidence check wait longer.
constexpr int32_t kLongestSettle = 100;

void Fail(const char* what) {
  std::fprintf(stderr, "card_eprom: %s\n", what);
  std::abort();
}

// What an installed card answers: identity, its channels walked forwards, each one
// closed in the pending image, the commit and the readback.
void DriveInstalledCard() {
  uint32_t type_id = 0;
  char description[kCardTextSize], serial[kCardTextSize], rev[3][kCardTextSize];
  GetCardIdentity(kSlot, &type_id, description, serial, rev[0], rev[1], rev[2]);
  const int32_t count = CardChannelCount(kSlot, 0);
  int32_t channel = CardFirstChannel(kSlot, 0);
  // A downloaded table need not ascend, so the walk may leave the valid channels or go
  // round; the firmware's own walks stop where the numbers stop ascending.
  for (int walked = 0; channel >= 0 && walked < kLongestWalk; ++walked) {
    CardIsValidChannel(kSlot, channel);
    CardChannelToIndex(kSlot, channel, 0);
    CardSetPending(kSlot, channel, 1);
    CardGetRelayState(kSlot, channel);
    CardVerifyChannel(kSlot, channel);
    CardPrevChannel(kSlot, channel, 0);
    channel = CardNextChannel(kSlot, channel, 0);
  }
  if (count == 0 && CardFirstChannel(kSlot, 0) >= 0) Fail("a first channel of no channels");
  CardLastChannel(kSlot, 0);
  CardIsValidChannel(kSlot, -1);
  CardIsValidChannel(kSlot, 65536);
  if (CardApplyPending(kSlot, 3) >= 0) {
    ClearPendingChange(kSlot);
    CardWriteHardware(kSlot);
  }
  if (CardSettleTime(kSlot) <= kLongestSettle) CardConfidenceCheck(kSlot);
  CardRevertPending(kSlot);
  CardReset(kSlot);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStandardOutput();
  fuzz::Chassis();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2 || size > 4096) return 0;
  sim::CardTraits traits;
  traits.model = "FUZZ";
  traits.id_byte = data[0];
  traits.digital = (data[1] & 1) != 0;
  traits.drive_bytes = (data[1] >> 1) & 0x1F;
  traits.eprom.assign(data + 2, data + size);

  ResetCardsForTest();
  auto card = std::make_shared<sim::CardModel>(traits);
  fuzz::Chassis().xbus->Plug(kSlot, card);

  uint32_t type_id = 0;
  const int32_t identified = ReadCardTypeId(kSlot, traits.id_byte, &type_id);
  if (traits.id_byte > 3 && identified != err::kIllegalIdByte) Fail("ID byte beyond 3 read");
  if (identified == 0) {
    // The tables on their own, into a record of the card's type that is not installed;
    // then the installation, which downloads them again for a type without a driver.
    CardRecord downloaded = GenericCardTemplate();
    downloaded.type_id = type_id;
    DownloadCardParams(&downloaded, kSlot);
    InstallCard(kSlot, type_id);
    if (IsCardPresent(kSlot) != 1) Fail("an installed card is not present");
    DriveInstalledCard();
  }
  fuzz::Chassis().xbus->Plug(kSlot, nullptr);
  ResetCardsForTest();
  return 0;
}
