// Handlers of the SYSTem:COMMunicate commands: the interfaces' enables, the GPIB
// address and the LAN configuration. The command table builds their records.
#pragma once

#include <cstdint>

struct CommandContext;

#define LAN_HANDLER(NAME)                                           \
  int32_t NAME##_DoContextValidation(CommandContext* context);      \
  int32_t NAME##_DoExecutionConclusion(CommandContext* context)

LAN_HANDLER(SYST_COMM_ENABLE);                  // SYSTem:COMMunicate:ENABle <state>,<interface>
LAN_HANDLER(SYST_COMM_ENABLEQuery);             // SYSTem:COMMunicate:ENABle? <interface>
LAN_HANDLER(SYST_COMM_GPIB_ADDRESS);            // SYSTem:COMMunicate:GPIB:ADDRess <0..30>
LAN_HANDLER(SYST_COMM_GPIB_ADDRESSQuery);
LAN_HANDLER(SYST_COMM_LAN_DNSQuery);            // the name servers in effect
LAN_HANDLER(SYST_COMM_LAN_DOMAIN);              // <quoted domain>
LAN_HANDLER(SYST_COMM_LAN_DOMAINQuery);
LAN_HANDLER(SYST_COMM_LAN_GATEWAYQuery);        // the gateway in effect
LAN_HANDLER(SYST_COMM_LAN_HOSTNAME);            // <quoted host name>
LAN_HANDLER(SYST_COMM_LAN_HOSTNAMEQuery);
LAN_HANDLER(SYST_COMM_LAN_IPADDRESSQuery);      // the address in effect
LAN_HANDLER(SYST_COMM_LAN_KEEPALIVE);           // <120..3600>|MIN|MAX|DEF
LAN_HANDLER(SYST_COMM_LAN_KEEPALIVEQuery);
LAN_HANDLER(SYST_COMM_LAN_MACQuery);            // the MAC address in effect
LAN_HANDLER(SYST_COMM_LAN_MODE);                // AUTO|MANual
LAN_HANDLER(SYST_COMM_LAN_MODEQuery);
LAN_HANDLER(SYST_COMM_LAN_PING);                // <boolean>
LAN_HANDLER(SYST_COMM_LAN_PINGQuery);
LAN_HANDLER(SYST_COMM_LAN_SMASKQuery);          // the net mask in effect
LAN_HANDLER(SYST_COMM_LAN_RESET);               // the whole LAN start-up again
LAN_HANDLER(SYST_COMM_LAN_MANUAL_DNS);          // <address>[,<address>[,<address>]]|NONE
LAN_HANDLER(SYST_COMM_LAN_MANUAL_DNSQuery);
LAN_HANDLER(SYST_COMM_LAN_MANUAL_GATEWAY);      // <address>|NONE
LAN_HANDLER(SYST_COMM_LAN_MANUAL_GATEWAYQuery);
LAN_HANDLER(SYST_COMM_LAN_MANUAL_IPADDRESS);    // <address>
LAN_HANDLER(SYST_COMM_LAN_MANUAL_IPADDRESSQuery);
LAN_HANDLER(SYST_COMM_LAN_MANUAL_SMASK);        // <address>
LAN_HANDLER(SYST_COMM_LAN_MANUAL_SMASKQuery);

#undef LAN_HANDLER
