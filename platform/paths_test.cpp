// Root-relative paths, per-root global names, ports and bind address.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/test_support.h"

namespace platform {
namespace {

TEST(ResolvePath, UsesPathsAsWrittenWithoutRoot) {
  ScopedEnv root("CHASSIS_ROOT", nullptr);
  EXPECT_EQ(ResolvePath("/mnt/nonv/config/comm/gpib/paddress"),
            "/mnt/nonv/config/comm/gpib/paddress");
  EXPECT_EQ(ResolvePath("/dev/gpib0"), "/dev/gpib0");
  ScopedEnv empty("CHASSIS_ROOT", "");
  EXPECT_EQ(ResolvePath("/tmp/event_eth"), "/tmp/event_eth");
}

TEST(ResolvePath, PlacesFixedPathsUnderRoot) {
  ScopedEnv root("CHASSIS_ROOT", "/tmp/vc1/");
  EXPECT_EQ(Root(), "/tmp/vc1");
  EXPECT_EQ(ResolvePath("/mnt/nonv/config/fan/temp_threshold"),
            "/tmp/vc1/mnt/nonv/config/fan/temp_threshold");
  EXPECT_EQ(ResolvePath("/tmp/sock_write_2_scpi"), "/tmp/vc1/tmp/sock_write_2_scpi");
  EXPECT_EQ(ResolvePath("/etc/sysinfo"), "/tmp/vc1/etc/sysinfo");
  // Relative paths are the working directory's business, not the root's.
  EXPECT_EQ(ResolvePath("lanlink"), "lanlink");
  EXPECT_EQ(ResolvePath(""), "");
}

TEST(ResolvePath, RelativeRootIsTakenFromTheWorkingDirectory) {
  ScopedEnv root("CHASSIS_ROOT", "vc1");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(ResolvePath("/dev/gpib0"), std::string(cwd) + "/vc1/dev/gpib0");
}

TEST(ResolvePath, SlashAsRootIsTheBoardLayout) {
  ScopedEnv root("CHASSIS_ROOT", "///");
  EXPECT_EQ(Root(), "");
  EXPECT_EQ(ResolvePath("/dev/xbus0"), "/dev/xbus0");
}

TEST(GlobalName, UnchangedWithoutRoot) {
  ScopedEnv root("CHASSIS_ROOT", nullptr);
  EXPECT_EQ(GlobalName("/shared_block"), "/shared_block");
  EXPECT_EQ(GlobalName("shared_block"), "shared_block");
}

TEST(GlobalName, DiffersPerRootAndStaysAValidShmName) {
  std::string first, second, again;
  {
    ScopedEnv root("CHASSIS_ROOT", "/tmp/vc1");
    first = GlobalName("/shared_block");
    again = GlobalName("/shared_block");
  }
  {
    ScopedEnv root("CHASSIS_ROOT", "/tmp/vc2");
    second = GlobalName("/shared_block");
  }
  EXPECT_NE(first, second);
  EXPECT_EQ(first, again);
  EXPECT_EQ(first.rfind("/shared_block.", 0), 0u) << first;
  EXPECT_EQ(first.find('/', 1), std::string::npos);

  ScopedEnv root("CHASSIS_ROOT", "/tmp/vc1");
  const std::string nested = GlobalName("/a/b");
  EXPECT_EQ(nested.find('/', 1), std::string::npos) << nested;
  const std::string bare = GlobalName("shared_block");
  EXPECT_NE(bare.front(), '/');
  const std::string long_name = GlobalName("/" + std::string(400, 'x'));
  EXPECT_LE(long_name.size(), 255u);
  EXPECT_EQ(long_name.substr(long_name.size() - 17), first.substr(first.size() - 17));
}

TEST(Ports, DefaultBaseAndItsTwoNeighbours) {
  ScopedEnv base("CHASSIS_PORT_BASE", nullptr);
  EXPECT_EQ(PortBase(), 4444);
  EXPECT_EQ(CommandPort(), 4444);
  EXPECT_EQ(EventPort(), 4445);
  EXPECT_EQ(RawPort(), 4446);
}

TEST(Ports, OverrideAndBadValues) {
  {
    ScopedEnv base("CHASSIS_PORT_BASE", "15000");
    EXPECT_EQ(CommandPort(), 15000);
    EXPECT_EQ(EventPort(), 15001);
    EXPECT_EQ(RawPort(), 15002);
  }
  {
    ScopedEnv base("CHASSIS_PORT_BASE", "65533");
    EXPECT_EQ(RawPort(), 65535);
  }
  for (const char* bad : {"", "0", "65534", "99999", "123456", "-5", "12ab", " 5000", "abc"}) {
    ScopedEnv base("CHASSIS_PORT_BASE", bad);
    EXPECT_EQ(PortBase(), kDefaultPortBase) << '"' << bad << '"';
  }
}

TEST(BindAddress, AnyByDefaultOverrideWhenValid) {
  {
    ScopedEnv address("CHASSIS_BIND_ADDR", nullptr);
    EXPECT_EQ(BindAddress(), "0.0.0.0");
  }
  {
    ScopedEnv address("CHASSIS_BIND_ADDR", "127.0.0.1");
    EXPECT_EQ(BindAddress(), "127.0.0.1");
  }
  for (const char* bad : {"", "localhost", "127.0.0", "300.1.1.1", "1.2.3.4 "}) {
    ScopedEnv address("CHASSIS_BIND_ADDR", bad);
    EXPECT_EQ(BindAddress(), "0.0.0.0") << '"' << bad << '"';
  }
}

TEST(FormatCommand, ResolvesEachPathInTurn) {
  {
    ScopedEnv root("CHASSIS_ROOT", "/tmp/vc1");
    EXPECT_EQ(FormatCommand("dhclient -cf %p -sf %p eth0", {"/etc/dhclient.conf",
                                                             "/etc/dhclient-script"}),
              "dhclient -cf /tmp/vc1/etc/dhclient.conf -sf /tmp/vc1/etc/dhclient-script eth0");
    EXPECT_EQ(FormatCommand("echo 100%% > %p", {"/tmp/x"}), "echo 100% > /tmp/vc1/tmp/x");
    // Too few paths leave the place empty; a lone '%' is copied.
    EXPECT_EQ(FormatCommand("a %p b %", {}), "a  b %");
  }
  ScopedEnv root("CHASSIS_ROOT", nullptr);
  EXPECT_EQ(FormatCommand("insmod %p", {"/lib/modules/g_usbtmc.ko"}),
            "insmod /lib/modules/g_usbtmc.ko");
}

}  // namespace
}  // namespace platform
