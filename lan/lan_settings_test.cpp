// Tests of the stored LAN settings: the rules every value must pass, the defaults an
// invalid or missing file falls back to, and the files the setters write.
#include "lan/lan_settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "core/stored_file.h"
#include "lan/lan_config.h"
#include "lan/lan_test_support.h"

namespace {

TEST(LanRules, AddressesMustPrintBackTheSame) {
  for (const char* good : {"192.168.0.50", "0.0.0.0", "255.255.255.255", "10.1.2.3"}) {
    EXPECT_TRUE(IsValidIpAddress(good)) << good;
  }
  for (const char* bad : {"192.168.0.256", "192.168.00.5", "1.2.3", "1.2.3.4.5", "1.2.3.4 ",
                          " 1.2.3.4", "-1.2.3.4", "1.2.3.4;reboot", "a.b.c.d", "", "+1.2.3.4"}) {
    EXPECT_FALSE(IsValidIpAddress(bad)) << bad;
  }
  EXPECT_TRUE(IsValidDnsList("1.2.3.4, 5.6.7.8,9.9.9.9"));
  EXPECT_TRUE(IsValidDnsList(""));
  EXPECT_FALSE(IsValidDnsList("1.2.3.4 $(reboot)"));
}

TEST(LanRules, NamesAreCheckedBeforeTheyReachACommand) {
  EXPECT_TRUE(IsValidHostname("Lab-Switch-2"));
  EXPECT_TRUE(IsValidHostname(std::string(32, 'a')));
  for (const std::string& bad : {std::string("2lab"), std::string("lab_2"), std::string(33, 'a'),
                                 std::string(""), std::string("lab;reboot"), std::string("-lab")}) {
    EXPECT_FALSE(IsValidHostname(bad)) << bad;
  }
  EXPECT_TRUE(IsValidDomain(""));
  EXPECT_TRUE(IsValidDomain("lab.example-1.com"));
  EXPECT_FALSE(IsValidDomain(".lab"));
  EXPECT_FALSE(IsValidDomain("lab example"));
  EXPECT_FALSE(IsValidDomain(std::string(64, 'a')));
  EXPECT_TRUE(IsValidServiceName("Switch System (2) #3"));
  for (const char* bad : {"a\"b", "a$(reboot)", "a`b`", "a\\b", "tab\there"}) {
    EXPECT_FALSE(IsValidServiceName(bad)) << bad;
  }
}

using LanSettingsTest = LanTest;

TEST_F(LanSettingsTest, InvalidStoredValuesFallBackToTheirDefaults) {
  ASSERT_EQ(MakeStoredFolder("/mnt/nonv/config/lan"), 0);
  Store(kLanHostnameFile, "1bad");
  Store(kLanAddressFile, "10.0.0.1;reboot\n");
  Store(kLanServiceNameFile, "Lab $(reboot)");
  Store(kLanMaskFile, "255.255.255.0\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(lan_get_hostname(), "C-4410X-SN12345");
  EXPECT_EQ(lan_get_ipaddress(), "");
  EXPECT_EQ(lan_get_servicename(), "Corvane Switch System 4410X - SN12345");
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("invalid value \"1bad\""), std::string::npos) << printed;
  EXPECT_NE(printed.find("invalid value \"10.0.0.1;reboot\""), std::string::npos) << printed;
  EXPECT_EQ(lan_get_subnetmask(), "255.255.255.0") << "line feeds are removed";
  EXPECT_EQ(lan_get_description(), "Corvane Switch System 4410X - SN12345");
  EXPECT_EQ(lan_get_resolved_servicename(), lan_get_servicename());

  // A serial number that would not be a name is made one.
  SetSerial("SN 1;2");
  EXPECT_EQ(lan_get_hostname(), "C-4410X-SN-1-2");
}

TEST_F(LanSettingsTest, SettersRefuseInvalidValuesAndKeepTheStoredOne) {
  ASSERT_EQ(lan_set_ipaddress("192.168.0.50"), 0);
  EXPECT_EQ(lan_set_ipaddress("192.168.0.500"), -1);
  EXPECT_EQ(File(kLanAddressFile), "192.168.0.50");
  EXPECT_EQ(lan_set_hostname("9lives"), -1);
  EXPECT_EQ(File(kLanHostnameFile), "<missing>");
  EXPECT_EQ(lan_set_servicename("x\"y"), -1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(lan_store_ping(2), -1);
  EXPECT_EQ(lan_set_mdns_enable(3), -1);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("lan_set_ping: invalid parameter"), std::string::npos);
  EXPECT_NE(printed.find("lan_set_mdns_enable: invalid parameter"), std::string::npos);
  EXPECT_EQ(lan_set_mode(0), 0);
  EXPECT_EQ(File(kLanModeFile), "automatic");
  std::string mode;
  Store(kLanModeFile, "sideways");
  EXPECT_EQ(lan_get_mode(&mode), -1);
  EXPECT_EQ(mode, "sideways");

  const uint8_t mac[6] = {0x00, 0x5A, 0x7C, 0x0A, 0x0B, 0xFF};
  ASSERT_EQ(lan_set_stored_mac(mac), 0);
  EXPECT_EQ(File(kLanMacFile), "00.5A.7C.0A.0B.FF");
  uint8_t back[6] = {};
  ASSERT_EQ(lan_get_stored_mac(back), 0);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 6), std::vector<uint8_t>(mac, mac + 6));
}

TEST_F(LanSettingsTest, EnableFlagsAreWrittenWhenMissingAndKeepaliveZeroIsStoredAsMinusOne) {
  EXPECT_TRUE(lan_get_enable());
  EXPECT_EQ(File(kLanEnableFile), "1");
  EXPECT_TRUE(web_get_enable());
  EXPECT_EQ(File(kWebEnableFile), "1");
  EXPECT_TRUE(lan_get_dns_available());
  ASSERT_EQ(lan_set_enable_flag(0), 0);
  EXPECT_FALSE(lan_get_enable());

  ASSERT_EQ(lan_store_keepalive(-1), 0);
  int32_t seconds = 99;
  ASSERT_EQ(lan_get_keepalive(&seconds), 0);
  EXPECT_EQ(seconds, 0);
  Store(kLanKeepaliveFile, "soon");
  EXPECT_EQ(lan_get_keepalive(&seconds), -1);
}

TEST_F(LanSettingsTest, HostNameAndDomainRewriteTheDhcpClientFile) {
  ASSERT_EQ(lan_set_hostname("labswitch"), 0);
  ASSERT_EQ(lan_set_domain("lab.example"), 0);
  EXPECT_EQ(File("/etc/dhclient.conf"),
            "send host-name \"labswitch\";\nsend fqdn.fqdn \"labswitch.lab.example\";\n"
            "send domain-name \"lab.example\";\nsend fqdn.server-update off;\n"
            "send fqdn.encoded off;\nrequest subnet-mask, broadcast-address, routers, "
            "domain-name, domain-name-servers, host-name;\nrequire;\ntimeout 30;\nretry 60;\n"
            "select-timeout 0;\ninitial-interval 2;\nscript \"" +
                root_.path() + "/etc/dhclient-script\";\n");
}

}  // namespace
