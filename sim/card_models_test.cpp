// Tests of the simulated plug-in cards: the EPROM image layout, EPROM streaming
// through the chassis bus driver, active-low drive readback with a stuck relay, the
// relay counter FRAM sequence, the test card's interrupt register, the digital I/O
// card's registers and alternate EPROM, and the catalogue of models.
#include "sim/card_models.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "devices/xbus_requests.h"

namespace sim {
namespace {

uint16_t U16(const std::vector<uint8_t>& image, size_t at) {
  return static_cast<uint16_t>(image.at(at) << 8 | image.at(at + 1));
}

uint32_t U32(const std::vector<uint8_t>& image, size_t at) {
  return static_cast<uint32_t>(U16(image, at)) << 16 | U16(image, at + 2);
}

uint8_t Read(CardModel& card, uint32_t address) {
  uint8_t byte = 0;
  EXPECT_EQ(card.ReadByte(address, &byte), 0);
  return byte;
}

void Write(CardModel& card, uint32_t address, uint8_t byte) {
  EXPECT_EQ(card.WriteByte(address, byte), 0);
}

std::shared_ptr<CardModel> Make(const std::string& name) {
  auto card = MakeCardModel(name);
  EXPECT_NE(card, nullptr) << name;
  return card;
}

TEST(EpromImage, BlockFieldsAndTablesStandAtTheirOffsetsBigEndian) {
  EpromBlock block;
  block.magic = 0x12345678;
  block.own_code_data = 1;
  block.module_id = "SM-TEST 3-CHANNEL CARD";
  block.type_id = 0x7B42;
  block.channel_count = 3;
  block.channel_table = {10, 20, 0x0102};
  block.bit_table = {5, 3, 0x0A0B};
  block.settle_time_us = 0x00012345;
  block.confidence_mask = {0x0F, 0xF0};
  block.function_descriptors[0] = 0x1122;
  block.function_descriptors[7] = 0x3344;

  const std::vector<uint8_t> image = BuildEpromImage(block);
  ASSERT_EQ(image.size(), kEpromImageBytes);
  const size_t p = kEpromBlockOffset;
  EXPECT_EQ(U32(image, 0), 0x12345678u);
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(U32(image, 4 + 4 * k), p) << k;
  EXPECT_EQ(U32(image, p), 0x12345678u);
  EXPECT_EQ(U32(image, p + 4), 1u);
  EXPECT_EQ(std::string(image.begin() + p + 8, image.begin() + p + 8 + 22),
            "SM-TEST 3-CHANNEL CARD");
  EXPECT_EQ(image[p + 8 + 22], 0);
  EXPECT_EQ(U16(image, p + 88), 0x7B42);
  EXPECT_EQ(U16(image, p + 90), 3);
  EXPECT_EQ(U16(image, p + 92), 2);
  EXPECT_EQ(U32(image, p + 102), 0x00012345u);
  EXPECT_EQ(U16(image, p + 126), 0x1122);
  EXPECT_EQ(U16(image, p + 126 + 6 * 7), 0x3344);
  for (size_t j = 1; j < 7; ++j) EXPECT_EQ(U16(image, p + 126 + 6 * j), 0) << j;

  // The tables, wherever they were put, hold the values and do not overlap the block.
  const uint32_t channels = U32(image, p + 94);
  const uint32_t bits = U32(image, p + 98);
  const uint32_t mask = U32(image, p + 122);
  for (uint32_t offset : {channels, bits, mask}) EXPECT_GE(offset, p + 170);
  EXPECT_EQ(U16(image, channels), 10);
  EXPECT_EQ(U16(image, channels + 2), 20);
  EXPECT_EQ(U16(image, channels + 4), 0x0102);
  EXPECT_EQ(U16(image, bits), 5);
  EXPECT_EQ(U16(image, bits + 4), 0x0A0B);
  EXPECT_EQ(image.at(mask), 0x0F);
  EXPECT_EQ(image.at(mask + 1), 0xF0);
  std::set<uint32_t> distinct{channels, bits, mask};
  EXPECT_EQ(distinct.size(), 3u);
}

TEST(EpromImage, EmptyTablesAreOffsetZeroAndOversizedTablesFail) {
  EpromBlock block;
  block.type_id = 0x7A01;
  block.channel_count = 96;
  block.module_id = std::string(100, 'X');
  const std::vector<uint8_t> image = BuildEpromImage(block);
  ASSERT_EQ(image.size(), kEpromImageBytes);
  const size_t p = kEpromBlockOffset;
  EXPECT_EQ(U32(image, p + 94), 0u);
  EXPECT_EQ(U32(image, p + 98), 0u);
  EXPECT_EQ(U32(image, p + 122), 0u);
  EXPECT_EQ(U16(image, p + 92), 0);
  // The module id is cut at 80 characters: the type id behind it is intact.
  EXPECT_EQ(image[p + 8 + 79], 'X');
  EXPECT_EQ(U16(image, p + 88), 0x7A01);

  block.channel_table.assign(300, 1);
  block.bit_table.assign(300, 2);
  EXPECT_TRUE(BuildEpromImage(block).empty());
}

TEST(EpromImage, AlternateImageHasTwoValidMagicsAndTheTypeId) {
  const std::vector<uint8_t> image = BuildAlternateEpromImage(0x7A22);
  ASSERT_EQ(image.size(), kEpromImageBytes);
  auto valid = [](uint32_t magic) {
    return std::find(std::begin(kEpromMagics), std::end(kEpromMagics), magic) !=
           std::end(kEpromMagics);
  };
  EXPECT_TRUE(valid(U32(image, 0)));
  EXPECT_TRUE(valid(U32(image, 20)));
  EXPECT_EQ(U16(image, 104), 0x7A22);
}

// The card plugged into a bus driver, reached with the firmware's byte requests.
class BusCardTest : public ::testing::Test {
 protected:
  int Request(bool read, int slot, uint32_t address, uint32_t* data) {
    XbusByteRequest block{};
    block.words[0] = read ? kXbusCommandRead : kXbusCommandWrite;
    block.words[1] = XbusBusAddress(slot, address);
    block.words[2] = *data;
    const int result =
        bus_.Ioctl(0, read ? kXbusReadByte : kXbusWriteByte, &block, sizeof block);
    *data = block.words[2];
    return result;
  }
  uint32_t BusRead(int slot, uint32_t address) {
    uint32_t data = 0;
    EXPECT_EQ(Request(true, slot, address, &data), 0);
    return data;
  }
  void BusWrite(int slot, uint32_t address, uint32_t data) {
    EXPECT_EQ(Request(false, slot, address, &data), 0);
  }
  XbusModel bus_;
};

TEST_F(BusCardTest, EpromStreamsFromTheDataPortAndRewindsOnIdByteWrite) {
  auto card = Make("SM-RD48");
  bus_.Plug(4, card);
  EXPECT_EQ(BusRead(4, 0x201), 0u);
  BusWrite(4, 0x201, 0);
  std::vector<uint8_t> first;
  for (int i = 0; i < 512; ++i) first.push_back(static_cast<uint8_t>(BusRead(4, 0x203)));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), card->traits().eprom.begin()));
  EXPECT_EQ(U16(first, U32(first, 4) + 88), 0x7A02);
  // A read of the ID byte does not move the pointer; a write of 0 starts it over.
  BusRead(4, 0x201);
  EXPECT_EQ(BusRead(4, 0x203), card->traits().eprom[512]);
  BusWrite(4, 0x201, 0);
  EXPECT_EQ(BusRead(4, 0x203), card->traits().eprom[0]);
  // Past the end the port reads 0xFF.
  for (size_t i = 1; i < kEpromImageBytes; ++i) BusRead(4, 0x203);
  EXPECT_EQ(BusRead(4, 0x203), 0xFFu);
  EXPECT_EQ(BusRead(4, 0x203), 0xFFu);
  // A relay card has no alternate port.
  EXPECT_EQ(BusRead(4, 0x301), 0xFFu);
}

TEST_F(BusCardTest, DriveReadbackIsActiveLowAndAStuckCoilKeepsItsState) {
  auto card = Make("SM-RD96");
  bus_.Plug(1, card);
  for (uint32_t j = 0; j < 12; ++j) EXPECT_EQ(BusRead(1, 1 + 2 * j), 0xFFu) << j;
  BusWrite(1, 1, 0x81);    // drive byte 0: bits 0 and 7
  BusWrite(1, 23, 0x10);   // drive byte 11: bit 92
  EXPECT_EQ(BusRead(1, 1), 0x7Eu);
  EXPECT_EQ(BusRead(1, 23), 0xEFu);
  EXPECT_EQ(card->EnergisedCoils(), (std::vector<int>{0, 7, 92}));
  EXPECT_TRUE(card->CoilEnergised(92));
  EXPECT_FALSE(card->CoilEnergised(91));

  ASSERT_TRUE(card->StickRelay(7, true));    // stuck closed
  ASSERT_TRUE(card->StickRelay(1, true));    // stuck open
  BusWrite(1, 1, 0x02);
  EXPECT_EQ(BusRead(1, 1), static_cast<uint8_t>(~0x80));
  EXPECT_TRUE(card->CoilEnergised(7));
  EXPECT_FALSE(card->CoilEnergised(1));
  // Released, the coils follow the drive again.
  ASSERT_TRUE(card->StickRelay(7, false));
  ASSERT_TRUE(card->StickRelay(1, false));
  EXPECT_EQ(BusRead(1, 1), 0xFDu);
  EXPECT_FALSE(card->StickRelay(96, true));
  EXPECT_FALSE(card->StickRelay(-1, true));

  // Past the drive bytes nothing is decoded.
  BusWrite(1, 25, 0x00);
  EXPECT_EQ(BusRead(1, 25), 0xFFu);
  EXPECT_EQ(BusRead(1, 2), 0xFFu);
  EXPECT_EQ(BusRead(1, 0x207), 0xFFu);
}

// A relay card without drive bytes (the traits' default) decodes no drive register, so
// its odd addresses, the EPROM port among them, keep their own meaning.
TEST(RelayCard, WithoutDriveBytesStreamsItsEpromAndDecodesNoDriveRegister) {
  CardTraits traits;
  traits.model = "NO-DRIVE";
  traits.eprom = {0xAB, 0xCD};
  CardModel card(traits);
  EXPECT_EQ(Read(card, 0x203), 0xABu);
  EXPECT_EQ(Read(card, 0x203), 0xCDu);
  Write(card, 1, 0x81);
  EXPECT_EQ(Read(card, 1), 0xFFu);
  EXPECT_EQ(Read(card, 0x1FF), 0xFFu);
  EXPECT_TRUE(card.EnergisedCoils().empty());
}

TEST(RelayCounterFram, WriteSequenceStoresLeastSignificantByteFirstAndReadsBack) {
  auto card = Make("SM-MX12H");
  auto write_counter = [&](int relay, uint32_t value) {
    const uint16_t address = static_cast<uint16_t>(4 * relay);
    Write(*card, 0x301, 0xDA);
    Write(*card, 0x383, static_cast<uint8_t>(address));
    Write(*card, 0x381, static_cast<uint8_t>(address >> 8));
    for (int i = 0; i < 4; ++i) Write(*card, 0x389, static_cast<uint8_t>(value >> (8 * i)));
    Write(*card, 0x301, 0);
  };
  write_counter(128, 0x01020304);  // address 0x200: the high byte matters
  write_counter(3, 0xCAFEF00D);
  EXPECT_EQ(card->RelayCounter(128), 0x01020304u);
  EXPECT_EQ(card->RelayCounter(3), 0xCAFEF00Du);
  const std::vector<uint8_t> fram = card->FramImage();
  ASSERT_GE(fram.size(), 0x204u);
  EXPECT_EQ(std::vector<uint8_t>(fram.begin() + 0x200, fram.begin() + 0x204),
            (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}));

  Write(*card, 0x383, 0x00);
  Write(*card, 0x381, 0x02);
  std::vector<uint8_t> read;
  for (int i = 0; i < 4; ++i) read.push_back(Read(*card, 0x38B));
  EXPECT_EQ(read, (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}));

  // Outside a write sequence data writes are ignored.
  Write(*card, 0x383, 0x0C);
  Write(*card, 0x381, 0x00);
  Write(*card, 0x389, 0x55);
  EXPECT_EQ(card->RelayCounter(3), 0xCAFEF00Du);
  EXPECT_EQ(card->RelayCounter(129), 0u);

  // The image persists into a fresh card.
  auto other = Make("SM-MX12H");
  other->LoadFramImage(fram);
  EXPECT_EQ(other->RelayCounter(128), 0x01020304u);
  // A card without counters has no FRAM registers.
  auto plain = Make("SM-RD96");
  EXPECT_TRUE(plain->FramImage().empty());
  Write(*plain, 0x301, 0xDA);
  EXPECT_EQ(Read(*plain, 0x38B), 0xFF);
}

TEST(TestCardInterrupt, PendingBitsReadLowUntilWrittenBackAsOne) {
  auto card = Make("SM-CT1");
  EXPECT_EQ(Read(*card, 0x207), 0xFF);
  EXPECT_FALSE(card->RaiseInterrupt(0x01));  // not one of the card's bits
  EXPECT_FALSE(card->RaiseInterrupt(0));
  ASSERT_TRUE(card->RaiseInterrupt(0x40));
  const uint8_t seen = Read(*card, 0x207);
  EXPECT_EQ(seen, 0xBF);
  const uint8_t status = static_cast<uint8_t>(~seen & 0xC0);
  EXPECT_EQ(status, 0x40);
  // Each written 1 bit clears only its own pending bit.
  ASSERT_TRUE(card->RaiseInterrupt(0x80));
  Write(*card, 0x207, static_cast<uint8_t>(0x40));
  EXPECT_EQ(card->PendingInterrupt(), 0x80);
  EXPECT_EQ(Read(*card, 0x207), 0x7F);
  Write(*card, 0x207, static_cast<uint8_t>(Read(*card, 0x207) | 0x80));
  EXPECT_EQ(card->PendingInterrupt(), 0);
  EXPECT_EQ(Read(*card, 0x207), 0xFF);
  // Cards without interrupt bits cannot raise any.
  EXPECT_FALSE(Make("SM-RD96")->RaiseInterrupt(0x40));
}

TEST(DigitalCard, DirectionsReadInvertedAndPortsFollowThem) {
  auto card = Make("SM-DIO12-TTL");
  // Power-on: every port an input.
  EXPECT_EQ(Read(*card, 0x203), 0xFF);
  EXPECT_EQ(Read(*card, 0x205), 0x0F);
  card->DrivePortInput(2, 0x5A);
  Write(*card, 5, 0x33);  // latched, not driven while port 2 is an input
  EXPECT_EQ(Read(*card, 5), 0x5A);
  EXPECT_EQ(card->PortValue(2), 0x5A);

  Write(*card, 0x19, 0x04);  // port 2 an output
  Write(*card, 0x1B, 0x32);  // port 9 an output, three synchronous ports
  EXPECT_EQ(Read(*card, 0x203), 0xFB);
  EXPECT_EQ(Read(*card, 0x205), 0x3D);
  EXPECT_EQ(Read(*card, 5), 0x33);
  EXPECT_EQ(card->PortValue(2), 0x33);
  Write(*card, 19, 0xA5);  // port 9
  EXPECT_EQ(card->PortValue(9), 0xA5);
  card->DrivePortInput(11, 0x11);
  EXPECT_EQ(Read(*card, 23), 0x11);
  // Twelve ports only; the drive registers of a relay card are not here.
  EXPECT_EQ(Read(*card, 25), 0xFF);
  EXPECT_EQ(card->PortValue(12), 0);
  EXPECT_TRUE(card->EnergisedCoils().empty());
}

TEST(DigitalCard, ControlRegisterShowsArmedBitsAndPendingInterruptLow) {
  auto card = Make("SM-DIO12-CMOS");
  Write(*card, 0x1D, 0xFF);
  EXPECT_EQ(Read(*card, 0x207), 0xFF);
  Write(*card, 0x1D, 0x03);
  EXPECT_EQ(Read(*card, 0x207), 0xFB);
  EXPECT_FALSE(card->RaiseInterrupt(0x80));
  ASSERT_TRUE(card->RaiseInterrupt(0x40));
  EXPECT_EQ(Read(*card, 0x207), 0xBB);
  Write(*card, 0x1F, 0x01);  // only a 0 acknowledges
  EXPECT_EQ(card->PendingInterrupt(), 0x40);
  Write(*card, 0x1F, 0x00);
  EXPECT_EQ(card->PendingInterrupt(), 0);
  EXPECT_EQ(Read(*card, 0x207), 0xFB);
}

TEST_F(BusCardTest, DigitalCardStreamsItsAlternateEpromOnly) {
  auto card = Make("SM-DIO12-HVOC");
  bus_.Plug(12, card);
  EXPECT_EQ(BusRead(12, 0x201), 0u);
  BusWrite(12, 0x201, 0);
  // The primary port is the direction register: no magic there.
  uint32_t primary = 0;
  for (int i = 0; i < 4; ++i) primary = primary << 8 | BusRead(12, 0x203);
  EXPECT_EQ(primary, 0xFFFFFFFFu);
  BusWrite(12, 0x201, 0);
  std::vector<uint8_t> image;
  for (int i = 0; i < 512; ++i) image.push_back(static_cast<uint8_t>(BusRead(12, 0x301)));
  EXPECT_EQ(U16(image, 104), 0x7A23);
  EXPECT_NE(std::find(std::begin(kEpromMagics), std::end(kEpromMagics), U32(image, 0)),
            std::end(kEpromMagics));
  // Six ports on this variant.
  BusWrite(12, 0x19, 0xFF);
  BusWrite(12, 11, 0x42);
  BusWrite(12, 13, 0x42);
  EXPECT_EQ(BusRead(12, 11), 0x42u);
  EXPECT_EQ(BusRead(12, 13), 0xFFu);
}

TEST(Catalogue, EveryModelConstructsWithAValidImageAndADistinctTypeId) {
  const std::vector<std::string> names = CardModelNames();
  EXPECT_EQ(names.size(), 28u);
  std::set<uint16_t> ids;
  std::set<uint32_t> magics;
  for (const std::string& name : names) {
    auto card = Make(name);
    ASSERT_NE(card, nullptr);
    const CardTraits& traits = card->traits();
    EXPECT_EQ(traits.model, name);
    EXPECT_EQ(traits.id_byte, 0);
    EXPECT_TRUE(ids.insert(traits.type_id).second) << name;
    ASSERT_EQ(traits.eprom.size(), kEpromImageBytes) << name;
    magics.insert(U32(traits.eprom, 0));
    if (traits.digital) {
      EXPECT_EQ(U16(traits.eprom, 104), traits.type_id) << name;
      EXPECT_EQ(traits.interrupt_bits, 0x40) << name;
      continue;
    }
    const uint32_t p = U32(traits.eprom, 4);
    EXPECT_NE(p, 0u) << name;
    EXPECT_EQ(U32(traits.eprom, p), U32(traits.eprom, 0)) << name;
    EXPECT_EQ(U16(traits.eprom, p + 88), traits.type_id) << name;
    EXPECT_GT(traits.drive_bytes, 0) << name;
    // The module id begins with the model word.
    const std::string id(traits.eprom.begin() + p + 8, traits.eprom.begin() + p + 88);
    EXPECT_EQ(id.rfind("SM-", 0), 0u) << name;
  }
  EXPECT_EQ(magics.size(), 4u);
  EXPECT_EQ(MakeCardModel("SM-NOPE"), nullptr);
  EXPECT_EQ(MakeCardModel(""), nullptr);
}

TEST(Catalogue, DownloadedCardsDescribeThemselves) {
  auto generic = Make("GENERIC");
  ASSERT_NE(generic, nullptr);
  const std::vector<uint8_t>& image = generic->traits().eprom;
  const uint32_t p = U32(image, 4);
  EXPECT_EQ(U32(image, p + 4), 0u);
  EXPECT_EQ(U16(image, p + 90), 24);
  EXPECT_EQ(U16(image, p + 92), generic->traits().drive_bytes);
  const uint32_t channels = U32(image, p + 94);
  const uint32_t bits = U32(image, p + 98);
  ASSERT_NE(channels, 0u);
  ASSERT_NE(bits, 0u);
  // Ascending channel numbers; bits that are not the identity and use every drive byte.
  std::set<int> drive_bytes;
  bool identity = true;
  for (uint32_t i = 0; i < 24; ++i) {
    EXPECT_TRUE(i == 0 || U16(image, channels + 2 * i) > U16(image, channels + 2 * i - 2));
    const uint16_t bit = U16(image, bits + 2 * i);
    identity = identity && bit == i;
    drive_bytes.insert(bit / 8);
  }
  EXPECT_FALSE(identity);
  EXPECT_EQ(drive_bytes, (std::set<int>{0, 1, 2, 3}));

  auto descriptors_named = [](const std::vector<uint8_t>& eprom) {
    const uint32_t block = U32(eprom, 4);
    bool named = false;
    for (int j = 0; j < 8; ++j) named = named || U16(eprom, block + 126 + 6 * j) != 0;
    return named;
  };
  EXPECT_FALSE(descriptors_named(image));
  auto own = Make("GENERIC-OWN");
  ASSERT_NE(own, nullptr);
  EXPECT_NE(U32(own->traits().eprom, U32(own->traits().eprom, 4) + 4), 0u);
  EXPECT_FALSE(descriptors_named(own->traits().eprom));
  auto unsupported = Make("GENERIC-FD");
  ASSERT_NE(unsupported, nullptr);
  EXPECT_TRUE(descriptors_named(unsupported->traits().eprom));
}

}  // namespace
}  // namespace sim
