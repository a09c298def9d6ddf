// Relay operation counters kept in the FRAM on a relay card, reached through the
// card's own local-bus registers (not through the FPGA's I2C bridge).
//
// Counter n sits at card-FRAM address 4n (kCardFramCounterBytes each) as a u32, least
// significant byte first. A
// write opens a write sequence (0xDA to 0x301), sets the address, writes the four
// bytes through 0x389 and closes the sequence (0 to 0x301); a read sets the address
// and reads four bytes through 0x38B. Both stop at the first failing bus access,
// print the FRAM transfer error line and give -1.
#pragma once

#include <cstdint>

#include "devices/card_registers.h"

// The counter of relay `channel` of the card in `slot`. Which relay numbers a card has
// is its driver's to check; here a slot outside 1..12, a relay whose counter does not
// fit the 16-bit FRAM address, or a null output give -1 without touching the bus.
int ReadFRAMSlotRelayCounter(int slot, int32_t channel, uint32_t* count);
int WriteFRAMSlotRelayCounter(int slot, int32_t channel, uint32_t count);

// The same for a card driver's counter operations, which answer with the engine's codes:
// -22202 for a slot outside 1..12, -22201 for a relay outside 0..last_relay (the card's
// highest relay number), -1 when the transfer fails.
int32_t ReadCardRelayCount(int slot, int32_t relay, int32_t last_relay, uint32_t* count);
int32_t WriteCardRelayCount(int slot, int32_t relay, int32_t last_relay, uint32_t count);

// Those two as the counter operations of a card whose relays are 0..kLastRelay.
template <int32_t kLastRelay>
int32_t ReadCardRelayCountUpTo(int slot, int32_t relay, uint32_t* count) {
  return ReadCardRelayCount(slot, relay, kLastRelay, count);
}
template <int32_t kLastRelay>
int32_t WriteCardRelayCountUpTo(int slot, int32_t relay, uint32_t count) {
  return WriteCardRelayCount(slot, relay, kLastRelay, count);
}
