// The stored LAN settings and their rules (see lan_settings.h).
#include "lan/lan_settings.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/diag_print.h"
#include "core/stored_file.h"
#include "lan/serial_number.h"
#include "platform/paths.h"

namespace {

constexpr const char* kSource = "_util/lan_utils";
constexpr const char* kDhclientConf = "/etc/dhclient.conf";
constexpr const char* kDhclientScript = "/etc/dhclient-script";

// The file's text without line feeds, or false when it cannot be read.
bool ReadSetting(const char* fixed_path, std::string* value) {
  std::string text;
  if (ReadStoredFile(fixed_path, &text) != StoredFileRead::kRead) return false;
  value->clear();
  for (char c : text) {
    if (c != '\n' && c != '\r') value->push_back(c);
  }
  return true;
}

int StoreSetting(const char* fixed_path, const std::string& value) {
  return ReplaceStoredFile(fixed_path, value) == 0 ? 0 : -1;
}

// A flag file: "1" or "0"; anything else (or nothing) is `fallback`, written back when
// `write_default` asks for it.
bool ReadFlag(const char* fixed_path, bool fallback, bool write_default) {
  std::string value;
  if (ReadSetting(fixed_path, &value) && (value == "1" || value == "0")) return value == "1";
  if (write_default) StoreSetting(fixed_path, fallback ? "1" : "0");
  return fallback;
}

int StoreFlag(const char* fixed_path, int on, const char* refusal) {
  if (on != 0 && on != 1) {
    if (refusal != nullptr) std::printf("%s\n", refusal);
    return -1;
  }
  return StoreSetting(fixed_path, on ? "1" : "0");
}

// A stored value checked by `rule`; an invalid one is reported and gives `fallback`.
std::string CheckedSetting(const char* fixed_path, bool (*rule)(const std::string&),
                           const std::string& fallback) {
  std::string value;
  if (!ReadSetting(fixed_path, &value) || value.empty()) return fallback;
  if (rule(value)) return value;
  diag_error_line(kSource, "lan_settings", __LINE__, "invalid value \"%.64s\" in %s ignored\n",
                  value.c_str(), fixed_path);
  return fallback;
}

bool IsOptionalIpAddress(const std::string& text) { return text.empty() || IsValidIpAddress(text); }
bool AnyText(const std::string& text) {
  return text.size() <= static_cast<size_t>(kLanDescriptionLongest);
}

int ReadMode(const char* fixed_path, std::string* mode) {
  if (!ReadSetting(fixed_path, mode)) return -1;
  return *mode == "automatic" || *mode == "manual" ? 0 : -1;
}

int ReadNumber(const char* fixed_path, int32_t* number) {
  std::string value;
  if (!ReadSetting(fixed_path, &value) || value.empty() || value.size() > 11) return -1;
  char* end = nullptr;
  const long parsed = std::strtol(value.c_str(), &end, 10);
  if (*end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return -1;
  *number = static_cast<int32_t>(parsed);
  return 0;
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsValidIpAddress(const std::string& text) {
  int parts[4];
  char tail = 0;
  if (text.size() > 15 ||
      std::sscanf(text.c_str(), "%d.%d.%d.%d%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4) {
    return false;
  }
  for (int part : parts) {
    if (part < 0 || part > 255) return false;
  }
  char printed[16];
  std::snprintf(printed, sizeof printed, "%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
  return text == printed;
}

bool IsValidHostname(const std::string& text) {
  if (text.empty() || text.size() > static_cast<size_t>(kLanHostnameLongest) || !IsLetter(text[0])) {
    return false;
  }
  for (char c : text) {
    if (!IsLetter(c) && !IsDigit(c) && c != '-') return false;
  }
  return true;
}

bool IsValidDomain(const std::string& text) {
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(kLanDomainLongest) || !IsLetter(text[0])) return false;
  for (char c : text) {
    if (!IsLetter(c) && !IsDigit(c) && c != '-' && c != '.') return false;
  }
  return true;
}

bool IsValidDnsList(const std::string& text) {
  std::string entry;
  for (size_t at = 0; at <= text.size(); ++at) {
    const char c = at < text.size() ? text[at] : ' ';
    if (c == ' ' || c == ',' || c == '\n' || c == '\t') {
      if (!entry.empty() && !IsValidIpAddress(entry)) return false;
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  return true;
}

bool IsValidServiceName(const std::string& text) {
  if (text.size() > static_cast<size_t>(kLanServiceNameLongest)) return false;
  for (char c : text) {
    if (c < ' ' || c > '~' || c == '"' || c == '$' || c == '`' || c == '\\') return false;
  }
  return true;
}

bool lan_get_enable() { return ReadFlag(kLanEnableFile, true, true); }
int lan_set_enable_flag(int on) { return StoreFlag(kLanEnableFile, on, nullptr); }
bool web_get_enable() { return ReadFlag(kWebEnableFile, true, true); }
int web_set_enable_flag(int on) { return StoreFlag(kWebEnableFile, on, nullptr); }
bool lan_get_dns_available() { return ReadFlag(kDnsAvailableFile, true, true); }
int lan_set_dns_available(int on) { return StoreFlag(kDnsAvailableFile, on, nullptr); }
bool lan_get_mdns_enable() { return ReadFlag(kLanMdnsEnableFile, true, true); }
int lan_set_mdns_enable(int on) {
  return StoreFlag(kLanMdnsEnableFile, on, "lan_set_mdns_enable: invalid parameter");
}
int lan_set_mdns_active(int on) {
  return StoreFlag(kLanMdnsActiveFile, on, "lan_set_mdns_active: invalid parameter");
}
int lan_get_mdns_active() {
  std::string value;
  if (!ReadSetting(kLanMdnsActiveFile, &value) || (value != "1" && value != "0")) return -1;
  return value == "1" ? 1 : 0;
}

int lan_get_mode(std::string* mode) { return ReadMode(kLanModeFile, mode); }
int lan_get_current_mode(std::string* mode) { return ReadMode(kLanCurrentModeFile, mode); }
int lan_set_mode(int manual) {
  if (manual != 0 && manual != 1) return -1;
  return StoreSetting(kLanModeFile, manual ? "manual" : "automatic");
}
int lan_set_current_mode(int manual) {
  if (manual != 0 && manual != 1) return -1;
  return StoreSetting(kLanCurrentModeFile, manual ? "manual" : "automatic");
}

std::string lan_get_ipaddress() { return CheckedSetting(kLanAddressFile, IsValidIpAddress, ""); }
std::string lan_get_subnetmask() { return CheckedSetting(kLanMaskFile, IsValidIpAddress, ""); }
std::string lan_get_gateway() { return CheckedSetting(kLanGatewayFile, IsValidIpAddress, ""); }
std::string lan_get_dns() { return CheckedSetting(kLanDnsFile, IsValidDnsList, ""); }
std::string lan_get_hostname() {
  return CheckedSetting(kLanHostnameFile, IsValidHostname, "C-4410X-" + SerialForNames());
}
std::string lan_get_resolved_hostname() {
  return CheckedSetting(kLanResolvedHostnameFile, IsValidHostname, "");
}
std::string lan_get_domain() { return CheckedSetting(kLanDomainFile, IsValidDomain, ""); }
std::string lan_get_description() {
  return CheckedSetting(kLanDescriptionFile, AnyText,
                        "Corvane Switch System 4410X - " + GetSerialNumber());
}
std::string lan_get_servicename() {
  return CheckedSetting(kLanServiceNameFile, IsValidServiceName,
                        "Corvane Switch System 4410X - " + SerialForNames());
}
std::string lan_get_resolved_servicename() {
  return CheckedSetting(kLanResolvedServiceNameFile, IsValidServiceName, lan_get_servicename());
}

int lan_get_ping(int* on) {
  int32_t value = 0;
  if (ReadNumber(kLanPingFile, &value) != 0 || (value != 0 && value != 1)) return -1;
  *on = value;
  return 0;
}
int lan_get_keepalive(int32_t* seconds) {
  int32_t value = 0;
  if (ReadNumber(kLanKeepaliveFile, &value) != 0) return -1;
  *seconds = value == -1 ? 0 : value;
  return 0;
}
int lan_get_preserveconn(int* on) {
  int32_t value = 0;
  if (ReadNumber(kLanPreserveConnFile, &value) != 0 || (value != 0 && value != 1)) return -1;
  *on = value;
  return 0;
}

int lan_set_ipaddress(const std::string& text) {
  return IsOptionalIpAddress(text) ? StoreSetting(kLanAddressFile, text) : -1;
}
int lan_set_subnetmask(const std::string& text) {
  return IsOptionalIpAddress(text) ? StoreSetting(kLanMaskFile, text) : -1;
}
int lan_set_gateway(const std::string& text) {
  return IsOptionalIpAddress(text) ? StoreSetting(kLanGatewayFile, text) : -1;
}
int lan_set_dns(const std::string& text) {
  return IsValidDnsList(text) ? StoreSetting(kLanDnsFile, text) : -1;
}
int lan_set_hostname(const std::string& text) {
  if (!text.empty() && !IsValidHostname(text)) return -1;
  const int result = StoreSetting(kLanHostnameFile, text);
  WriteDhcpClientConfig();
  return result;
}
int lan_set_resolved_hostname(const std::string& text) {
  if (!text.empty() && !IsValidHostname(text)) return -1;
  const int result = StoreSetting(kLanResolvedHostnameFile, text);
  WriteDhcpClientConfig();
  return result;
}
int lan_set_domain(const std::string& text) {
  if (!IsValidDomain(text)) return -1;
  const int result = StoreSetting(kLanDomainFile, text);
  WriteDhcpClientConfig();
  return result;
}
int lan_set_description(const std::string& text) {
  return AnyText(text) ? StoreSetting(kLanDescriptionFile, text) : -1;
}
int lan_set_servicename(const std::string& text) {
  return IsValidServiceName(text) ? StoreSetting(kLanServiceNameFile, text) : -1;
}
int lan_set_resolved_servicename(const std::string& text) {
  return IsValidServiceName(text) ? StoreSetting(kLanResolvedServiceNameFile, text) : -1;
}
int lan_store_ping(int on) {
  if (on != 0 && on != 1) {
    std::printf("lan_set_ping: invalid parameter\n");
    return -1;
  }
  return StoreSetting(kLanPingFile, std::to_string(on));
}
int lan_store_keepalive(int32_t seconds) { return StoreSetting(kLanKeepaliveFile, std::to_string(seconds)); }
int lan_set_preserveconn(int on) { return StoreFlag(kLanPreserveConnFile, on, nullptr); }

int lan_get_stored_mac(uint8_t mac[6]) {
  std::string text;
  unsigned fields[6];
  char tail = 0;
  if (!ReadSetting(kLanMacFile, &text) ||
      std::sscanf(text.c_str(), "%X.%X.%X.%X.%X.%X%c", &fields[0], &fields[1], &fields[2],
                  &fields[3], &fields[4], &fields[5], &tail) != 6) {
    return -1;
  }
  for (int i = 0; i < 6; ++i) {
    if (fields[i] > 0xFF) return -1;
    mac[i] = static_cast<uint8_t>(fields[i]);
  }
  return 0;
}

int lan_set_stored_mac(const uint8_t mac[6]) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X.%02X.%02X.%02X.%02X.%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return StoreSetting(kLanMacFile, text);
}

int WriteDhcpClientConfig() {
  const std::string host = lan_get_hostname();
  const std::string domain = lan_get_domain();
  const std::string text = "send host-name \"" + host + "\";\nsend fqdn.fqdn \"" + host + "." +
                           domain + "\";\nsend domain-name \"" + domain +
                           "\";\nsend fqdn.server-update off;\nsend fqdn.encoded off;\n"
                           "request subnet-mask, broadcast-address, routers, domain-name, "
                           "domain-name-servers, host-name;\nrequire;\ntimeout 30;\nretry 60;\n"
                           "select-timeout 0;\ninitial-interval 2;\nscript \"" +
                           platform::ResolvePath(kDhclientScript) + "\";\n";
  return ReplaceStoredFile(kDhclientConf, text) == 0 ? 0 : -1;
}
