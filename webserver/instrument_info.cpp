// The instrument's identity and LAN settings for the pages.
#include "webserver/instrument_info.h"

#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "webserver/scpi_client.h"
#include "webserver/web_text.h"

namespace web {
namespace {

// An identity file's value (the files hold one value without a line feed).
std::string SysInfo(const char* name) {
  std::ifstream file(platform::ResolvePath(std::string("/etc/sysinfo/") + name));
  std::stringstream text;
  text << file.rdbuf();
  std::string value = text.str();
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return value;
}

std::string NoneAsEmpty(const std::string& text) { return text == "NONE" ? std::string() : text; }

}  // namespace

InstrumentInfo ReadInstrumentInfo(ScpiConnection& connection) {
  InstrumentInfo info;
  info["model"] = SysInfo("model_name");
  info["manufacturer"] = SysInfo("manufacturer");
  info["serial"] = SysInfo("serial_number");
  info["firmware"] = SysInfo("firmware_rev");
  info["lxi_version"] = SysInfo("lxi_version");
  info["lxi_class"] = SysInfo("lxi_class");
  info["homepage"] = SysInfo("homepage_url");
  info["driver_url"] = SysInfo("driver_url");
  info["gpib_resource"] = SysInfo("gpib_visa_resource");
  info["usb_resource"] = SysInfo("usb_visa_resource");
  info["description"] = ScpiUnquoted(connection.Query("SYST:COMM:LAN:DESC?"));
  info["hostname"] = connection.Query("SYST:COMM:LAN:HOST?");
  info["mac"] = connection.Query("SYST:COMM:LAN:MAC?");
  info["ip"] = connection.Query("SYST:COMM:LAN:IPAD?");
  info["mask"] = connection.Query("SYST:COMM:LAN:SMAS?");
  info["gateway"] = NoneAsEmpty(connection.Query("SYST:COMM:LAN:GATE?"));
  info["dns"] = NoneAsEmpty(connection.Query("SYST:COMM:LAN:DNS?"));
  info["domain"] = NoneAsEmpty(connection.Query("SYST:COMM:LAN:DOM?"));
  info["lan_mode"] = connection.Query("SYST:COMM:LAN:MODE?").rfind("MAN", 0) == 0 ? "Static" : "DHCP";
  info["identify"] = connection.Query("SYST:COMM:LAN:IDEN?") == "1" ? "on" : "off";
  info["web_user"] = kDefaultWebUser;
  const std::string& address = info["ip"];
  info["vxi11_resource"] = "TCPIP::" + address + "::INSTR";
  info["socket_resource"] = "TCPIP::" + address + "::" + SysInfo("tcpip_raw_port") + "::SOCKET";
  return info;
}

std::string IdentificationXml(const InstrumentInfo& info, const std::string& host) {
  const auto value = [&](const char* key) {
    const auto found = info.find(key);
    return XmlEscape(found == info.end() ? std::string() : found->second);
  };
  const std::string dhcp = value("lan_mode") == "DHCP" ? "true" : "false";
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:schemaLocation=\"http://www.lxistandard.org/InstrumentIdentification/1.0 "
      "http://www.lxistandard.org/InstrumentIdentification/1.0/LXIIdentification.xsd\">\n";
  xml += "  <Manufacturer>" + value("manufacturer") + "</Manufacturer>\n";
  xml += "  <Model>" + value("model") + "</Model>\n";
  xml += "  <SerialNumber>" + value("serial") + "</SerialNumber>\n";
  xml += "  <FirmwareRevision>" + value("firmware") + "</FirmwareRevision>\n";
  xml += "  <ManufacturerDescription>Modular relay switch chassis " + value("model") +
         "</ManufacturerDescription>\n";
  xml += "  <HomepageURL>" + value("homepage") + "</HomepageURL>\n";
  xml += "  <DriverURL>" + value("driver_url") + "</DriverURL>\n";
  xml += "  <UserDescription>" + value("description") + "</UserDescription>\n";
  xml += "  <IdentificationURL>http://" + XmlEscape(host) + "/lxi/identification</IdentificationURL>\n";
  xml += "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"IPv4\" "
         "InterfaceName=\"eth0\">\n";
  xml += "    <InstrumentAddressString>" + value("vxi11_resource") + "</InstrumentAddressString>\n";
  xml += "    <InstrumentAddressString>" + value("socket_resource") + "</InstrumentAddressString>\n";
  xml += "    <Hostname>" + value("hostname") + "</Hostname>\n";
  xml += "    <IPAddress>" + value("ip") + "</IPAddress>\n";
  xml += "    <SubnetMask>" + value("mask") + "</SubnetMask>\n";
  xml += "    <MACAddress>" + value("mac") + "</MACAddress>\n";
  xml += "    <Gateway>" + value("gateway") + "</Gateway>\n";
  xml += "    <DHCPEnabled>" + dhcp + "</DHCPEnabled>\n";
  xml += "    <AutoIPEnabled>false</AutoIPEnabled>\n";
  xml += "  </Interface>\n";
  xml += "  <LXIVersion>" + value("lxi_version") + "</LXIVersion>\n";
  xml += "  <LXIExtendedFunctions/>\n";
  xml += "</LXIDevice>\n";
  return xml;
}

}  // namespace web
