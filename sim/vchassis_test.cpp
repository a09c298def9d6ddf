// Tests of the virtual chassis' own helpers: furnishing and removing a root, the
// query test of the bus subcommands, and the port checks of the launcher.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

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
                             "/lib/webctrls"}) {
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

}  // namespace
}  // namespace sim
