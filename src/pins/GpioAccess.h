// Finding and mapping the GPIO register page of the board the program runs on.
#pragma once

#include <cstdint>
#include <string>

#include "rpi_gpio/RPi_GPIO.h"

// Opens and maps the GPIO page of a Raspberry Pi board (BCM2835, BCM2836, BCM2837 or
// BCM2711): /dev/mem at the page's physical address, or, where /dev/mem cannot be opened,
// /dev/gpiomem (the GPIO page alone, at offset 0). On any other machine, or when neither
// device opens, nothing is mapped, and nothing is said yet: the caller tries the kernel's
// GPIO lines next and reports only when no way to the pins worked. The simulated-GPIO build links
// GpioOpenSimulated.cpp instead of GpioOpenBoard.cpp, which maps the regular file "gpio.sim"
// of the current directory. Returns the descriptor in *MemFile (-1 when none) and the base
// (null when none).
RegisterBase OpenGpio(int* MemFile);

// The Broadcom chips whose GPIO block the program knows how to find.
enum class PiChip { None, Bcm2835, Bcm2836, Bcm2837, Bcm2711 };

// The chip a device tree's compatible list (NUL-separated names) names. Newer chips win
// over older names listed beside them; the BCM2712 of the Pi 5, which has no such GPIO
// block, and every other machine give None.
PiChip ChipFromCompatible(const std::string& CompatibleText);

// The peripheral base the device tree's soc "ranges" bytes give: the big-endian 32-bit
// word at offset 4, or the one at offset 8 when that is 0 (a two-cell parent address).
// 0 when the bytes end before the word needed.
std::uint32_t PeripheralBaseFromRanges(const std::string& RangesBytes);

// Physical address of the GPIO page (peripheral base + 0x200000) from recorded machine
// descriptions, or 0 when no page may be mapped. A recognised chip must report its own
// peripheral base; only the BCM2835, whose address never changes, keeps 0x20200000 when
// the ranges are unreadable. Without a device tree (empty CompatibleText), CpuInfoText
// can only identify a BCM2835 (see IsBcm2835).
std::uint32_t GpioPageAddress(const std::string& CompatibleText, const std::string& CpuInfoText,
                              const std::string& RangesBytes);

// GpioPageAddress on this machine's /proc/device-tree and /proc/cpuinfo.
std::uint32_t ThisMachineGpioPageAddress();

// An opened GPIO device and the file offset of the GPIO page within it.
struct GpioDevice {
  int File;     // -1 when nothing opened
  long Offset;  // page address in /dev/mem, 0 in /dev/gpiomem
};

// Opens "/dev/mem" for the page at PageAddress, or failing that "/dev/gpiomem", through
// Platform.OpenDevice. /dev/mem is skipped when the address does not fit the map offset (a
// 32-bit long).
GpioDevice OpenGpioDevice(std::uint32_t PageAddress);

// Maps the page of File at Offset and keeps File in *MemFile. A refused mapping closes File,
// so a device left open always means mapped registers (and another way to the pins may
// be tried).
RegisterBase MapOrClose(int File, long Offset, int* MemFile);

// Decides from recorded machine descriptions whether this is a BCM2835, the only chip
// whose GPIO block sits at 0x20200000. CompatibleText is the device tree's compatible
// list (NUL-separated names; empty when there is no device tree); it decides alone when
// present. Otherwise CpuInfoText (the text of /proc/cpuinfo, empty when missing) decides:
// a "Hardware" line naming BCM2708, or naming BCM2835 on an ARMv6 processor.
bool IsBcm2835(const std::string& CompatibleText, const std::string& CpuInfoText);

// The whole content of a file, NUL bytes included; empty when it cannot be read.
std::string ReadWholeFile(const char* Path);
