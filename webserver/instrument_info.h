// What the welcome page and the LXI identification document say about the
// instrument: its identity from the identity files, its LAN settings as the
// instrument reports them now, and the VISA resource strings they make.
#pragma once

#include <map>
#include <string>

namespace web {

class ScpiConnection;

using InstrumentInfo = std::map<std::string, std::string, std::less<>>;

// Keys: model, manufacturer, serial, description, firmware, lxi_version, lxi_class,
// homepage, driver_url, hostname, mac, ip, mask, gateway, dns, domain, lan_mode ("DHCP"
// or "Static"), vxi11_resource, socket_resource, gpib_resource, usb_resource, identify
// ("on" or "off"), web_user.
InstrumentInfo ReadInstrumentInfo(ScpiConnection& connection);

// The LXI identification document (schema version 1.0) for `info`; `host` is how the
// browser reached the instrument (for the identification address).
std::string IdentificationXml(const InstrumentInfo& info, const std::string& host);

// The user the factory user list holds.
inline constexpr const char* kDefaultWebUser = "admin";
// The realm of the pages' Digest authentication, as the user list's lines name it.
inline constexpr const char* kWebRealm = "4410X";

}  // namespace web
