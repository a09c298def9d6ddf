// The system test fixture and TCP client.
#include "tests/system/chassis_fixture.h"

#include <cstdio>
#include <cstdlib>

#include "sim/vchassis_root.h"

namespace systest {

std::string ProgramFolder() { return CHASSIS_BIN_DIR; }

void ChassisTest::SetUp() {
  char pattern[] = "/tmp/vchassis-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  root_ = pattern;
  base_ = sim::FindFreePortBase();
  ASSERT_NE(base_, 0) << "no three free ports";
  launcher_ = std::make_unique<sim::ChassisLauncher>();
  ASSERT_EQ(launcher_->Start(ProgramFolder() + "/vchassis",
                             {"--root", root_, "--port-base", std::to_string(base_)}, root_),
            0);
  ASSERT_TRUE(launcher_->WaitReady(20000, &ready_line_)) << launcher_->Output();
  // The host sides of the buses find the chassis through the root.
  setenv("CHASSIS_ROOT", root_.c_str(), 1);
}

void ChassisTest::TearDown() {
  if (launcher_ != nullptr) {
    int status = launcher_->Stop(kWaitMs);
    EXPECT_EQ(status, 0) << "vchassis did not stop cleanly";
    // A sanitizer build reports through the programs' output, whichever process it is.
    std::string output = launcher_->Output();
    for (const char* finding : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                "runtime error:", "WARNING: ThreadSanitizer"}) {
      EXPECT_EQ(output.find(finding), std::string::npos) << finding;
    }
    if (HasFailure()) std::fprintf(stderr, "--- chassis output ---\n%s", launcher_->Output().c_str());
    launcher_.reset();  // kills whatever is still running under the root
  }
  unsetenv("CHASSIS_ROOT");
  if (!root_.empty()) sim::RemoveTree(root_);
}

int ChassisTest::ConnectCommand(TcpClient* client) {
  if (!client->Connect(command_port())) return -1;
  std::string greeting, number;
  if (!client->ReadExactly(2, &greeting) || greeting != "\x06\n") return -1;
  if (!client->ReadLine(&number) || number.empty()) return -1;
  char* end = nullptr;
  long value = std::strtol(number.c_str(), &end, 10);
  return *end == '\0' ? static_cast<int>(value) : -1;
}

}  // namespace systest
