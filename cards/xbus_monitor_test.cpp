// The interrupt monitor against the simulated FPGA and bus driver: card interrupts
// reach the handler of the card that raised them and leave every source acknowledged
// and unmasked; the external trigger is acknowledged and handed to the scan hook; the
// thread serves events until the stop and ends at once without a bus driver.
#include "cards/xbus_monitor.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cards/card_manager.h"
#include "cards/special_card_test_support.h"
#include "cards/special_cards.h"
#include "core/run_state.h"
#include "devices/fpga_registers.h"
#include "hardware/hardware_test_support.h"

namespace {

constexpr uint32_t kTestCardTypeId = 0x7A12;
constexpr int kTestSlot = 7;

// A card's interrupt register: pending bits read 0; a written 1 clears one.
class InterruptingCard final : public sim::LocalBusTarget {
 public:
  int ReadByte(uint32_t address, uint8_t* byte) override {
    *byte = address == kCardInterruptRegister ? static_cast<uint8_t>(~pending.load()) : 0xFF;
    return 0;
  }
  int WriteByte(uint32_t address, uint8_t byte) override {
    if (address == kCardInterruptRegister) pending &= static_cast<uint8_t>(~byte);
    return 0;
  }
  std::atomic<uint8_t> pending{0};
};

std::atomic<int> interrupt_calls{0};
std::atomic<int> interrupt_slot{0};
std::atomic<int> interrupt_status{0};
int32_t CountingInterrupt(int slot, uint8_t status) {
  interrupt_slot = slot;
  interrupt_status = status;
  ++interrupt_calls;
  return 0;
}

std::atomic<int> trigger_steps{0};
void CountTriggerStep() { ++trigger_steps; }

class XbusMonitor : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
    interrupt_calls = 0;
    trigger_steps = 0;
    SetExternalTriggerStep(CountTriggerStep);
  }
  void TearDown() override {
    SetExternalTriggerStep(nullptr);
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  // A test card in `slot` whose interrupt handler counts its calls.
  std::shared_ptr<InterruptingCard> PlugTestCard(int slot) {
    auto card = std::make_shared<InterruptingCard>();
    xbus_->Plug(slot, card);
    CardRecord* record = CardSlotRecord(slot);
    record->type_id = kTestCardTypeId;
    record->present = 1;
    record->operations.Interrupt = CountingInterrupt;
    return card;
  }

  static bool WaitFor(const std::atomic<int>& counter, int value) {
    for (int i = 0; i < 500 && counter.load() < value; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return counter.load() >= value;
  }
};

TEST_F(XbusMonitor, CardInterruptReachesTheRaisingCardAndEverySourceIsAcknowledged) {
  auto card = PlugTestCard(kTestSlot);
  PlugTestCard(3);  // installed, but raises nothing
  card->pending = 0x80;
  ASSERT_EQ(MaskAllInterrupts(), 0);
  fpga_->RaiseInterrupt(SlotInterruptBit(kTestSlot));

  EXPECT_EQ(HandleXbusEvent(kXbusEventCardInterrupt), 0);
  EXPECT_EQ(interrupt_calls.load(), 1);
  EXPECT_EQ(interrupt_slot.load(), kTestSlot);
  EXPECT_EQ(interrupt_status.load(), 0x80);
  EXPECT_EQ(fpga_->Pending(), 0u);
  EXPECT_EQ(fpga_->Peek(kFpgaInterruptMask), 0u);
}

TEST_F(XbusMonitor, CardInterruptWithoutPendingBitsDispatchesNothing) {
  PlugTestCard(kTestSlot);
  EXPECT_EQ(HandleXbusEvent(kXbusEventCardInterrupt), 0);
  EXPECT_EQ(interrupt_calls.load(), 0);
}

TEST_F(XbusMonitor, ExternalTriggerIsAcknowledgedUnmaskedAndStepsTheScan) {
  fpga_->RaiseInterrupt(kFpgaChassisInterrupt | SlotInterruptBit(2));
  EXPECT_EQ(HandleXbusEvent(kXbusEventTrigger), 0);
  // Only the trigger source is acknowledged; a card's pending source stays.
  EXPECT_EQ(fpga_->Pending(), SlotInterruptBit(2));
  EXPECT_EQ(fpga_->Peek(kFpgaInterruptMask) & kFpgaChassisInterrupt, 0u);
  EXPECT_EQ(trigger_steps.load(), 1);
  // Unknown codes and power failure without its handler do nothing.
  EXPECT_EQ(HandleXbusEvent(0x99), 0);
  EXPECT_EQ(HandleXbusEvent(kXbusEventPowerFail), 0);
  EXPECT_EQ(trigger_steps.load(), 1);
}

TEST_F(XbusMonitor, ThreadServesQueuedEventsUntilTheStop) {
  SetRunning(true);
  auto card = PlugTestCard(kTestSlot);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, MonitorXbusEvents, nullptr), 0);
  xbus_->PostEvent(kXbusEventTrigger);
  EXPECT_TRUE(WaitFor(trigger_steps, 1));
  card->pending = 0x40;
  xbus_->PostEvent(kXbusEventCardInterrupt);
  EXPECT_TRUE(WaitFor(interrupt_calls, 1));
  // The stop: the flag clears and one more event wakes the thread to see it.
  SetRunning(false);
  xbus_->PostEvent(0);
  pthread_join(thread, nullptr);
  SetRunning(true);
  EXPECT_EQ(trigger_steps.load(), 1);
}

TEST_F(XbusMonitor, ThreadEndsAtOnceWithoutABusDriver) {
  SetRunning(true);
  MissingDevice missing(kXbusDevicePath);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(MonitorXbusEvents(nullptr), nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("MonitorXbusEvents"), std::string::npos) << out;
  EXPECT_NE(out.find("Open xbus driver failed"), std::string::npos) << out;
}

// The monitor and a command thread on the same card at once: the test card's interrupts
// are taken while its relays are switched. Nothing of the card's state may tear (the
// thread sanitizer build watches the accesses), and the relays end as commanded.
using MonitorBesideCommands = SpecialCardTest;

TEST_F(MonitorBesideCommands, InterruptsOfATestCardBeingSwitchedKeepItsState) {
  constexpr int kSlot = 7;
  ASSERT_EQ(Install(kSlot, "SM-CT1", kSmCt1Template), 0);
  SetRunning(true);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, MonitorXbusEvents, nullptr), 0);
  for (int round = 0; round < 200; ++round) {
    Model(kSlot).RaiseInterrupt(0x40);
    xbus_->PostEvent(kXbusEventCardInterrupt);
    const int32_t channel = round % 20;
    ASSERT_EQ(CardSetPending(kSlot, channel, round % 3 != 0), 0);
    ASSERT_EQ(Commit(kSlot), 0);
  }
  // The monitor may lag behind, and the driver drops events past its queue: while the
  // card still holds its interrupt, signal it again, as its line would.
  for (int i = 0; i < 500 && Model(kSlot).PendingInterrupt() != 0; ++i) {
    if (xbus_->QueuedEvents() == 0) xbus_->PostEvent(kXbusEventCardInterrupt);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Model(kSlot).PendingInterrupt(), 0) << "the handler acknowledges the card";
  SetRunning(false);
  xbus_->PostEvent(0);
  pthread_join(thread, nullptr);
  SetRunning(true);

  EXPECT_EQ(CardConfidenceCheck(kSlot), 0);
  for (int32_t channel = 0; channel < 20; ++channel) {
    // The last round that touched the channel decides it.
    int last = channel;
    while (last + 20 < 200) last += 20;
    EXPECT_EQ(CardGetRelayState(kSlot, channel), last % 3 != 0 ? 1 : 0) << channel;
  }
  uint8_t status = 0;
  ASSERT_EQ(GetTestInterruptStatus(kSlot, &status), 0);
  EXPECT_EQ(status, 0x40);
}

}  // namespace
