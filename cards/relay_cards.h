// The templates of the built-in cards served by the relay-driver core as they stand
// (each model's tables are in its own file), the chassis pseudo-card and the generic
// card. cards/card_templates.cpp lists them by type id.
#pragma once

#include "cards/card_record.h"

extern const CardTemplate kChassisTemplate;  // 0x7A00, slot 0
extern const CardTemplate kSmRd96Template;   // 0x7A01
extern const CardTemplate kSmRd48Template;   // 0x7A02
extern const CardTemplate kSmMx52Template;   // 0x7A03
extern const CardTemplate kSmSw80Template;   // 0x7A04
extern const CardTemplate kSmSw20Template;   // 0x7A05
extern const CardTemplate kSmSc64Template;   // 0x7A06
extern const CardTemplate kSmMt816Template;  // 0x7A07
extern const CardTemplate kSmHf1Template;    // 0x7A08
extern const CardTemplate kSmMt436Template;  // 0x7A09
extern const CardTemplate kSmMt9qTemplate;   // 0x7A0B
extern const CardTemplate kSmMt3wTemplate;   // 0x7A0C
extern const CardTemplate kSmMt2wTemplate;   // 0x7A0D
extern const CardTemplate kSmMt2eTemplate;   // 0x7A0E
extern const CardTemplate kSmMt12Template;   // 0x7A0F
extern const CardTemplate kSmRf5Template;    // 0x7A11
extern const CardTemplate kSmRf4dTemplate;   // 0x7A14
extern const CardTemplate kSmRf6dTemplate;   // 0x7A15
