// Starting and stopping a virtual chassis: the ready line, a stop that leaves no
// process, FIFO, shared memory or fresh root behind, a controller that dies, and the
// bus subcommands of vchassis against a running chassis.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "sim/vchassis_process.h"
#include "sim/vchassis_root.h"
#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// The shared memory object of the chassis at `root`.
std::string SharedMemoryFile(const std::string& root) {
  setenv("CHASSIS_ROOT", root.c_str(), 1);
  std::string name = platform::GlobalName("/shared_block");
  unsetenv("CHASSIS_ROOT");
  return "/dev/shm" + name;
}

// Runs a command line and returns what it printed; *status gets its exit status.
std::string Capture(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int result = pclose(pipe);
  *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

// The firmware's own processes under `root` (instctl and its three servers), without
// the stand-in tools that run beside them (the discovery service).
std::vector<pid_t> FirmwareProcesses(const std::string& root) {
  std::vector<pid_t> firmware;
  for (pid_t pid : sim::ChassisProcesses(root)) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name == "instctl" || name == "lanlink" || name == "usblink" || name == "buslink") {
      firmware.push_back(pid);
    }
  }
  return firmware;
}

// instctl started from a folder without its servers: every server's exec fails, so
// the controller waits in the first command channel's FIFO open. A stop must end it.
TEST(ControllerStartUp, StopSignalEndsAStartUpBlockedInAFifoOpen) {
  char pattern[] = "/tmp/instctl-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string root = pattern;
  std::string empty = root + "/empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root + "/tmp").c_str(), 0755), 0);
  std::string program = ProgramFolder() + "/instctl";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("CHASSIS_ROOT", root.c_str(), 1);
    if (chdir(empty.c_str()) == 0) execl(program.c_str(), "instctl", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The FIFO exists once instctl is in (or right before) its blocking open. Without
  // any device the bring-up before it takes its time: the MAC read alone tries five
  // times a second apart, and the USB device node is waited for two seconds.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3 * kWaitMs);
  while (!Exists(root + "/tmp/scpi_write_2_sock") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(Exists(root + "/tmp/scpi_write_2_sock"));
  int status = -1;
  deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  // Repeated: a stop that lands just before the open is entered is noticed at the next.
  while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
    kill(pid, SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (std::chrono::steady_clock::now() >= deadline) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "instctl did not end on SIGTERM";
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  sim::RemoveTree(root);
}

TEST(ChassisLifecycle, StopSignalEndsEveryProcessAndRemovesWhatTheChassisMade) {
  uint16_t base = sim::FindFreePortBase();
  ASSERT_NE(base, 0);
  sim::ChassisLauncher launcher;
  // A fresh root: its name is only known from the ready line.
  ASSERT_EQ(launcher.Start(ProgramFolder() + "/vchassis", {"--port-base", std::to_string(base)},
                           ""),
            0);
  std::string ready;
  ASSERT_TRUE(launcher.WaitReady(20000, &ready)) << launcher.Output();
  EXPECT_EQ(ready, "vchassis: ready, SCPI on 127.0.0.1 ports " + std::to_string(base) +
                       " (commands) " + std::to_string(base + 1) + " (events) " +
                       std::to_string(base + 2) + " (raw), root " + launcher.root());
  std::string root = launcher.root();
  ASSERT_FALSE(root.empty());
  // After the ready line, three lines a newcomer can paste.
  const auto shown = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (launcher.Output().find("vchassis: live view") == std::string::npos &&
         std::chrono::steady_clock::now() < shown) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string raw_port = std::to_string(base + 2);
  EXPECT_NE(launcher.Output().find("vchassis: PyVISA resource  TCPIP::127.0.0.1::" + raw_port + "::SOCKET\n"),
            std::string::npos)
      << launcher.Output();
  EXPECT_NE(launcher.Output().find("vchassis: lxi-tools        lxi scpi --address 127.0.0.1 --port " +
                                   raw_port + " --raw \"*IDN?\"\n"),
            std::string::npos);
  EXPECT_NE(launcher.Output().find("vchassis: live view        " + ProgramFolder() +
                                   "/vchassis watch --root " + root + "\n"),
            std::string::npos);
  ASSERT_TRUE(Exists(root + "/tmp/sock_write_2_scpi"));

  // instctl and its three servers run under the root.
  std::vector<pid_t> firmware = FirmwareProcesses(root);
  EXPECT_EQ(firmware.size(), 4u) << launcher.Output();

  // A block transfer makes the shared memory object exist.
  TcpClient raw;
  ASSERT_TRUE(raw.Connect(static_cast<uint16_t>(base + 2)));
  ASSERT_TRUE(raw.Send("**WRITE 4\nabcd**READ 4\n"));
  std::string back;
  ASSERT_TRUE(raw.ReadExactly(4, &back));
  EXPECT_EQ(back, "abcd");
  std::string shm = SharedMemoryFile(root);
  EXPECT_TRUE(Exists(shm)) << shm;

  ASSERT_EQ(kill(launcher.pid(), SIGTERM), 0);
  int status = launcher.WaitExit(kWaitMs);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << launcher.Output();
  EXPECT_TRUE(sim::ChassisProcesses(root).empty());
  for (pid_t pid : firmware) EXPECT_NE(kill(pid, 0), 0) << "process " << pid << " left";
  EXPECT_FALSE(Exists(shm));
  EXPECT_FALSE(Exists(root)) << "the fresh root was not removed";
}

using ChassisWithRoot = ChassisTest;

TEST_F(ChassisWithRoot, GivenRootIsKeptWithoutFifosAfterTheStop) {
  ASSERT_TRUE(Exists(root_ + "/tmp/event_eth"));
  ASSERT_TRUE(Exists(root_ + "/sim-bin/lanstatind"));
  int status = launcher_->Stop(kWaitMs);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(sim::ChassisProcesses(root_).empty());
  EXPECT_TRUE(Exists(root_ + "/mnt/nonv"));
  for (const char* fifo : {"/tmp/event_eth", "/tmp/event_gpib", "/tmp/event_usb",
                           "/tmp/sock_write_2_scpi", "/tmp/scpi_write_2_gpib"}) {
    EXPECT_FALSE(Exists(root_ + fifo)) << fifo;
  }
  EXPECT_FALSE(Exists(root_ + "/dev/gpib0")) << "device socket left";
}

TEST_F(ChassisWithRoot, ControllerThatDiesTakesTheChassisDown) {
  std::vector<pid_t> firmware = FirmwareProcesses(root_);
  ASSERT_EQ(firmware.size(), 4u);
  // The controller is the process group leader vchassis started.
  pid_t controller = -1;
  for (pid_t pid : firmware) {
    if (getpgid(pid) == pid) controller = pid;
  }
  ASSERT_GT(controller, 0);
  ASSERT_EQ(kill(controller, SIGKILL), 0);
  int status = launcher_->WaitExit(kWaitMs);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << launcher_->Output();
  EXPECT_NE(launcher_->Output().find("vchassis: instctl ended"), std::string::npos);
  EXPECT_TRUE(sim::ChassisProcesses(root_).empty());
  launcher_.reset();
}

TEST_F(ChassisWithRoot, BusSubcommandsActOnTheRunningChassis) {
  std::string vchassis = ProgramFolder() + "/vchassis";
  int status = -1;
  std::string reply = Capture(vchassis + " gpib send '*IDN?' --root " + root_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reply, std::string(kIdentity) + "\n");
  reply = Capture(vchassis + " usb send '*IDN?' --root " + root_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reply, std::string(kIdentity) + "\n");
  // A command without a query prints nothing and returns at once.
  EXPECT_EQ(Capture(vchassis + " gpib send '*ESE 1;*SRE 32;*OPC' --root " + root_, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Capture(vchassis + " gpib wait-srq --timeout 10 --root " + root_, &status), "SRQ\n");
  EXPECT_EQ(status, 0);
  // ESB and RQS: 0x20 | 0x40.
  EXPECT_EQ(Capture(vchassis + " gpib poll --root " + root_, &status), "96\n");
  EXPECT_EQ(status, 0);
  // No chassis there: a clear failure, not a hang.
  Capture(vchassis + " gpib poll --root " + root_ + "/nowhere 2>/dev/null", &status);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace systest
