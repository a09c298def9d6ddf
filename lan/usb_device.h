// The instrument's USB device port: a USBTMC gadget that a kernel module provides as
// "/dev/usbtmc0", loaded at start-up with the serial number and switched on or off on
// request. The enable setting is kept in "/mnt/nonv/config/comm/usbdev/enable".
#pragma once

inline constexpr const char* kUsbEnableFile = "/mnt/nonv/config/comm/usbdev/enable";
inline constexpr const char* kUsbModulePath = "/lib/modules/g_usbtmc.ko";

// Loads the gadget module and waits (about two seconds at most) for its device node.
// 0, or -1 when the node did not appear.
int UsbDevInit();
// Switches the gadget on or off and stores the setting. 0, or -1 (the setting is left
// as it was when the device cannot be reached).
int UsbDevEnable();
int UsbDevDisable();
// 1 when the stored setting reads "1", 0 for anything else, 255 when it cannot be read.
int UsbDevEnabled();
// 1 while a response is still on its way to the host, 0 when not, 255 on failure.
int IsUsbWriteInProcess();
