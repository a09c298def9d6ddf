// The built-in card templates, by type id: the table installation looks a card's type
// up in. A type that is not listed is installed with the generic template.
#include <cstddef>
#include <cstdint>

#include "cards/card_record.h"
#include "cards/relay_cards.h"
#include "cards/special_cards.h"

namespace {

struct TemplateEntry {
  uint32_t type_id;
  const CardTemplate* card;
};

// Ascending by type id.
constexpr TemplateEntry kTemplates[] = {
    {0x7A00, &kChassisTemplate},  //
    {0x7A01, &kSmRd96Template},   //
    {0x7A02, &kSmRd48Template},   //
    {0x7A03, &kSmMx52Template},   //
    {0x7A04, &kSmSw80Template},   //
    {0x7A05, &kSmSw20Template},   //
    {0x7A06, &kSmSc64Template},   //
    {0x7A07, &kSmMt816Template},  //
    {0x7A08, &kSmHf1Template},    //
    {0x7A09, &kSmMt436Template},  //
    {0x7A0A, &kSmAt56Template},   //
    {0x7A0B, &kSmMt9qTemplate},   //
    {0x7A0C, &kSmMt3wTemplate},   //
    {0x7A0D, &kSmMt2wTemplate},   //
    {0x7A0E, &kSmMt2eTemplate},   //
    {0x7A0F, &kSmMt12Template},   //
    {0x7A10, &kSmMx12hTemplate},  //
    {0x7A11, &kSmRf5Template},    //
    {0x7A12, &kSmCt1Template},    //
    {0x7A13, &kSmMx26qTemplate},  //
    {0x7A14, &kSmRf4dTemplate},   //
    {0x7A15, &kSmRf6dTemplate},   //
    {0x7A20, &kSmDio12TtlTemplate},   //
    {0x7A21, &kSmDio12CmosTemplate},  //
    {0x7A22, &kSmDio12OcTemplate},    //
    {0x7A23, &kSmDio12HvocTemplate},  //
};

constexpr bool AscendingIds() {
  for (std::size_t i = 1; i < sizeof kTemplates / sizeof kTemplates[0]; ++i) {
    if (kTemplates[i].type_id <= kTemplates[i - 1].type_id) return false;
  }
  return true;
}
static_assert(AscendingIds(), "one entry per type id, in order");

}  // namespace

const CardTemplate* FindCardTemplate(uint32_t type_id) {
  for (const TemplateEntry& entry : kTemplates) {
    if (entry.type_id == type_id) return entry.card;
  }
  return nullptr;
}
