// The plug-in cards' side of the local bus, shared by the firmware that reads and
// drives the cards and by the simulated cards that answer it: the registers every card
// decodes, the relay-counter FRAM registers, and the layout of a card's EPROM image
// (multi-byte values big-endian).
#pragma once

#include <cstdint>

// Registers every card decodes.
inline constexpr uint32_t kCardIdRegister = 0x201;         // read: ID byte; write 0: rewind the EPROM
inline constexpr uint32_t kCardEpromPort = 0x203;          // primary EPROM data port
inline constexpr uint32_t kCardAltEpromPort = 0x301;       // alternate EPROM data port (digital cards)
inline constexpr uint32_t kCardInterruptRegister = 0x207;  // pending interrupt status, active low

// The interrupt status bits a card can raise: the digital I/O cards and the test card.
inline constexpr uint8_t kDigitalInterruptBits = 0x40;
inline constexpr uint8_t kTestCardInterruptBits = 0xC0;

// The digital I/O card (SM-DIO12): port p's data at 1 + 2p (read and write), the
// direction of ports 0-7 and of ports 8-11 (with the synchronous-port count in bits
// 4-7), the control bits, and the interrupt acknowledge. Directions read back
// inverted: a 0 bit is an output.
inline constexpr uint32_t kDioDirectionLowWrite = 0x19;
inline constexpr uint32_t kDioDirectionHighWrite = 0x1B;
inline constexpr uint32_t kDioControlWrite = 0x1D;
inline constexpr uint32_t kDioInterruptAcknowledge = 0x1F;  // write 0
inline constexpr uint32_t kDioDirectionLowRead = 0x203;
inline constexpr uint32_t kDioDirectionHighRead = 0x205;
inline constexpr uint32_t kDioControlRead = 0x207;
inline constexpr uint8_t kDioControlArmed = 0x01;  // synchronous run armed (interrupt enabled)
inline constexpr uint8_t kDioControlBusy = 0x02;   // busy polarity: 0 inverted
inline constexpr uint8_t kDioControlClock = 0x04;  // clock polarity: 1 inverted
inline constexpr int kDioMostPorts = 12;

// The relay-counter FRAM on a relay card.
inline constexpr uint32_t kCardFramSequence = 0x301;     // 0xDA opens a write sequence, 0 closes
inline constexpr uint32_t kCardFramAddressHigh = 0x381;  // FRAM address, high byte
inline constexpr uint32_t kCardFramAddressLow = 0x383;   // FRAM address, low byte
inline constexpr uint32_t kCardFramWriteData = 0x389;    // next data byte, write
inline constexpr uint32_t kCardFramReadData = 0x38B;     // next data byte, read
inline constexpr uint8_t kCardFramOpenWrite = 0xDA;

// EPROM image: any of these magics at offset 0 marks a valid image, and at the start of
// a parameter block a valid block. The offset of parameter block k (the ID byte) is the
// u32 at 4 + 4k.
inline constexpr uint32_t kEpromMagics[] = {0xABCDABCD, 0x12345678, 0xABCD1234, 0xABCDEF00};
inline constexpr uint32_t kEpromBlockTable = 4;
inline constexpr int kEpromBlockRecords = 4;

// A parameter block, by offset from its start.
inline constexpr uint32_t kEpromBlockOwnData = 4;         // nonzero: code-specific data of its own
inline constexpr uint32_t kEpromBlockModuleId = 8;        // module id text
inline constexpr uint32_t kEpromModuleIdBytes = 80;
inline constexpr uint32_t kEpromBlockTypeId = 88;         // u16
inline constexpr uint32_t kEpromBlockChannelCount = 90;   // u16
inline constexpr uint32_t kEpromBlockMaskLength = 92;     // u16
inline constexpr uint32_t kEpromBlockChannelTable = 94;   // u32 offset; 0: channel i is i
inline constexpr uint32_t kEpromBlockBitTable = 98;       // u32 offset; 0: channel i drives bit i
inline constexpr uint32_t kEpromBlockSettleTime = 102;    // u32 microseconds
inline constexpr uint32_t kEpromBlockMaskOffset = 122;    // u32 offset of the confidence mask
inline constexpr uint32_t kEpromBlockDescriptors = 126;   // eight u16 function descriptors
inline constexpr int kEpromDescriptorCount = 8;
inline constexpr uint32_t kEpromDescriptorStride = 6;

// The alternate layout of the digital cards: a second magic and the type id.
inline constexpr uint32_t kEpromAltSecondMagic = 20;
inline constexpr uint32_t kEpromAltTypeId = 104;

// The EPROM layout is a byte layout, read field by field in big-endian order, never
// through a record in memory: what holds it together is that its fields follow each
// other without overlap, the same on every target.
static_assert(kEpromBlockModuleId + kEpromModuleIdBytes == kEpromBlockTypeId);
static_assert(kEpromBlockTypeId + 2 == kEpromBlockChannelCount);
static_assert(kEpromBlockChannelCount + 2 == kEpromBlockMaskLength);
static_assert(kEpromBlockMaskLength + 2 == kEpromBlockChannelTable);
static_assert(kEpromBlockChannelTable + 4 == kEpromBlockBitTable);
static_assert(kEpromBlockBitTable + 4 == kEpromBlockSettleTime);
static_assert(kEpromBlockSettleTime + 4 <= kEpromBlockMaskOffset);
static_assert(kEpromBlockMaskOffset + 4 == kEpromBlockDescriptors);
static_assert(kEpromBlockTable + 4 * kEpromBlockRecords <= kEpromAltSecondMagic);
static_assert(kEpromAltSecondMagic + 4 <= kEpromAltTypeId);

// A relay counter in a card's FRAM: a u32 at 4n, least significant byte first.
inline constexpr int kCardFramCounterBytes = 4;
