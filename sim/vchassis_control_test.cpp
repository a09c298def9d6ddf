// Tests of the control requests against in-process models: the firmware's side is
// played with local-bus requests on the bus driver model and register reads of the
// FPGA model; the other side through the control device, as `vchassis` reaches it.
#include "sim/vchassis_control.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "devices/fpga_registers.h"
#include "devices/xbus_requests.h"
#include "platform/device.h"
#include "platform/test_support.h"
#include "sim/card_models.h"
#include "sim/fpga_model.h"
#include "sim/lan_state.h"

namespace sim {
namespace {

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    ChassisDescription description;
    description.models[1] = "SM-RD96";
    description.models[4] = "SM-DIO12-TTL";
    description.models[7] = "SM-CT1";
    std::string error;
    ASSERT_EQ(BuildHardware(description, "", &hardware_, &error), 0) << error;
  }

  // The request's answer, or its refusal prefixed with "refused: ".
  std::string Ask(const std::string& request) {
    ChassisControl control(hardware_);
    std::string answer;
    const int result = control.Execute(request, &answer);
    EXPECT_FALSE(answer.empty()) << request;
    EXPECT_EQ(answer.back(), '\n') << request;
    if (!answer.empty()) answer.pop_back();
    return result == 0 ? answer : "refused: " + answer;
  }

  // The firmware's side of the local bus. The request's result.
  int BusWrite(int slot, uint32_t address, uint8_t byte) {
    XbusByteRequest block{{kXbusCommandWrite, XbusBusAddress(slot, address), byte}};
    return hardware_.xbus->Ioctl(0, kXbusWriteByte, &block, sizeof block);
  }
  int BusRead(int slot, uint32_t address, uint8_t* byte) {
    XbusByteRequest block{{kXbusCommandRead, XbusBusAddress(slot, address), 0}};
    const int result = hardware_.xbus->Ioctl(0, kXbusReadByte, &block, sizeof block);
    *byte = static_cast<uint8_t>(block.words[2]);
    return result;
  }
  uint8_t BusRead(int slot, uint32_t address) {
    uint8_t byte = 0;
    EXPECT_EQ(BusRead(slot, address, &byte), 0);
    return byte;
  }
  // The next bus driver event the firmware would get, or 0 when none is queued.
  uint32_t NextEvent() {
    XbusEventRequest request{};
    if (hardware_.xbus->Ioctl(0, kXbusWaitEvent, &request, sizeof request) != 0) return 0;
    return request.event[kXbusEventCodeWord];
  }

  SimulatedHardware hardware_;
};

TEST_F(Control, CardsListsTheCageWithTypeIds) {
  EXPECT_EQ(Ask("cards"), "1 SM-RD96 0x7A01\n4 SM-DIO12-TTL 0x7A20\n7 SM-CT1 0x7A12");
  SimulatedHardware empty;
  std::string error;
  ASSERT_EQ(BuildHardware(ChassisDescription{}, "", &empty, &error), 0) << error;
  std::string answer;
  EXPECT_EQ(ChassisControl(empty).Execute("cards", &answer), 0);
  EXPECT_EQ(answer, "no cards\n");
}

TEST_F(Control, CoilsFollowTheDriveAndAStuckCoilKeepsItsState) {
  EXPECT_EQ(Ask("coils 1"), "none");
  ASSERT_EQ(BusWrite(1, 1, 0x05), 0);   // drive byte 0: coils 0 and 2
  ASSERT_EQ(BusWrite(1, 23, 0x80), 0);  // drive byte 11: coil 95
  EXPECT_EQ(Ask("coils 1"), "0 2 95");
  EXPECT_EQ(BusRead(1, 1), 0xFA);  // the readback is active low

  EXPECT_EQ(Ask("stick 1 0"), "slot 1 (SM-RD96) coil 0 stuck energised");
  EXPECT_EQ(Ask("stick 1 1"), "slot 1 (SM-RD96) coil 1 stuck released");
  ASSERT_EQ(BusWrite(1, 1, 0x02), 0);
  EXPECT_EQ(Ask("coils 1"), "0 95");
  EXPECT_EQ(BusRead(1, 1), 0xFE);

  EXPECT_EQ(Ask("unstick 1 0"), "slot 1 (SM-RD96) coil 0 follows its drive again");
  EXPECT_EQ(Ask("unstick 1 1"), "slot 1 (SM-RD96) coil 1 follows its drive again");
  EXPECT_EQ(Ask("coils 1"), "1 95");
  EXPECT_EQ(BusRead(1, 1), 0xFD);
}

TEST_F(Control, SlotsCoilsAndNumbersAreChecked) {
  for (const char* request : {"coils 0", "coils 13", "coils x", "coils -1", "lbus-fail 0x"}) {
    EXPECT_NE(Ask(request).find("is not a slot from 1 to 12"), std::string::npos) << request;
  }
  const std::pair<const char*, const char*> refusals[] = {
      {"coils 2", "slot 2 is empty"},
      {"stick 12 0", "slot 12 is empty"},
      {"coils 4", "slot 4 (SM-DIO12-TTL) has no relay coils"},
      {"stick 1 96", "slot 1 (SM-RD96) has no relay coil 96; its coils are 0 to 95"},
      {"stick 1 -1", "slot 1 (SM-RD96) has no relay coil -1; its coils are 0 to 95"},
      {"unstick 1 99999999999",
       "slot 1 (SM-RD96) has no relay coil 99999999999; its coils are 0 to 95"},
      {"fpga read 0x4015",
       "\"0x4015\" is not an FPGA register: offsets are multiples of 4 below 0x10000"},
  };
  for (const auto& [request, reason] : refusals) {
    EXPECT_EQ(Ask(request), std::string("refused: ") + reason) << request;
  }
  EXPECT_NE(Ask("fpga read 0x10000").find("is not an FPGA register"), std::string::npos);
  EXPECT_NE(Ask("fpga read 0xZZ").find("is not an FPGA register"), std::string::npos);
  EXPECT_EQ(Ask("fpga write 0 1"), "refused: not a control request: \"fpga write 0 1\"");
  EXPECT_EQ(Ask("coils"), "refused: not a control request: \"coils\"");
  EXPECT_EQ(Ask(""), "refused: not a control request: \"\"");
}

TEST_F(Control, AFailingLocalBusRefusesEveryRequestUntilRestored) {
  EXPECT_EQ(Ask("lbus-fail 1"), "slot 1 local bus failing");
  uint8_t byte = 0;
  EXPECT_EQ(BusRead(1, 0x201, &byte), -EIO);
  EXPECT_EQ(BusWrite(1, 1, 0x01), -EIO);
  EXPECT_EQ(BusRead(7, 0x201, &byte), 0) << "other slots still work";
  EXPECT_EQ(Ask("coils 1"), "none");
  // An empty slot's bus can fail too: it no longer answers 0xFF.
  EXPECT_EQ(Ask("lbus-fail 11"), "slot 11 local bus failing");
  EXPECT_EQ(BusRead(11, 0, &byte), -EIO);
  EXPECT_EQ(Ask("lbus-restore 1"), "slot 1 local bus working");
  EXPECT_EQ(BusWrite(1, 1, 0x01), 0);
  EXPECT_EQ(Ask("coils 1"), "0");
}

TEST_F(Control, ACardInterruptSetsTheCardsStatusAndTheSlotsFpgaSource) {
  EXPECT_EQ(Ask("interrupt 7"), "slot 7 (SM-CT1) interrupt 0xC0 raised");
  EXPECT_EQ(BusRead(7, 0x207) & 0xC0, 0) << "pending status reads active low";
  EXPECT_EQ(hardware_.fpga->Pending(), 1u << 6);  // slot 7 owns bit 6
  EXPECT_EQ(NextEvent(), kXbusEventCardInterrupt);
  EXPECT_EQ(NextEvent(), 0u);

  // Slots 1..5 count down from bit 4: slot 4 owns bit 1.
  EXPECT_EQ(Ask("interrupt 4 0x40"), "slot 4 (SM-DIO12-TTL) interrupt 0x40 raised");
  EXPECT_EQ(hardware_.fpga->Pending(), 1u << 6 | 1u << 1);
  EXPECT_EQ(hardware_.cards[4]->PendingInterrupt(), 0x40);
  EXPECT_EQ(Ask("fpga read 0x4014"), "0x00000042");
  EXPECT_EQ(Ask("fpga read 16404"), "0x00000042");

  EXPECT_EQ(Ask("interrupt 1"), "refused: slot 1 (SM-RD96) raises no interrupts");
  EXPECT_EQ(Ask("interrupt 7 0x01"),
            "refused: slot 7 (SM-CT1) raises only the interrupt bits 0xC0, not 0x01");
  EXPECT_EQ(Ask("interrupt 7 0"),
            "refused: slot 7 (SM-CT1) raises only the interrupt bits 0xC0, not 0");
  EXPECT_EQ(Ask("interrupt 3"), "refused: slot 3 is empty");
}

TEST_F(Control, TriggerAndPowerFailReachTheFirmwaresEventWait) {
  EXPECT_EQ(Ask("trigger"), "external trigger fired");
  EXPECT_EQ(hardware_.fpga->Pending(), kFpgaChassisInterrupt);
  EXPECT_EQ(NextEvent(), kXbusEventTrigger);
  EXPECT_EQ(Ask("power-fail"), "power failure queued");
  EXPECT_EQ(NextEvent(), kXbusEventPowerFail);
  EXPECT_EQ(NextEvent(), 0u);
  // A masked source stays pending without an event until it is unmasked.
  ASSERT_EQ(hardware_.fpga->RegisterWrite(0, kFpgaInterruptAck, 4, kFpgaChassisInterrupt), 0);
  ASSERT_EQ(hardware_.fpga->RegisterWrite(0, kFpgaInterruptMask, 4, kFpgaChassisInterrupt), 0);
  EXPECT_EQ(Ask("trigger"), "external trigger fired");
  EXPECT_EQ(Ask("fpga read 0x4014"), "0x01000000");
  EXPECT_EQ(NextEvent(), 0u);
  ASSERT_EQ(hardware_.fpga->RegisterWrite(0, kFpgaInterruptMask, 4, 0), 0);
  EXPECT_EQ(NextEvent(), kXbusEventTrigger);

  for (size_t i = 0; i < XbusModel::kEventQueueDepth; ++i) hardware_.xbus->PostEvent(0x99);
  EXPECT_EQ(Ask("power-fail"),
            "refused: the bus driver's event queue is full; the power failure was not queued");
}

TEST(ControlWords, OnlyKnownSubcommandsWithFittingArgumentsAreRequests) {
  using W = std::vector<std::string>;
  for (const W& words : {W{"cards"}, W{"coils", "1"}, W{"stick", "1", "2"}, W{"interrupt", "7"},
                         W{"interrupt", "7", "0x40"}, W{"fpga", "read", "0"}, W{"power-fail"}}) {
    EXPECT_TRUE(IsControlRequest(words)) << words[0];
  }
  for (const W& words : {W{"lan"}, W{"lan-cable", "plug"}, W{"dhcp", "none"},
                         W{"lan-duplicate", "1.2.3.4"}}) {
    EXPECT_TRUE(IsControlRequest(words)) << words[0];
  }
  for (const W& words :
       {W{}, W{"cards", "1"}, W{"coils"}, W{"stick", "1"}, W{"interrupt", "7", "1", "2"},
        W{"fpga", "read"}, W{"fpga", "0x4014"}, W{"run"}, W{"gpib", "poll"}}) {
    EXPECT_FALSE(IsControlRequest(words)) << (words.empty() ? "" : words[0]);
  }
  const std::string usage = ControlUsage();
  EXPECT_NE(usage.find("vchassis fpga read OFFSET"), std::string::npos) << usage;
  EXPECT_NE(usage.find("vchassis interrupt SLOT [BITS]"), std::string::npos) << usage;
}

// The network around the simulated interface, as `vchassis lan-cable`, `dhcp` and
// `lan-duplicate` change it, against a chassis with a root.
class LanControl : public Control {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_EQ(BuildHardware(ChassisDescription{}, root_.path() + "/sim", &hardware_, &error), 0)
        << error;
  }
  std::string Value(const std::string& key) {
    std::ifstream file(LanStateFolder(hardware_.fram_folder) + "/" + key);
    std::stringstream text;
    text << file.rdbuf();
    return file ? text.str() : "<missing>";
  }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
};

TEST_F(LanControl, CableDhcpServerAndDuplicatesAreSetAndShown) {
  EXPECT_EQ(Ask("lan-cable unplug"), "LAN cable unplugged");
  EXPECT_EQ(Value("cable"), "unplugged");
  EXPECT_EQ(Ask("lan-cable plug"), "LAN cable plugged in");
  EXPECT_EQ(Value("cable"), "plugged");
  EXPECT_EQ(Ask("dhcp none"), "the DHCP server grants no lease");
  EXPECT_EQ(Value("lease"), "none");
  EXPECT_EQ(Ask("dhcp lease"), "the DHCP server grants a lease");
  EXPECT_EQ(Value("lease"), "lease");

  EXPECT_EQ(Ask("lan-duplicate 192.168.7.60"), "another host answers for 192.168.7.60");
  EXPECT_EQ(Ask("lan-duplicate 10.0.0.255"), "another host answers for 10.0.0.255");
  EXPECT_EQ(Ask("lan-duplicate 192.168.7.60"), "another host already answers for 192.168.7.60");
  EXPECT_EQ(Value("duplicates"), "192.168.7.60\n10.0.0.255\n");
  EXPECT_EQ(ReadLanState(LanStateFolder(hardware_.fram_folder)).duplicates,
            (std::vector<std::string>{"192.168.7.60", "10.0.0.255"}));

  // The network around the interface is not part of what `lan` shows.
  EXPECT_EQ(Ask("lan"),
            "link: down\naddress: none\nnetmask: none\ngateway: none\nmac: none\n"
            "dhcp: stopped\nindicator: off\nping: none\nkeepalive: none\nmdns: stopped\n"
            "hostname: none\nservice: none\nweb: stopped");
}

TEST_F(LanControl, WrongWordsAndAddressesAreRefusedAndChangeNothing) {
  const std::pair<const char*, const char*> refusals[] = {
      {"lan-cable out", "\"out\" is not plug or unplug"},
      {"lan-cable PLUG", "\"PLUG\" is not plug or unplug"},
      {"dhcp maybe", "\"maybe\" is not lease or none"},
      {"lan-duplicate 192.168.7.256", "\"192.168.7.256\" is not a dotted IPv4 address"},
      {"lan-duplicate 192.168.7", "\"192.168.7\" is not a dotted IPv4 address"},
      {"lan-duplicate 192.168.07.1", "\"192.168.07.1\" is not a dotted IPv4 address"},
      {"lan-duplicate 1.2.3.4.5", "\"1.2.3.4.5\" is not a dotted IPv4 address"},
      {"lan-duplicate +1.2.3.4", "\"+1.2.3.4\" is not a dotted IPv4 address"},
      {"lan-duplicate host", "\"host\" is not a dotted IPv4 address"},
      {"lan extra", "not a control request: \"lan extra\""},
      {"lan-cable", "not a control request: \"lan-cable\""},
  };
  for (const auto& [request, reason] : refusals) {
    EXPECT_EQ(Ask(request), std::string("refused: ") + reason) << request;
  }
  for (const char* key : {"cable", "lease", "duplicates"}) {
    EXPECT_EQ(Value(key), "<missing>") << key;
  }
  // A chassis without a root keeps no LAN state.
  std::string answer;
  SimulatedHardware rootless;
  std::string error;
  ASSERT_EQ(BuildHardware(ChassisDescription{}, "", &rootless, &error), 0) << error;
  EXPECT_EQ(ChassisControl(rootless).Execute("lan-cable plug", &answer), -1);
  EXPECT_EQ(answer, "this chassis keeps no LAN state: it has no root folder\n");
  EXPECT_EQ(ChassisControl(rootless).Execute("lan", &answer), -1);
}

// The control device as another process reaches it: one request a write, the reply
// read from the same descriptor.
class ControlDeviceTest : public Control {
 protected:
  void SetUp() override {
    Control::SetUp();
    platform::RegisterDeviceModel(kControlDevicePath, std::make_shared<ControlDevice>(hardware_));
  }
  void TearDown() override { platform::UnregisterDeviceModel(kControlDevicePath); }
};

TEST_F(ControlDeviceTest, RequestsGetTheirAnswerOrTheirRefusal) {
  std::string answer;
  ASSERT_EQ(BusWrite(1, 3, 0x01), 0);
  EXPECT_EQ(SendControlRequest({"coils", "1"}, &answer), 0);
  EXPECT_EQ(answer, "8\n");
  EXPECT_EQ(SendControlRequest({"coils", "2"}, &answer), -1);
  EXPECT_EQ(answer, "slot 2 is empty\n");
  EXPECT_EQ(SendControlRequest({"stick", "1", "8"}, &answer), 0);
  EXPECT_EQ(hardware_.cards[1]->CoilEnergised(8), true);
}

TEST_F(ControlDeviceTest, TheReplyCanBeReadInPiecesAndEachDescriptorHasItsOwn) {
  const int first = platform::DeviceOpen(kControlDevicePath, O_RDWR);
  const int second = platform::DeviceOpen(kControlDevicePath, O_RDWR);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  char none[8];
  EXPECT_EQ(platform::DeviceRead(first, none, sizeof none), 0) << "no request, no reply";
  ASSERT_EQ(platform::DeviceWrite(first, "cards\n", 6), 6);
  ASSERT_EQ(platform::DeviceWrite(second, "coils 2", 7), 7);
  std::string reply;
  char piece[5];
  ssize_t got;
  while ((got = platform::DeviceRead(first, piece, sizeof piece)) > 0) reply.append(piece, got);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(reply, "OK\n1 SM-RD96 0x7A01\n4 SM-DIO12-TTL 0x7A20\n7 SM-CT1 0x7A12\n");
  char buffer[64] = {};
  got = platform::DeviceRead(second, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0),
            "ERROR\nslot 2 is empty\n");
  const std::string long_request(ControlDevice::kLongestRequest + 1, 'x');
  ASSERT_EQ(platform::DeviceWrite(first, long_request.data(), long_request.size()),
            static_cast<ssize_t>(long_request.size()));
  got = platform::DeviceRead(first, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0),
            "ERROR\nthe request is longer than 4096 bytes\n");
  platform::DeviceClose(first);
  platform::DeviceClose(second);
}

TEST(ControlClient, AChassisThatIsNotThereIsReported) {
  char pattern[] = "/tmp/vchassis-control-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("CHASSIS_ROOT", pattern, 1);
  std::string answer;
  EXPECT_EQ(SendControlRequest({"cards"}, &answer), -1);
  EXPECT_EQ(
      answer.rfind("cannot reach the chassis at " + std::string(pattern) + "/dev/vchassis: ", 0),
      0u)
      << answer;
  unsetenv("CHASSIS_ROOT");
  rmdir(pattern);
}

}  // namespace
}  // namespace sim
