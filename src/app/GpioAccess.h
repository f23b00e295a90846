// Finding and mapping the GPIO register page of the board the program runs on.
#pragma once

#include "rpi_gpio/RPi_GPIO.h"

// Opens and maps the GPIO page. On a BCM2835 that is /dev/mem at 0x20200000; on any other
// machine nothing is mapped ("Failed to open memory"). The simulated-GPIO build maps the
// regular file "gpio.sim" of the current directory instead. Returns the descriptor in
// *MemFile (-1 when none) and the base (null when none).
RegisterBase OpenGpio(int* MemFile);

// True when the device-tree compatible text or /proc/cpuinfo text names a BCM2835.
bool IsBcm2835(const char* CompatibleText, const char* CpuInfoText);
