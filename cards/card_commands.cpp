// The card commands: list a module's channel or relay numbers in the card's own order,
// and read (and clear) the interrupt byte of every card slot.
#include <cstdio>

#include "cards/card_handlers.h"
#include "cards/card_manager.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"

namespace {

constexpr uint8_t kChannelNumbers = 0;
constexpr uint8_t kRelayNumbers = 1;

int32_t Slot(const CommandContext* context) {
  int32_t slot = 0;
  ParseInteger(context->parameters[0], 0, kLastCardSlot, &slot);
  return slot;
}

// Every number of the card from its first through `NextChannel`, `count` in all; a
// card without channels (the chassis) answers NONE.
int32_t ListNumbers(CommandContext* context, uint8_t numbering) {
  const int slot = Slot(context);
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsCardPresent(slot)) return err::kNoModule;
  const int32_t count = CardChannelCount(slot, numbering);
  int32_t number = CardFirstChannel(slot, numbering);
  if (count <= 0 || number < 0) return AppendConstantToReply("NONE", context);
  for (int32_t i = 0; i < count; ++i) {
    if (i > 0) number = CardNextChannel(slot, number, numbering);
    if (number < 0) return number;
    const int32_t result = AppendIntegerNumberToReply(number, context);
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace

int32_t SYST_MODULE_CHANNEL_LISTQuery_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 0, kLastCardSlot);
}
int32_t SYST_MODULE_CHANNEL_LISTQuery_DoExecutionConclusion(CommandContext* context) {
  return ListNumbers(context, kChannelNumbers);
}

int32_t SYST_MODULE_RELAY_LISTQuery_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 0, kLastCardSlot);
}
int32_t SYST_MODULE_RELAY_LISTQuery_DoExecutionConclusion(CommandContext* context) {
  return ListNumbers(context, kRelayNumbers);
}

NO_PARAMETERS_VALIDATION(DIAG_INTERRUPT_READQuery)

// The bytes are read and cleared under the card lock, so an interrupt stored by the
// monitor between the read and the clear is never lost.
int32_t DIAG_INTERRUPT_READQuery_DoExecutionConclusion(CommandContext* context) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    uint8_t status = 0;
    int32_t result = GetTestInterruptStatus(slot, &status);
    if (result != 0) return result;
    if (status != 0) SetTestInterruptStatus(slot, 0);
    char text[8];
    std::snprintf(text, sizeof text, "#H%X", status);
    result = AppendStringToReply(text, context);
    if (result != 0) return result;
  }
  return 0;
}
