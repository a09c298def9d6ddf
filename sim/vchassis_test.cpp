// Tests of the virtual chassis' own helpers: furnishing and removing a root, the
// query test of the bus subcommands, the port checks of the launcher, and the cards'
// FRAM kept under the root.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "devices/xbus_requests.h"
#include "sim/card_models.h"
#include "sim/vchassis_devices.h"
#include "sim/vchassis_host.h"
#include "sim/vchassis_process.h"
#include "sim/vchassis_root.h"

namespace sim {
namespace {

bool IsFolder(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

class RootFolder : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(MakeFreshRoot(&root_), 0); }
  void TearDown() override { RemoveTree(root_); }
  std::string root_;
};

TEST_F(RootFolder, FreshRootIsAnEmptyPrivateFolderAndPreparingItAddsTheFixedFolders) {
  EXPECT_EQ(root_.rfind("/", 0), 0u);
  EXPECT_NE(root_.find("vchassis-"), std::string::npos);
  ASSERT_EQ(PrepareRoot(root_), 0);
  for (const char* folder : {"/tmp", "/dev", "/mnt/nonv", "/etc/sysinfo", "/var/www/controls",
                             "/lib/webctrls", "/tmp/avahi/var/run/avahi-daemon"}) {
    EXPECT_TRUE(IsFolder(root_ + folder)) << folder;
  }
  // Preparing an existing root again is harmless; a relative root is refused.
  EXPECT_EQ(PrepareRoot(root_), 0);
  EXPECT_EQ(PrepareRoot("relative/root"), -EINVAL);
}

TEST_F(RootFolder, StandInsAreInstalledExecutableAndReplaced) {
  std::string from = root_ + "/from";
  ASSERT_EQ(mkdir(from.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((from + "/not-a-tool").c_str(), 0755), 0);
  std::ofstream(from + "/lanstatind") << "#!/bin/sh\nexit 0\n";
  std::string to = root_ + "/sim-bin";
  ASSERT_EQ(InstallStandIns(from, to), 0);
  struct stat info {};
  ASSERT_EQ(stat((to + "/lanstatind").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_FALSE(Exists(to + "/not-a-tool"));

  std::ofstream(from + "/lanstatind") << "#!/bin/sh\nexit 3\n";
  ASSERT_EQ(InstallStandIns(from, to), 0);
  std::ifstream copy(to + "/lanstatind");
  std::string text((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "#!/bin/sh\nexit 3\n");
  EXPECT_LT(InstallStandIns(root_ + "/missing", to), 0);
}

TEST_F(RootFolder, HarmlessHostToolsAreLinkedBesideTheStandIns) {
  std::string from = root_ + "/from";
  ASSERT_EQ(mkdir(from.c_str(), 0755), 0);
  std::ofstream(from + "/cat") << "#!/bin/sh\nexit 7\n";  // a stand-in wins over the host
  std::string to = root_ + "/sim-bin";
  ASSERT_EQ(InstallStandIns(from, to), 0);
  ASSERT_EQ(InstallStandIns(from, to), 0);  // linking again replaces the links
  for (const char* tool : {"grep", "wc", "sleep"}) {
    struct stat info {};
    ASSERT_EQ(lstat((to + "/" + tool).c_str(), &info), 0) << tool;
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << tool;
    EXPECT_EQ(access((to + "/" + tool).c_str(), X_OK), 0) << tool;
  }
  // The host's ps would show every chassis' processes: only a stand-in may run as ps.
  EXPECT_FALSE(Exists(to + "/ps"));
  struct stat info {};
  ASSERT_EQ(lstat((to + "/cat").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  // With only this folder on the PATH a pipe of linked tools runs; other tools do not.
  const std::string command = "PATH=" + to + "; echo ab | grep a | wc -l > " + root_ +
                              "/count; touch " + root_ + "/touched";
  EXPECT_NE(std::system(command.c_str()), 0);
  std::ifstream count(root_ + "/count");
  int lines = 0;
  count >> lines;
  EXPECT_EQ(lines, 1);
  EXPECT_FALSE(Exists(root_ + "/touched"));
}

TEST_F(RootFolder, RootStandInsAreMirroredWhereTheFirmwareRunsThem) {
  const std::string from = std::string(CHASSIS_STAND_INS) + "/" + kRootStandInFolder;
  ASSERT_EQ(InstallRootStandIns(from, root_), 0);
  ASSERT_EQ(InstallRootStandIns(from, root_), 0);  // again over the first copies
  const std::pair<const char*, mode_t> files[] = {
      {"/etc/appweb/appweb", 0755},          {"/etc/editlanconfig", 0755},
      {"/tmp/avahi/bin/lxi-avahi-service", 0755}, {"/etc/appweb/factory_default_users.db", 0644},
      {"/lib/modules/g_usbtmc.ko", 0644},     {"/sim/stand-in.sh", 0644}};
  for (const auto& [file, mode] : files) {
    struct stat info {};
    ASSERT_EQ(lstat((root_ + file).c_str(), &info), 0) << file;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << file;
    EXPECT_EQ(info.st_mode & 0777, mode) << file;
  }
  EXPECT_LT(InstallRootStandIns(root_ + "/missing", root_), 0);
}

// A fresh root's nonvolatile tree comes from the firmware's builder, run once.
class NonvolatileTree : public RootFolder {
 protected:
  void SetUp() override {
    RootFolder::SetUp();
    programs_ = root_ + "/programs";
    chassis_ = root_ + "/chassis";
    ASSERT_EQ(mkdir(programs_.c_str(), 0755), 0);
    ASSERT_EQ(PrepareRoot(chassis_), 0);
  }
  // A builder that records the root it was given and how often it ran, then ends with
  // `status`.
  void WriteBuilder(int status) {
    const std::string path = programs_ + "/" + kNonvolatileBuilder;
    std::ofstream(path) << "#!/bin/sh\nmkdir -p \"$CHASSIS_ROOT/mnt/nonv/config\"\n"
                        << "echo \"$CHASSIS_ROOT\" >> \"$CHASSIS_ROOT/mnt/nonv/built\"\n"
                        << "exit " << status << "\n";
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  }
  std::string Built() {
    std::ifstream file(chassis_ + "/mnt/nonv/built");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return text;
  }
  std::string programs_;
  std::string chassis_;
};

TEST_F(NonvolatileTree, TheBuilderRunsOnceForAFreshRootWithThatRoot) {
  std::string error;
  EXPECT_EQ(BuildNonvolatileTree(programs_, chassis_, &error), 0) << "no builder: skipped";
  EXPECT_EQ(error, "");
  WriteBuilder(0);
  ASSERT_EQ(BuildNonvolatileTree(programs_, chassis_, &error), 0) << error;
  EXPECT_EQ(Built(), chassis_ + "\n");
  ASSERT_EQ(BuildNonvolatileTree(programs_, chassis_, &error), 0) << error;
  EXPECT_EQ(Built(), chassis_ + "\n") << "a tree that exists stays as it is";
}

TEST_F(NonvolatileTree, AFailingBuilderIsReported) {
  WriteBuilder(3);
  std::string error;
  EXPECT_EQ(BuildNonvolatileTree(programs_, chassis_, &error), -1);
  EXPECT_EQ(error, "mknonvol failed (exit status 3); the nonvolatile tree may be incomplete");
}

TEST_F(RootFolder, OnlyFifosAreRemovedFromTheRootsTmp) {
  ASSERT_EQ(PrepareRoot(root_), 0);
  ASSERT_EQ(mkfifo((root_ + "/tmp/event_eth").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((root_ + "/tmp/sock_write_2_scpi").c_str(), 0600), 0);
  std::ofstream(root_ + "/tmp/keep.txt") << "x";
  RemoveChassisFifos(root_);
  EXPECT_FALSE(Exists(root_ + "/tmp/event_eth"));
  EXPECT_FALSE(Exists(root_ + "/tmp/sock_write_2_scpi"));
  EXPECT_TRUE(Exists(root_ + "/tmp/keep.txt"));
}

TEST_F(RootFolder, TreeRemovalDoesNotFollowSymbolicLinks) {
  std::string outside;
  ASSERT_EQ(MakeFreshRoot(&outside), 0);
  std::ofstream(outside + "/precious") << "x";
  std::string tree = root_ + "/a/b/c";
  ASSERT_EQ(PrepareRoot(tree), 0);
  std::ofstream(tree + "/file") << "x";
  ASSERT_EQ(symlink(outside.c_str(), (root_ + "/a/link").c_str()), 0);
  EXPECT_EQ(RemoveTree(root_ + "/a"), 0);
  EXPECT_FALSE(Exists(root_ + "/a"));
  EXPECT_TRUE(Exists(outside + "/precious"));
  EXPECT_EQ(RemoveTree(root_ + "/a"), 0);  // already gone
  RemoveTree(outside);
}

TEST(HostBus, AQueryIsAQuestionMarkOutsideQuotes) {
  EXPECT_TRUE(HoldsQuery("*IDN?"));
  EXPECT_TRUE(HoldsQuery("*ESE 1;*ESE?"));
  EXPECT_FALSE(HoldsQuery("*ESE 1;*SRE 32;*OPC"));
  EXPECT_FALSE(HoldsQuery("DIAG:TEXT \"why?\""));
  EXPECT_FALSE(HoldsQuery("DIAG:TEXT 'why?'"));
  EXPECT_TRUE(HoldsQuery("DIAG:TEXT 'a';SYST:ERR?"));
  EXPECT_FALSE(HoldsQuery(""));
}

TEST(Ports, ListeningPortsAreSeenAndFreeRangesAreFree) {
  uint16_t base = FindFreePortBase();
  ASSERT_NE(base, 0);
  EXPECT_FALSE(PortsListening({base}));
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(base);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_FALSE(PortsListening({base})) << "bound is not listening";
  ASSERT_EQ(listen(fd, 1), 0);
  EXPECT_TRUE(PortsListening({base}));
  EXPECT_FALSE(PortsListening({base, static_cast<uint16_t>(base + 1)}));
  close(fd);
  EXPECT_FALSE(PortsListening({base}));
}

// A cage with a card that keeps relay counters in slot 4, its FRAM under a root.
class FramKeeping : public RootFolder {
 protected:
  void SetUp() override {
    RootFolder::SetUp();
    description_.models[4] = "SM-MX12H";
    description_.models[5] = "SM-RD96";
  }

  int Build(SimulatedHardware* hardware, std::string* error) {
    return BuildHardware(description_, FramFolder(root_), hardware, error);
  }

  // The firmware's counter write: open a sequence, the address, four bytes least
  // significant first, close.
  static void WriteCounter(XbusModel& xbus, int slot, int relay, uint32_t count) {
    const uint32_t address = 4 * static_cast<uint32_t>(relay);
    const std::pair<uint32_t, uint32_t> steps[] = {
        {0x301, 0xDA}, {0x383, address & 0xFF}, {0x381, address >> 8},
        {0x389, count & 0xFF}, {0x389, count >> 8 & 0xFF}, {0x389, count >> 16 & 0xFF},
        {0x389, count >> 24}, {0x301, 0}};
    for (const auto& [register_address, byte] : steps) {
      XbusByteRequest block{{kXbusCommandWrite, XbusBusAddress(slot, register_address), byte}};
      ASSERT_EQ(xbus.Ioctl(0, kXbusWriteByte, &block, sizeof block), 0);
    }
  }

  static std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }

  ChassisDescription description_;
};

TEST_F(FramKeeping, AnotherCardInTheSlotStartsWithItsOwnCounters) {
  std::string error;
  {
    SimulatedHardware hardware;
    ASSERT_EQ(Build(&hardware, &error), 0) << error;
    WriteCounter(*hardware.xbus, 4, 2, 0x01020304);
  }
  description_.models[4] = "SM-MX26Q";
  SimulatedHardware other;
  ASSERT_EQ(Build(&other, &error), 0) << error;
  EXPECT_EQ(other.cards[4]->RelayCounter(2), 0u);
}

TEST_F(FramKeeping, CountersAreSavedWhenAWriteSequenceClosesAndLoadedByTheNextRun) {
  std::string error;
  {
    SimulatedHardware hardware;
    ASSERT_EQ(Build(&hardware, &error), 0) << error;
    EXPECT_FALSE(Exists(FramFile(FramFolder(root_), 4, "SM-MX12H"))) << "nothing written yet";
    WriteCounter(*hardware.xbus, 4, 2, 0x01020304);
    const std::string bytes = FileBytes(FramFile(FramFolder(root_), 4, "SM-MX12H"));
    ASSERT_EQ(bytes.size(), kCardFramBytes);
    EXPECT_EQ(bytes.substr(8, 4), "\x04\x03\x02\x01");
    EXPECT_FALSE(Exists(FramFile(FramFolder(root_), 5, "SM-RD96"))) << "a card without counters";
  }
  SimulatedHardware again;
  ASSERT_EQ(Build(&again, &error), 0) << error;
  EXPECT_EQ(again.cards[4]->RelayCounter(2), 0x01020304u);
  EXPECT_EQ(again.cards[4]->RelayCounter(3), 0u);
}

TEST_F(FramKeeping, SavingAtStopWritesEveryCardWithCounters) {
  std::string error;
  SimulatedHardware hardware;
  ASSERT_EQ(Build(&hardware, &error), 0) << error;
  std::vector<uint8_t> image(kCardFramBytes, 0);
  image[0] = 7;
  hardware.cards[4]->LoadFramImage(image);  // as if written without a closing sequence
  ASSERT_EQ(SaveFramImages(hardware, &error), 0) << error;
  EXPECT_EQ(FileBytes(FramFile(FramFolder(root_), 4, "SM-MX12H")), std::string(image.begin(), image.end()));
  EXPECT_FALSE(Exists(FramFile(FramFolder(root_), 4, "SM-MX12H") + ".new"));

  // Without a FRAM folder nothing persists.
  SimulatedHardware volatile_hardware;
  ASSERT_EQ(BuildHardware(description_, "", &volatile_hardware, &error), 0) << error;
  EXPECT_EQ(SaveFramImages(volatile_hardware, &error), 0);

  // A folder that cannot be written is reported, naming the file.
  RemoveTree(FramFolder(root_));
  EXPECT_EQ(SaveFramImages(hardware, &error), -1);
  EXPECT_EQ(error.rfind(FramFile(FramFolder(root_), 4, "SM-MX12H") + ": ", 0), 0u) << error;
}

TEST_F(FramKeeping, AFramFileThatDoesNotFitTheCardRefusesTheCage) {
  ASSERT_EQ(mkdir(FramFolder(root_).c_str(), 0755), 0);
  std::ofstream(FramFile(FramFolder(root_), 4, "SM-MX12H")) << "short";
  SimulatedHardware hardware;
  std::string error;
  EXPECT_EQ(Build(&hardware, &error), -1);
  EXPECT_EQ(error, FramFile(FramFolder(root_), 4, "SM-MX12H") +
                       " holds 5 bytes, but the SM-MX12H in slot 4 keeps " +
                       std::to_string(kCardFramBytes) + ": remove the file or put that card back");
  EXPECT_EQ(FileBytes(FramFile(FramFolder(root_), 4, "SM-MX12H")), "short") << "the file is left alone";
}

}  // namespace
}  // namespace sim
