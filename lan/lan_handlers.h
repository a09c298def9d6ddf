// Handlers of the SYSTem:COMMunicate commands: the interfaces' enables, the GPIB
// address and the LAN configuration. The command table builds their records.
#pragma once

#include <cstdint>

#include "scpi/command_handlers.h"

struct CommandContext;


COMMAND_HANDLERS(SYST_COMM_ENABLE);                  // SYSTem:COMMunicate:ENABle <state>,<interface>
COMMAND_HANDLERS(SYST_COMM_ENABLEQuery);             // SYSTem:COMMunicate:ENABle? <interface>
COMMAND_HANDLERS(SYST_COMM_GPIB_ADDRESS);            // SYSTem:COMMunicate:GPIB:ADDRess <0..30>
COMMAND_HANDLERS(SYST_COMM_GPIB_ADDRESSQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_DESCRIPTION);         // <string>: the instrument's description
COMMAND_HANDLERS(SYST_COMM_LAN_DESCRIPTIONQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_DNSQuery);            // the name servers in effect
COMMAND_HANDLERS(SYST_COMM_LAN_DOMAIN);              // <quoted domain>
COMMAND_HANDLERS(SYST_COMM_LAN_DOMAINQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_GATEWAYQuery);        // the gateway in effect
COMMAND_HANDLERS(SYST_COMM_LAN_HOSTNAME);            // <quoted host name>
COMMAND_HANDLERS(SYST_COMM_LAN_HOSTNAMEQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_IDENTIFY);            // <boolean>: the LAN indicator blinks
COMMAND_HANDLERS(SYST_COMM_LAN_IDENTIFYQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_IPADDRESSQuery);      // the address in effect
COMMAND_HANDLERS(SYST_COMM_LAN_KEEPALIVE);           // <120..3600>|MIN|MAX|DEF
COMMAND_HANDLERS(SYST_COMM_LAN_KEEPALIVEQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_MACQuery);            // the MAC address in effect
COMMAND_HANDLERS(SYST_COMM_LAN_MODE);                // AUTO|MANual
COMMAND_HANDLERS(SYST_COMM_LAN_MODEQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_PING);                // <boolean>
COMMAND_HANDLERS(SYST_COMM_LAN_PINGQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_SERVICE);             // <quoted mDNS service name>
COMMAND_HANDLERS(SYST_COMM_LAN_SERVICEQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_SMASKQuery);          // the net mask in effect
COMMAND_HANDLERS(SYST_COMM_LAN_RESET);               // the whole LAN start-up again
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_DNS);          // <address>[,<address>[,<address>]]|NONE
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_DNSQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_GATEWAY);      // <address>|NONE
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_GATEWAYQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_IPADDRESS);    // <address>
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_IPADDRESSQuery);
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_SMASK);        // <address>
COMMAND_HANDLERS(SYST_COMM_LAN_MANUAL_SMASKQuery);

