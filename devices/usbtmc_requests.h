// Requests of the USBTMC gadget device ("/dev/usbtmc0"), shared by the controller's
// USB device control and the simulated device that answers them. Enable and disable
// take no argument (DeviceIoctlValue with 0); the write-in-process request fills one
// byte (DeviceIoctl), nonzero while a response is still on its way to the host.
#pragma once

inline constexpr const char* kUsbtmcDevicePath = "/dev/usbtmc0";

inline constexpr unsigned long kUsbtmcEnable = 0x6B00;
inline constexpr unsigned long kUsbtmcDisable = 0x6B01;
inline constexpr unsigned long kUsbtmcWriteInProcess = 0x80046b03;
