// The chassis serial number, read from the controller board's FRAM on first use and
// kept: the bottom of the LAN folder with the settings, which build their default
// names from it. It calls nothing in this folder.
#pragma once

#include <string>

// The serial number, or "NOT ASSIGNED" (not kept, so a later call reads again) when
// the FRAM cannot be read, the stored serial is empty or one of its characters is not
// printable.
std::string GetSerialNumber();
// The serial number as it may appear in a command text or a host name: every character
// but letters, digits and '-' becomes '-'.
std::string SerialForNames();
// Forgets the kept serial number, as a fresh process has none (tests).
void ForgetSerialNumberForTest();
