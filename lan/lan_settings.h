// The stored LAN settings: one value per file under "/mnt/nonv/config/lan" and
// "/mnt/nonv/config/comm", written whole and read back with their line feeds removed.
//
// Every value read is checked against its rule before anything uses it, and values that
// go into command texts (addresses, host name, domain, service name) can only pass when
// they cannot change the command's meaning: an invalid stored value falls back to its
// default with a diagnostic line. Setters refuse an invalid value with -1 and leave the
// stored one as it was.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kLanEnableFile = "/mnt/nonv/config/comm/lan/enable";
inline constexpr const char* kWebEnableFile = "/mnt/nonv/config/comm/web/enable";
inline constexpr const char* kDnsAvailableFile = "/mnt/nonv/config/comm/lan/dns_server_available";
inline constexpr const char* kLanModeFile = "/mnt/nonv/config/lan/mode";
inline constexpr const char* kLanCurrentModeFile = "/mnt/nonv/config/lan/currentmode";
inline constexpr const char* kLanAddressFile = "/mnt/nonv/config/lan/ipaddress";
inline constexpr const char* kLanMaskFile = "/mnt/nonv/config/lan/subnetmask";
inline constexpr const char* kLanGatewayFile = "/mnt/nonv/config/lan/gateway";
inline constexpr const char* kLanDnsFile = "/mnt/nonv/config/lan/dns";
inline constexpr const char* kLanHostnameFile = "/mnt/nonv/config/lan/hostname";
inline constexpr const char* kLanResolvedHostnameFile = "/mnt/nonv/config/lan/resolvedhostname";
inline constexpr const char* kLanDomainFile = "/mnt/nonv/config/lan/domain";
inline constexpr const char* kLanDescriptionFile = "/mnt/nonv/config/lan/description";
inline constexpr const char* kLanServiceNameFile = "/mnt/nonv/config/lan/servicename";
inline constexpr const char* kLanResolvedServiceNameFile =
    "/mnt/nonv/config/lan/resolvedservicename";
inline constexpr const char* kLanPingFile = "/mnt/nonv/config/lan/ping";
inline constexpr const char* kLanKeepaliveFile = "/mnt/nonv/config/lan/keepalive";
inline constexpr const char* kLanPreserveConnFile = "/mnt/nonv/config/lan/preserveconn";
inline constexpr const char* kLanMdnsEnableFile = "/mnt/nonv/config/lan/mdnsenable";
inline constexpr const char* kLanMdnsActiveFile = "/mnt/nonv/config/lan/mdnsactive";
inline constexpr const char* kLanMacFile = "/mnt/nonv/config/lan/macaddress";

inline constexpr int kLanHostnameLongest = 32;
inline constexpr int kLanDomainLongest = 63;
inline constexpr int kLanServiceNameLongest = 63;
inline constexpr int kLanDescriptionLongest = 255;
inline constexpr int32_t kDefaultKeepalive = 3600;

// ---- Rules
// "%d.%d.%d.%d" with four values 0..255 that print back as the same text.
bool IsValidIpAddress(const std::string& text);
// A letter first, then letters, digits or '-'; at most 32 characters.
bool IsValidHostname(const std::string& text);
// Empty, or a letter first, then letters, digits, '-' or '.'; at most 63 characters.
bool IsValidDomain(const std::string& text);
// Entries separated by blanks, commas or line feeds, each a valid address (empty: none).
bool IsValidDnsList(const std::string& text);
// Printable text that is safe inside a double-quoted shell word (no '"', '$', '`' or
// '\'); at most 63 characters.
bool IsValidServiceName(const std::string& text);

// ---- Flags ("1" or "0"). A missing or invalid file gives `fallback`; the enable flags
// write their default "1" when they find none.
bool lan_get_enable();
int lan_set_enable_flag(int on);
bool web_get_enable();
int web_set_enable_flag(int on);
bool lan_get_dns_available();
int lan_set_dns_available(int on);
bool lan_get_mdns_enable();
int lan_set_mdns_enable(int on);
int lan_set_mdns_active(int on);
int lan_get_mdns_active();  // 1, 0, or -1 when unreadable

// ---- Modes: "automatic" or "manual". 0, or -1 when missing or neither (*mode holds
// what was read).
int lan_get_mode(std::string* mode);
int lan_get_current_mode(std::string* mode);
// 0 automatic, 1 manual.
int lan_set_mode(int manual);
int lan_set_current_mode(int manual);

// ---- Values. Getters give the stored value, or the default (and a diagnostic line
// when the stored value breaks its rule).
std::string lan_get_ipaddress();
std::string lan_get_subnetmask();
std::string lan_get_gateway();
std::string lan_get_dns();  // joined with commas as stored
std::string lan_get_hostname();  // the default "C-4410X-<serial>" when empty or invalid
std::string lan_get_resolved_hostname();
std::string lan_get_domain();
std::string lan_get_description();  // default "Corvane Switch System 4410X - <serial>"
std::string lan_get_servicename();  // same default, with the serial made fit for names
std::string lan_get_resolved_servicename();  // the service name when none is stored
// 0 and the value, or -1 when missing or not a number.
int lan_get_ping(int* on);
int lan_get_keepalive(int32_t* seconds);  // a stored -1 reads as 0
int lan_get_preserveconn(int* on);

int lan_set_ipaddress(const std::string& text);  // "" clears
int lan_set_subnetmask(const std::string& text);
int lan_set_gateway(const std::string& text);
int lan_set_dns(const std::string& text);
int lan_set_hostname(const std::string& text);  // also rewrites the DHCP client file
int lan_set_resolved_hostname(const std::string& text);  // likewise
int lan_set_domain(const std::string& text);  // likewise
int lan_set_description(const std::string& text);
int lan_set_servicename(const std::string& text);
int lan_set_resolved_servicename(const std::string& text);
int lan_store_ping(int on);
int lan_store_keepalive(int32_t seconds);
int lan_set_preserveconn(int on);
// The stored MAC address ("%02X.%02X.%02X.%02X.%02X.%02X"). 0, or -1.
int lan_get_stored_mac(uint8_t mac[6]);
int lan_set_stored_mac(const uint8_t mac[6]);

// The DHCP client configuration "/etc/dhclient.conf", from the stored host name and
// domain. 0, or -1.
int WriteDhcpClientConfig();
