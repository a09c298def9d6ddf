// The instrument's identity values and files (see identity.h).
#include "lan/identity.h"

#include <cstdio>

#include "core/gpibdev_utils.h"
#include "core/stored_file.h"
#include "lan/lan_settings.h"
#include "lan/serial_number.h"
#include "platform/paths.h"

const char* GetFirmwareRevision() { return kFirmwareRevision; }
const char* GetModelName() { return kModelName; }

std::string UsbResourceString() {
  char text[64];
  std::snprintf(text, sizeof text, "USB::0x%x::0x%x::", kUsbVendorId, kUsbProductId);
  return text + GetSerialNumber() + "::0::INSTR";
}

int WriteSysInfoFile(const char* name, const std::string& value) {
  const std::string path = std::string(kSysInfoFolder) + "/" + name;
  return ReplaceStoredFile(path.c_str(), value) == 0 ? 0 : -1;
}

int InitSysInfo() {
  WriteSysInfoFile("lxi_class", "LXI Core 2011");
  WriteSysInfoFile("lxi_version", "1.4");
  WriteSysInfoFile("serial_number", GetSerialNumber());
  WriteSysInfoFile("firmware_rev", GetFirmwareRevision());
  WriteSysInfoFile("model_name", GetModelName());
  WriteSysInfoFile("manufacturer", kManufacturer);
  WriteSysInfoFile("description", lan_get_description());
  WriteSysInfoFile("homepage_url", kMakerHomePage);
  WriteSysInfoFile("driver_url", kMakerHomePage);
  WriteSysInfoFile("tcpip_raw_port", std::to_string(platform::RawPort()));
  WriteSysInfoFile("usb_visa_resource", UsbResourceString());
  WriteSysInfoFile("gpib_visa_resource", GpibResourceString(GetGPIBPrimaryAddress()));
  WriteSysInfoFile("servicename", lan_get_servicename());
  return 0;
}

void PublishGpibResource(const char* resource) { WriteSysInfoFile("gpib_visa_resource", resource); }
