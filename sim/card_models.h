// The simulated plug-in cards, at the register level of their local bus.
//
// Every card answers its ID byte at 0x201 (a write of 0 rewinds its EPROM) and streams
// its EPROM image from a data port: 0x203 on relay cards, 0x301 on digital I/O cards
// (whose 0x203 is a direction register). Relay cards hold drive byte j at 1 + 2j; a
// read of that address returns the coils' state active low (a 0 bit is an energised
// coil). A stuck relay keeps its coil as it was when it stuck, whatever is driven.
// Cards with relay counters count every coil a write energises (relay r is drive bit
// r - 1) and keep the counts in an on-card FRAM reached through 0x301
// (0xDA opens a write sequence, 0 closes it), 0x383/0x381 (address low/high byte),
// 0x389 (write the next byte) and 0x38B (read the next byte). Cards that interrupt
// hold their pending status active low in 0x207.
//
// Models are plugged into the simulated chassis bus driver (sim/xbus_model.h); they are
// called from its threads and from control requests at once and guard their state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/card_registers.h"
#include "sim/xbus_model.h"

namespace sim {

// What an EPROM parameter block describes. Empty tables are stored as offset 0 (channel
// i numbered i, driving bit i).
struct EpromBlock {
  uint32_t magic = 0xABCDABCD;
  uint32_t own_code_data = 0;  // nonzero: the card brings code-specific data of its own
  std::string module_id;       // at most 80 characters
  uint16_t type_id = 0;
  uint16_t channel_count = 0;
  std::vector<uint16_t> channel_table;
  std::vector<uint16_t> bit_table;
  uint32_t settle_time_us = 0;
  std::vector<uint8_t> confidence_mask;
  uint16_t function_descriptors[8] = {};
};

inline constexpr size_t kEpromImageBytes = 1024;
// Where the one parameter block of a built image starts (past the four block offsets).
inline constexpr size_t kEpromBlockOffset = 0x20;

// A relay-card EPROM image (big-endian): magic, the offsets of parameter blocks 0..3
// (all pointing at the one block), then the block and its tables. 1024 bytes; empty
// when the tables do not fit. A module id longer than 80 characters is cut.
std::vector<uint8_t> BuildEpromImage(const EpromBlock& block);
// The digital cards' image: magic at offsets 0 and 20, the type id at 104. The two
// magics are taken from kEpromMagics by the type id, so the cards differ. 1024 bytes.
std::vector<uint8_t> BuildAlternateEpromImage(uint16_t type_id);

// What sets one card model apart.
struct CardTraits {
  std::string model;           // as the chassis description names it, e.g. "SM-RD96"
  uint16_t type_id = 0;
  uint8_t id_byte = 0;         // 0..3 selects the EPROM record; 4 and up: no usable card
  std::vector<uint8_t> eprom;  // streamed from the EPROM data port
  bool digital = false;        // digital I/O registers, EPROM on 0x301
  int drive_bytes = 0;         // relay cards
  int relay_counters = 0;      // FRAM relay counters (0: no FRAM)
  uint8_t interrupt_bits = 0;  // status bits the card can raise in 0x207 (0: none)
  int port_count = 0;          // digital cards: 12 (6 on the HVOC card); 0 means 12
};

// The on-card FRAM that holds the relay counters (FM24CL16-sized).
inline constexpr size_t kCardFramBytes = 2048;

class CardModel final : public LocalBusTarget {
 public:
  explicit CardModel(CardTraits traits);

  int ReadByte(uint32_t address, uint8_t* byte) override;
  int WriteByte(uint32_t address, uint8_t byte) override;

  const CardTraits& traits() const { return traits_; }

  // Relay coils, by drive bit (bit b of drive byte b / 8).
  std::vector<int> EnergisedCoils() const;
  bool CoilEnergised(int bit) const;
  // A stuck coil keeps its present state until released. False for a bit the card
  // does not have.
  bool StickRelay(int bit, bool stuck);

  // Makes the given status bits (within the card's interrupt bits) pending: they read
  // 0 in 0x207 until the firmware writes them back as 1 (or, on a digital card,
  // writes 0 to 0x1F). False when the card has no such bits.
  bool RaiseInterrupt(uint8_t bits);
  uint8_t PendingInterrupt() const;

  // The relay counter FRAM, for persistence under the chassis root. A relay the card
  // does not count reads 0; a card without counters has an empty image and ignores
  // a load. A shorter image loads into the start of the FRAM, the rest reads 0.
  uint32_t RelayCounter(int relay) const;
  std::vector<uint8_t> FramImage() const;
  void LoadFramImage(const std::vector<uint8_t>& image);

  // Digital cards: port p's data byte as the outside world sees it (an output port's
  // latch, an input port's driven value; 0 for a port the card does not have), and
  // what the outside world drives into an input port.
  uint8_t PortValue(int port) const;
  void DrivePortInput(int port, uint8_t value);
  // Digital cards: whether port p drives its bus (an output), the synchronous-port
  // count, and the control bits (armed, busy, clock), as last written.
  bool PortIsOutput(int port) const;
  int SyncCount() const;
  uint8_t ControlBits() const;

 private:
  // Register decoding by card kind; the caller holds mutex_. False: not decoded.
  bool ReadRelayRegister(uint32_t address, uint8_t* byte);
  bool WriteRelayRegister(uint32_t address, uint8_t byte);
  // Adds one to the counter of each coil of drive byte `drive_byte` energised by a write.
  void CountOperations(int drive_byte, uint8_t before, uint8_t after);
  bool ReadDigitalRegister(uint32_t address, uint8_t* byte);
  bool WriteDigitalRegister(uint32_t address, uint8_t byte);
  bool ReadFramRegister(uint32_t address, uint8_t* byte);
  bool WriteFramRegister(uint32_t address, uint8_t byte);
  uint8_t NextEpromByte();
  uint8_t CoilByte(size_t j) const;
  bool HasCoil(int bit) const;
  uint8_t PortData(int port) const;  // an output's latch, an input's driven value

  CardTraits traits_;
  mutable std::mutex mutex_;
  size_t eprom_position_ = 0;
  // Relay cards: drive bytes as written, and the coils held by a stuck relay.
  std::vector<uint8_t> driven_;
  std::vector<uint8_t> stuck_;        // 1 bit: the coil is stuck
  std::vector<uint8_t> stuck_state_;  // the state a stuck coil keeps
  uint8_t pending_ = 0;               // interrupt status bits not yet acknowledged
  // Relay counter FRAM and its access sequence.
  std::vector<uint8_t> fram_;
  uint16_t fram_address_ = 0;
  size_t fram_position_ = 0;
  bool fram_writing_ = false;
  // Digital cards: output latches, driven inputs, direction and control registers.
  std::vector<uint8_t> port_latch_;
  std::vector<uint8_t> port_input_;
  uint8_t direction_low_ = 0;   // written at 0x19: ports 0-7, 1 = output
  uint8_t direction_high_ = 0;  // written at 0x1B: ports 8-11, sync port count
  uint8_t control_ = 0;         // written at 0x1D
};

// The card of a named model, as the chassis description names it; null when the name
// is unknown. The names are those of CardModelNames().
std::shared_ptr<CardModel> MakeCardModel(const std::string& name);
std::vector<std::string> CardModelNames();

}  // namespace sim
