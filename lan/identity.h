// The instrument's identity: the firmware revision and the model name, and the identity
// files under "/etc/sysinfo" that the web server and the discovery service read (the
// serial number is serial_number.h's).
#pragma once

#include <string>

// The product's configuration values, in one place.
inline constexpr const char* kMakerHomePage = "https://www.corvane-test.example/switch/4410x";
inline constexpr unsigned kUsbVendorId = 0x2B7A;
inline constexpr unsigned kUsbProductId = 0x7A00;
inline constexpr const char* kFirmwareRevision = "1.6.8";
inline constexpr const char* kModelName = "4410X";
inline constexpr const char* kManufacturer = "Corvane Test Systems";
inline constexpr const char* kSysInfoFolder = "/etc/sysinfo";

const char* GetFirmwareRevision();
const char* GetModelName();

// "USB::0x<vendor>::0x<product>::<serial>::0::INSTR" (the GPIB one is the GPIB
// layer's GpibResourceString).
std::string UsbResourceString();

// One writer per identity file: the value written whole ("/etc/sysinfo/<name>").
// 0, or -1 when it could not be written.
int WriteSysInfoFile(const char* name, const std::string& value);
// Writes every identity file, lxi_class first and servicename last. Always 0: a file
// that cannot be written is left out.
int InitSysInfo();
// Rewrites the GPIB resource file for a new primary address.
void PublishGpibResource(const char* resource);
