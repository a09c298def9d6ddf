// Fuzz target for the virtual chassis' description file: arbitrary text through the
// parser. A description it accepts names only catalogue models in slots 1 .. 12, and
// written back one slot a line it parses to the same cage.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/card_models.h"
#include "sim/chassis_description.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "chassis_description: %s\n", what);
  std::abort();
}

bool IsCatalogueName(const std::string& model) {
  for (const std::string& name : sim::CardModelNames()) {
    if (name == model) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::ChassisDescription description;
  std::string error;
  if (sim::ParseChassisDescription(text, &description, &error) != 0) {
    if (error.rfind("line ", 0) != 0) Fail("a refusal that names no line");
    return 0;
  }
  if (!description.models[0].empty()) Fail("a card in the chassis' own slot 0");
  std::string written;
  for (int slot = sim::kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const std::string& model = description.models[static_cast<std::size_t>(slot)];
    if (model.empty()) continue;
    if (!IsCatalogueName(model)) Fail("a model outside the catalogue");
    written += std::to_string(slot) + " " + model + "\n";
  }
  sim::ChassisDescription again;
  if (sim::ParseChassisDescription(written, &again, &error) != 0) Fail("written cage refused");
  if (again.models != description.models) Fail("written cage parses differently");
  sim::CageSummary(description);
  return 0;
}
