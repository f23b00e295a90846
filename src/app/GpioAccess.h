// Finding and mapping the GPIO register page of the board the program runs on.
#pragma once

#include <string>

#include "rpi_gpio/RPi_GPIO.h"

// Opens and maps the GPIO page. On a BCM2835 that is /dev/mem at 0x20200000; on any other
// machine nothing is mapped ("Failed to open memory"). The simulated-GPIO build maps the
// regular file "gpio.sim" of the current directory instead. Returns the descriptor in
// *MemFile (-1 when none) and the base (null when none).
RegisterBase OpenGpio(int* MemFile);

// Decides from recorded machine descriptions whether this is a BCM2835, the only chip
// whose GPIO block sits at 0x20200000. CompatibleText is the device tree's compatible
// list (NUL-separated names; empty when there is no device tree); it decides alone when
// present. Otherwise CpuInfoText (the text of /proc/cpuinfo, empty when missing) decides:
// a "Hardware" line naming BCM2708, or naming BCM2835 on an ARMv6 processor.
bool IsBcm2835(const std::string& CompatibleText, const std::string& CpuInfoText);

// IsBcm2835 on this machine's /proc/device-tree/compatible and /proc/cpuinfo.
bool RunningOnBcm2835();

// The whole content of a file, NUL bytes included; empty when it cannot be read.
std::string ReadWholeFile(const char* Path);
