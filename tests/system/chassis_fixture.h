// Support for the system tests: a fixture that starts a whole virtual chassis in a
// temporary root on free ports and always takes it down again (its process group and
// any process still running under its root are killed, the root removed).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/line_client.h"
#include "sim/vchassis_process.h"

namespace systest {

// The folder of the firmware programs and vchassis.
std::string ProgramFolder();

// Every wait of the tests ends within this, so a fault fails a test instead of
// hanging it.
inline constexpr int kWaitMs = 10000;

// The identity every interface must report.
inline constexpr std::string_view kIdentity = "Tellwin Instruments 4410 Switch System, 1.6.8";

using TcpClient = sim::LineClient;

// What one run of a vchassis subcommand printed and how it ended.
struct Outcome {
  int status = -1;  // exit status; -1 when it did not end normally in time
  std::string out;
  std::string err;
};

// Runs `vchassis <words> --root <root>` without a shell and collects both streams.
Outcome Vchassis(const std::vector<std::string>& words, const std::string& root);

// Registers an event socket for command socket `number` with `mask` (hexadecimal).
void Register(TcpClient* events, int number, const char* mask);

class ChassisTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  uint16_t command_port() const { return base_; }
  uint16_t event_port() const { return static_cast<uint16_t>(base_ + 1); }
  uint16_t raw_port() const { return static_cast<uint16_t>(base_ + 2); }

  // Connects to the command port and reads its greeting; the descriptor number the
  // greeting carried, or -1.
  int ConnectCommand(TcpClient* client);

  // Stops the chassis and starts it again on the same root and ports, as a power
  // cycle of the board would; fails the test when either step fails.
  void RestartChassis();

  // The answer of a control subcommand on this chassis that must succeed.
  std::string Control(const std::vector<std::string>& words);

  void StartChassis();

  // A chassis description ("<slot> <model>" lines) for the cage instead of the default
  // one; a test fixture sets it before SetUp.
  std::string cage_;
  std::string root_;
  uint16_t base_ = 0;
  std::string ready_line_;
  std::unique_ptr<sim::ChassisLauncher> launcher_;
};

}  // namespace systest
