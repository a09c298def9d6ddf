// The channels of a relay card's energised drive bits, for the models whose relay map is
// simple enough for the simulator to know: one relay a drive bit in channel order (the
// relay drivers, the switches and multiplexers without a channel table, the identity-map
// matrices), the RF switches' two banks, and the SM-MX26Q's two-relay trees. The live view
// names energised relays by channel with it, and by drive bit for every other model.
#pragma once

#include <string>
#include <vector>

namespace sim {

// The channels that `bits` (energised drive bits, ascending) close on a card of `model`,
// ascending; false, and `channels` untouched, when the simulator does not know the
// model's map or a bit lies outside it.
bool ChannelsOfDriveBits(const std::string& model, const std::vector<int>& bits,
                         std::vector<int>* channels);

}  // namespace sim
