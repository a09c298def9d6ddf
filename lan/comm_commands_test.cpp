// Tests of the SYSTem:COMMunicate handlers, called as the engine calls them: their
// refusals, what they store and what the queries answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lan/lan_handlers.h"
#include "lan/lan_settings.h"
#include "lan/lan_test_support.h"
#include "scpi/command_context_test_support.h"
#include "scpi/scpi_engine.h"

namespace {

using Handler = int32_t (*)(CommandContext*);

class CommCommandsTest : public LanTest {
 protected:
  // Validation, then execution when it passed: the first failure, and the reply.
  int32_t Run(const std::vector<std::string>& parameters, Handler validate, Handler execute,
              std::string* reply = nullptr) {
    TestCommand command(parameters);
    int32_t code = validate(&command.context);
    if (code == 0) code = execute(&command.context);
    if (reply != nullptr) *reply = command.reply();
    return code;
  }
  int32_t Validate(const std::vector<std::string>& parameters, Handler validate) {
    TestCommand command(parameters);
    return validate(&command.context);
  }
  std::string Query(Handler validate, Handler execute) {
    std::string reply;
    EXPECT_EQ(Run({}, validate, execute, &reply), 0);
    return reply;
  }
};

#define HANDLERS(NAME) NAME##_DoContextValidation, NAME##_DoExecutionConclusion

TEST_F(CommCommandsTest, EnableTakesAStateAndOneOfFourInterfaces) {
  EXPECT_EQ(Validate({"ON"}, SYST_COMM_ENABLE_DoContextValidation), -109);
  EXPECT_EQ(Validate({"ON", "LAN", "X"}, SYST_COMM_ENABLE_DoContextValidation), -108);
  EXPECT_EQ(Validate({"ON", "SERIAL"}, SYST_COMM_ENABLE_DoContextValidation), -224);
  EXPECT_EQ(Validate({"2", "LAN"}, SYST_COMM_ENABLE_DoContextValidation), -224);
  for (const char* state : {"ON", "OFF", "1", "0"}) {
    EXPECT_EQ(Validate({state, "WEB"}, SYST_COMM_ENABLE_DoContextValidation), 0) << state;
  }
  EXPECT_EQ(Validate({"FOO"}, SYST_COMM_ENABLEQuery_DoContextValidation), -224);
  EXPECT_EQ(Validate({}, SYST_COMM_ENABLEQuery_DoContextValidation), -109);
  ASSERT_EQ(lan_set_enable_flag(0), 0);
  std::string reply;
  ASSERT_EQ(Run({"LAN"}, HANDLERS(SYST_COMM_ENABLEQuery), &reply), 0);
  EXPECT_EQ(reply, "0");
  ASSERT_EQ(Run({"WEB"}, HANDLERS(SYST_COMM_ENABLEQuery), &reply), 0);
  EXPECT_EQ(reply, "1") << "a missing web setting counts as enabled";
}

TEST_F(CommCommandsTest, ManualSettingsAreValidatedAndStored) {
  EXPECT_EQ(Validate({"192.168.0.256"}, SYST_COMM_LAN_MANUAL_IPADDRESS_DoContextValidation), -224);
  EXPECT_EQ(Validate({"192.168.000.5"}, SYST_COMM_LAN_MANUAL_IPADDRESS_DoContextValidation), -224);
  EXPECT_EQ(Validate({"NONE"}, SYST_COMM_LAN_MANUAL_IPADDRESS_DoContextValidation), -224);
  ASSERT_EQ(Run({"192.168.0.50"}, HANDLERS(SYST_COMM_LAN_MANUAL_IPADDRESS)), 0);
  EXPECT_EQ(File(kLanAddressFile), "192.168.0.50");
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_MANUAL_IPADDRESSQuery)), "192.168.0.50");
  ASSERT_EQ(Run({"'255.255.255.0'"}, HANDLERS(SYST_COMM_LAN_MANUAL_SMASK)), 0);
  EXPECT_EQ(File(kLanMaskFile), "255.255.255.0");

  EXPECT_EQ(Validate({}, SYST_COMM_LAN_MANUAL_DNS_DoContextValidation), -109);
  EXPECT_EQ(Validate({"1.1.1.1", "2.2.2.2", "3.3.3.3", "4.4.4.4"},
                     SYST_COMM_LAN_MANUAL_DNS_DoContextValidation),
            -108);
  EXPECT_EQ(Validate({"1.1.1.1", "NONE"}, SYST_COMM_LAN_MANUAL_DNS_DoContextValidation), -224);
  ASSERT_EQ(Run({"1.1.1.1", "8.8.8.8"}, HANDLERS(SYST_COMM_LAN_MANUAL_DNS)), 0);
  EXPECT_EQ(File(kLanDnsFile), "1.1.1.1,8.8.8.8");
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_MANUAL_DNSQuery)), "1.1.1.1,8.8.8.8");
  ASSERT_EQ(Run({"NONE"}, HANDLERS(SYST_COMM_LAN_MANUAL_DNS)), 0);
  EXPECT_EQ(File(kLanDnsFile), "");
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_MANUAL_DNSQuery)), "NONE");

  ASSERT_EQ(Run({"10.0.0.1"}, HANDLERS(SYST_COMM_LAN_MANUAL_GATEWAY)), 0);
  ASSERT_EQ(Run({"NONE"}, HANDLERS(SYST_COMM_LAN_MANUAL_GATEWAY)), 0);
  EXPECT_EQ(File(kLanGatewayFile), "");
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_MANUAL_GATEWAYQuery)), "NONE");

  EXPECT_EQ(Validate({"SIDEWAYS"}, SYST_COMM_LAN_MODE_DoContextValidation), -224);
  ASSERT_EQ(Run({"MAN"}, HANDLERS(SYST_COMM_LAN_MODE)), 0);
  EXPECT_EQ(File(kLanModeFile), "manual");
  ASSERT_EQ(Run({"AUTO"}, HANDLERS(SYST_COMM_LAN_MODE)), 0);
  EXPECT_EQ(File(kLanModeFile), "automatic");
  std::string reply;
  EXPECT_EQ(Run({}, HANDLERS(SYST_COMM_LAN_MODEQuery), &reply), -301) << "no mode in effect yet";
  ASSERT_EQ(lan_set_current_mode(1), 0);
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_MODEQuery)), "MAN");
}

TEST_F(CommCommandsTest, NamesMustBeQuotedAndFollowTheirRules) {
  EXPECT_EQ(Validate({"labswitch"}, SYST_COMM_LAN_HOSTNAME_DoContextValidation), -151);
  EXPECT_EQ(Validate({"'1lab'"}, SYST_COMM_LAN_HOSTNAME_DoContextValidation), -224);
  EXPECT_EQ(Validate({"'" + std::string(33, 'a') + "'"}, SYST_COMM_LAN_HOSTNAME_DoContextValidation),
            -150);
  ASSERT_EQ(Run({"'LabSwitch'"}, HANDLERS(SYST_COMM_LAN_HOSTNAME)), 0);
  EXPECT_EQ(File(kLanHostnameFile), "LabSwitch");
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_HOSTNAMEQuery)), "LabSwitch");
  ASSERT_EQ(Run({"''"}, HANDLERS(SYST_COMM_LAN_HOSTNAME)), 0);
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_HOSTNAMEQuery)), "C-4410X-SN12345");

  EXPECT_EQ(Validate({"'lab;reboot'"}, SYST_COMM_LAN_DOMAIN_DoContextValidation), -224);
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_DOMAINQuery)), "NONE");
  ASSERT_EQ(Run({"\"lab.example\""}, HANDLERS(SYST_COMM_LAN_DOMAIN)), 0);
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_DOMAINQuery)), "lab.example");

  // Description and service name answer as strings, quotes doubled both ways.
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_SERVICEQuery)), "\"Corvane Switch System 4410X - SN12345\"");
  EXPECT_EQ(Validate({"'a$b'"}, SYST_COMM_LAN_SERVICE_DoContextValidation), -224);
  EXPECT_EQ(Validate({"bench"}, SYST_COMM_LAN_SERVICE_DoContextValidation), -151);
  ASSERT_EQ(Run({"'Bench 3'"}, HANDLERS(SYST_COMM_LAN_SERVICE)), 0);
  EXPECT_EQ(File(kLanServiceNameFile), "Bench 3");
  ASSERT_EQ(Run({"\"Rack \"\"B\"\", shelf 2\""}, HANDLERS(SYST_COMM_LAN_DESCRIPTION)), 0);
  EXPECT_EQ(File(kLanDescriptionFile), "Rack \"B\", shelf 2");
  EXPECT_EQ(File("/etc/sysinfo/description"), "Rack \"B\", shelf 2");
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_DESCRIPTIONQuery)), "\"Rack \"\"B\"\", shelf 2\"");
  EXPECT_EQ(Validate({"'" + std::string(256, 'd') + "'"}, SYST_COMM_LAN_DESCRIPTION_DoContextValidation),
            -224);
}

TEST_F(CommCommandsTest, KeepaliveTakesItsRangeOrItsKeywords) {
  EXPECT_EQ(Validate({"119"}, SYST_COMM_LAN_KEEPALIVE_DoContextValidation), -222);
  EXPECT_EQ(Validate({"3601"}, SYST_COMM_LAN_KEEPALIVE_DoContextValidation), -222);
  const struct {
    const char* parameter;
    const char* stored;
  } rows[] = {{"MIN", "120"}, {"MAXIMUM", "3600"}, {"DEF", "3600"}, {"600", "600"}};
  for (const auto& row : rows) {
    ASSERT_EQ(Run({row.parameter}, HANDLERS(SYST_COMM_LAN_KEEPALIVE)), 0) << row.parameter;
    EXPECT_EQ(File(kLanKeepaliveFile), row.stored) << row.parameter;
  }
  EXPECT_EQ(Query(HANDLERS(SYST_COMM_LAN_KEEPALIVEQuery)), "600");
  EXPECT_EQ(Validate({"31"}, SYST_COMM_GPIB_ADDRESS_DoContextValidation), -222);
  EXPECT_EQ(Validate({"30"}, SYST_COMM_GPIB_ADDRESS_DoContextValidation), 0);
}

}  // namespace
