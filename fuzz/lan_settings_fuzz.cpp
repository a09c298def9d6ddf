// Fuzz target for the stored LAN settings and the discovery service's log: the first
// byte picks a setting file, the rest is what the controller finds in it under a
// temporary chassis root. Whatever the file holds, the value read must pass the
// setting's rule or be its default, so nothing else can reach a command text; and a
// name taken from a log line must be stored only when it is a valid service name.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/stored_file.h"
#include "lan/lan_config.h"
#include "lan/lan_settings.h"
#include "lan/serial_number.h"
#include "platform/test_support.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "lan_settings: %s\n", what);
  std::abort();
}

struct Setting {
  const char* file;
  std::string (*read)();
  bool (*rule)(const std::string&);
};

bool Empty(const std::string& text) { return text.empty(); }
bool HostOrDefault(const std::string& text) {
  return IsValidHostname(text) || text == "C-4410X-" + SerialForNames();
}

const Setting kSettings[] = {
    {kLanAddressFile, lan_get_ipaddress, IsValidIpAddress},
    {kLanMaskFile, lan_get_subnetmask, IsValidIpAddress},
    {kLanGatewayFile, lan_get_gateway, IsValidIpAddress},
    {kLanDnsFile, lan_get_dns, IsValidDnsList},
    {kLanHostnameFile, lan_get_hostname, HostOrDefault},
    {kLanResolvedHostnameFile, lan_get_resolved_hostname, IsValidHostname},
    {kLanDomainFile, lan_get_domain, IsValidDomain},
    {kLanServiceNameFile, lan_get_servicename, IsValidServiceName},
    {kLanResolvedServiceNameFile, lan_get_resolved_servicename, IsValidServiceName},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static platform::TempFolder root;
  static platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  if (size == 0) return 0;
  const Setting& setting = kSettings[data[0] % (sizeof kSettings / sizeof kSettings[0])];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (ReplaceStoredFile(setting.file, text) != 0) Fail("the setting could not be written");
  std::fflush(stdout);
  const std::string value = setting.read();
  if (!Empty(value) && !setting.rule(value)) Fail("a stored value passed without its rule");

  std::string name;
  if (ParseEstablishedName(text, &name)) {
    if (name.empty()) Fail("an empty name was taken from the log");
    if (lan_set_resolved_servicename(name) == 0) {
      if (!IsValidServiceName(name)) Fail("an invalid service name was stored");
      if (lan_get_resolved_servicename() != name) Fail("the stored name reads back changed");
    }
  }
  return 0;
}
