// SYSTem:COMMunicate: the interfaces' enables, the GPIB address, and the LAN settings.
// The MANual values and the MODE are only stored; they take effect when the LAN is next
// brought up (LAN:RESet, a LAN enable, start-up or the front-panel reset).
#include <cstring>
#include <string>

#include "core/gpibdev_utils.h"
#include "lan/lan_config.h"
#include "lan/identity.h"
#include "lan/lan_handlers.h"
#include "lan/lan_settings.h"
#include "lan/usb_device.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "scpi/scpi_engine.h"
#include "scpi/scpi_params.h"

namespace {

constexpr const char* kNone = "NONE";
constexpr int32_t kShortestKeepalive = 120;
constexpr int32_t kLongestKeepalive = 3600;
constexpr int kMostDnsServers = 3;

enum Interface : int32_t { kGpib, kUsb, kLan, kWeb };
constexpr KeywordValue kInterfaces[] = {
    {"GPIB", kGpib}, {"USB", kUsb}, {"LAN", kLan}, {"WEB", kWeb}, {nullptr, 0}};
constexpr KeywordValue kStates[] = {{"ON", 1}, {"OFF", 0}, {"1", 1}, {"0", 0}, {nullptr, 0}};
constexpr KeywordValue kModes[] = {{"AUTO", 0}, {"MANUAL", 1}, {"MAN", 1}, {nullptr, 0}};

int32_t Reply(const std::string& text, CommandContext* context) {
  return AppendToReply(text.c_str(), text.size(), ',', context);
}
int32_t ReplyOrNone(const std::string& text, CommandContext* context) {
  return Reply(text.empty() ? kNone : text, context);
}
int32_t Stored(int result) { return result == 0 ? 0 : err::kSystemError; }

// The text of a parameter without its matching quotes.
std::string Unquoted(const char* text) {
  const size_t length = std::strlen(text);
  if (length >= 2 && (text[0] == '\'' || text[0] == '"') && text[length - 1] == text[0]) {
    return std::string(text + 1, length - 2);
  }
  return text;
}

// A quoted name of at most `longest` characters that is empty or follows `rule`.
int32_t ValidateQuotedName(CommandContext* context, size_t longest, bool (*rule)(const std::string&)) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0) code = CheckQuotedString(context->parameters[0], 0, longest);
  if (code == 0) {
    const std::string name = Unquoted(context->parameters[0]);
    if (!name.empty() && !rule(name)) code = err::kIllegalParameterValue;
  }
  return ConcludeValidation(context, code);
}

// One address, or "NONE" where `none_allowed`.
int32_t ValidateAddress(CommandContext* context, bool none_allowed) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0) {
    const std::string text = Unquoted(context->parameters[0]);
    if (!(none_allowed && text == kNone) && !IsValidIpAddress(text)) code = err::kIllegalParameterValue;
  }
  return ConcludeValidation(context, code);
}
std::string AddressParameter(const CommandContext* context) {
  const std::string text = Unquoted(context->parameters[0]);
  return text == kNone ? std::string() : text;
}

int32_t KeepaliveParameter(const char* text, int32_t* seconds) {
  if (ParseKeywordLimit(text, kShortestKeepalive, kDefaultKeepalive, kLongestKeepalive, seconds) == 0) {
    return 0;
  }
  return ParseInteger(text, kShortestKeepalive, kLongestKeepalive, seconds);
}

bool InterfaceEnabled(int32_t interface) {
  switch (interface) {
    case kGpib:
      return IsGPIBEnabled() != 0;
    case kUsb:
      return UsbDevEnabled() == 1;
    case kLan:
      return lan_get_enable();
    default:
      return web_get_enable();
  }
}

}  // namespace

int32_t SYST_COMM_ENABLE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 2, 2);
  if (code == 0 && (LookupKeywordValue(kStates, context->parameters[0]) < 0 ||
                    LookupKeywordValue(kInterfaces, context->parameters[1]) < 0)) {
    code = err::kIllegalParameterValue;
  }
  return ConcludeValidation(context, code);
}
int32_t SYST_COMM_ENABLE_DoExecutionConclusion(CommandContext* context) {
  const int32_t on = LookupKeywordValue(kStates, context->parameters[0]);
  if (on < 0) return err::kSystemError;
  int result = 0;
  switch (LookupKeywordValue(kInterfaces, context->parameters[1])) {
    case kGpib:
      result = EnableGPIB(on);
      break;
    case kUsb:
      result = on ? UsbDevEnable() : UsbDevDisable();
      break;
    case kLan:
      result = LanEnable(on);
      break;
    default:
      result = WebEnable(on);
      break;
  }
  return Stored(result);
}

int32_t SYST_COMM_ENABLEQuery_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0 && LookupKeywordValue(kInterfaces, context->parameters[0]) < 0) {
    code = err::kIllegalParameterValue;
  }
  return ConcludeValidation(context, code);
}
int32_t SYST_COMM_ENABLEQuery_DoExecutionConclusion(CommandContext* context) {
  return Reply(InterfaceEnabled(LookupKeywordValue(kInterfaces, context->parameters[0])) ? "1" : "0",
               context);
}

int32_t SYST_COMM_GPIB_ADDRESS_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 0, 30);
}
int32_t SYST_COMM_GPIB_ADDRESS_DoExecutionConclusion(CommandContext* context) {
  int32_t address = 0;
  ParseInteger(context->parameters[0], 0, 30, &address);
  return Stored(SetGPIBPrimaryAddress(address));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_GPIB_ADDRESSQuery)
int32_t SYST_COMM_GPIB_ADDRESSQuery_DoExecutionConclusion(CommandContext* context) {
  const int address = GetGPIBPrimaryAddress();
  return address < 0 ? err::kSystemError : Reply(std::to_string(address), context);
}

NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_DNSQuery)
int32_t SYST_COMM_LAN_DNSQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyOrNone(lan_get_live_dns(), context);
}

int32_t SYST_COMM_LAN_DOMAIN_DoContextValidation(CommandContext* context) {
  return ValidateQuotedName(context, kLanDomainLongest, IsValidDomain);
}
int32_t SYST_COMM_LAN_DOMAIN_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_domain(Unquoted(context->parameters[0])));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_DOMAINQuery)
int32_t SYST_COMM_LAN_DOMAINQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyOrNone(lan_get_domain(), context);
}

NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_GATEWAYQuery)
int32_t SYST_COMM_LAN_GATEWAYQuery_DoExecutionConclusion(CommandContext* context) {
  std::string gateway;
  lan_get_live_gateway(&gateway);
  return ReplyOrNone(gateway, context);
}

int32_t SYST_COMM_LAN_HOSTNAME_DoContextValidation(CommandContext* context) {
  return ValidateQuotedName(context, kLanHostnameLongest, IsValidHostname);
}
int32_t SYST_COMM_LAN_HOSTNAME_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_hostname(Unquoted(context->parameters[0])));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_HOSTNAMEQuery)
int32_t SYST_COMM_LAN_HOSTNAMEQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyOrNone(lan_get_hostname(), context);
}

NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_IPADDRESSQuery)
int32_t SYST_COMM_LAN_IPADDRESSQuery_DoExecutionConclusion(CommandContext* context) {
  std::string address;
  if (lan_get_live_address(&address) != 0) return err::kSystemError;
  return Reply(address, context);
}

int32_t SYST_COMM_LAN_KEEPALIVE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, 1);
  int32_t seconds = 0;
  if (code == 0) code = KeepaliveParameter(context->parameters[0], &seconds);
  return ConcludeValidation(context, code);
}
int32_t SYST_COMM_LAN_KEEPALIVE_DoExecutionConclusion(CommandContext* context) {
  int32_t seconds = 0;
  KeepaliveParameter(context->parameters[0], &seconds);
  return Stored(lan_set_keepalive(seconds));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_KEEPALIVEQuery)
int32_t SYST_COMM_LAN_KEEPALIVEQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t seconds = 0;
  if (lan_get_keepalive(&seconds) != 0) return err::kSystemError;
  return Reply(std::to_string(seconds), context);
}

NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_MACQuery)
int32_t SYST_COMM_LAN_MACQuery_DoExecutionConclusion(CommandContext* context) {
  std::string mac;
  if (lan_get_live_mac(&mac) != 0) return err::kSystemError;
  return Reply(mac, context);
}

int32_t SYST_COMM_LAN_MODE_DoContextValidation(CommandContext* context) {
  return ValidateKeyword(context, kModes);
}
int32_t SYST_COMM_LAN_MODE_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_mode(LookupKeywordValue(kModes, context->parameters[0])));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_MODEQuery)
int32_t SYST_COMM_LAN_MODEQuery_DoExecutionConclusion(CommandContext* context) {
  std::string mode;
  if (lan_get_current_mode(&mode) != 0) return err::kSystemError;
  return Reply(mode == "automatic" ? "AUTO" : "MAN", context);
}

// A string parameter's text: its quotes removed and each doubled quote made single.
std::string StringParameter(const char* text) {
  const char quote = text[0];
  std::string value = Unquoted(text);
  if (quote != '"' && quote != '\'') return value;
  const std::string doubled(2, quote);
  for (size_t at = 0; (at = value.find(doubled, at)) != std::string::npos; ++at) value.erase(at, 1);
  return value;
}
// A string reply: the text in double quotes, each quote in it doubled.
int32_t StringReply(const std::string& text, CommandContext* context) {
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return Reply(quoted + "\"", context);
}

int32_t SYST_COMM_LAN_DESCRIPTION_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0) code = CheckQuotedString(context->parameters[0], 0, 2 * kLanDescriptionLongest);
  if (code == 0 && StringParameter(context->parameters[0]).size() > kLanDescriptionLongest) {
    code = err::kIllegalParameterValue;
  }
  return ConcludeValidation(context, code);
}
int32_t SYST_COMM_LAN_DESCRIPTION_DoExecutionConclusion(CommandContext* context) {
  const std::string text = StringParameter(context->parameters[0]);
  if (lan_set_description(text) != 0) return err::kIllegalParameterValue;
  WriteSysInfoFile("description", lan_get_description());
  return 0;
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_DESCRIPTIONQuery)
int32_t SYST_COMM_LAN_DESCRIPTIONQuery_DoExecutionConclusion(CommandContext* context) {
  return StringReply(lan_get_description(), context);
}

int32_t SYST_COMM_LAN_IDENTIFY_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t SYST_COMM_LAN_IDENTIFY_DoExecutionConclusion(CommandContext* context) {
  return Stored(SetIdentify(BooleanParameter(context)));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_IDENTIFYQuery)
int32_t SYST_COMM_LAN_IDENTIFYQuery_DoExecutionConclusion(CommandContext* context) {
  return Reply(GetIdentify() ? "1" : "0", context);
}

int32_t SYST_COMM_LAN_PING_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t SYST_COMM_LAN_PING_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_ping(BooleanParameter(context) ? 1 : 0));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_PINGQuery)
int32_t SYST_COMM_LAN_PINGQuery_DoExecutionConclusion(CommandContext* context) {
  int on = 0;
  if (lan_get_ping(&on) != 0) return err::kSystemError;
  return Reply(on ? "1" : "0", context);
}

// The mDNS service name: stored, and published from the next start of the discovery
// service (a LAN reset or a restart), as a new host name is.
int32_t SYST_COMM_LAN_SERVICE_DoContextValidation(CommandContext* context) {
  return ValidateQuotedName(context, kLanServiceNameLongest, IsValidServiceName);
}
int32_t SYST_COMM_LAN_SERVICE_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_servicename(Unquoted(context->parameters[0])));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_SERVICEQuery)
int32_t SYST_COMM_LAN_SERVICEQuery_DoExecutionConclusion(CommandContext* context) {
  return StringReply(lan_get_servicename(), context);
}

NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_SMASKQuery)
int32_t SYST_COMM_LAN_SMASKQuery_DoExecutionConclusion(CommandContext* context) {
  std::string mask;
  lan_get_live_netmask(&mask);
  return ReplyOrNone(mask, context);
}

NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_RESET)
int32_t SYST_COMM_LAN_RESET_DoExecutionConclusion(CommandContext*) {
  InitLanOnBootup(0);
  return 0;
}

int32_t SYST_COMM_LAN_MANUAL_DNS_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, kMostDnsServers);
  for (int32_t i = 0; code == 0 && i < context->parameter_count; ++i) {
    const std::string text = Unquoted(context->parameters[i]);
    const bool alone_none = text == kNone && context->parameter_count == 1;
    if (!alone_none && !IsValidIpAddress(text)) code = err::kIllegalParameterValue;
  }
  return ConcludeValidation(context, code);
}
int32_t SYST_COMM_LAN_MANUAL_DNS_DoExecutionConclusion(CommandContext* context) {
  std::string list;
  for (int32_t i = 0; i < context->parameter_count; ++i) {
    const std::string text = Unquoted(context->parameters[i]);
    if (text == kNone) break;
    list += (list.empty() ? "" : ",") + text;
  }
  return Stored(lan_set_dns(list));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_MANUAL_DNSQuery)
int32_t SYST_COMM_LAN_MANUAL_DNSQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyOrNone(lan_get_dns(), context);
}

int32_t SYST_COMM_LAN_MANUAL_GATEWAY_DoContextValidation(CommandContext* context) {
  return ValidateAddress(context, true);
}
int32_t SYST_COMM_LAN_MANUAL_GATEWAY_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_gateway(AddressParameter(context)));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_MANUAL_GATEWAYQuery)
int32_t SYST_COMM_LAN_MANUAL_GATEWAYQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyOrNone(lan_get_gateway(), context);
}

int32_t SYST_COMM_LAN_MANUAL_IPADDRESS_DoContextValidation(CommandContext* context) {
  return ValidateAddress(context, false);
}
int32_t SYST_COMM_LAN_MANUAL_IPADDRESS_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_ipaddress(AddressParameter(context)));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_MANUAL_IPADDRESSQuery)
int32_t SYST_COMM_LAN_MANUAL_IPADDRESSQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyOrNone(lan_get_ipaddress(), context);
}

int32_t SYST_COMM_LAN_MANUAL_SMASK_DoContextValidation(CommandContext* context) {
  return ValidateAddress(context, false);
}
int32_t SYST_COMM_LAN_MANUAL_SMASK_DoExecutionConclusion(CommandContext* context) {
  return Stored(lan_set_subnetmask(AddressParameter(context)));
}
NO_PARAMETERS_VALIDATION(SYST_COMM_LAN_MANUAL_SMASKQuery)
int32_t SYST_COMM_LAN_MANUAL_SMASKQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyOrNone(lan_get_subnetmask(), context);
}
