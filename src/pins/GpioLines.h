// The pins through the kernel's GPIO character device (/dev/gpiochipN, line interface v2):
// the way to the buttons, LED and backlight where the register page cannot be mapped (a
// Pi 5, a kernel with a strict /dev/mem, an ordinary user without /dev/gpiomem). The chips
// are found, opened and asked through the platform record (ListGpioChips, OpenDevice,
// ControlDevice, CloseDevice).
#pragma once

#include <cstdint>

// Labels of the Raspberry Pi GPIO chips: Pi 1-3 and Zero, Pi 4, Pi 5.
extern const char* const PiChipLabels[3];

// Opens the chip that ChipChoice names (a path beginning with "/", or a chip label), or,
// when it is empty, the first chip with a Raspberry Pi label, then requests each input as
// a pulled-up input and each output as an output driven high. A pin whose line cannot be
// had (busy, not on the chip, refused) is reported on standard output and on the error
// line, and the others still work. Entries of NoPin are skipped; a pin in both lists is an
// output. Returns whether a chip was opened.
bool OpenGpioLines(const char* ChipChoice, const std::uint32_t* InputPins, int InputCount,
                   const std::uint32_t* OutputPins, int OutputCount);

// Whether a chip is open (the pins go through this route).
bool GpioLinesOpen();

// Drives the output line of Pin high (1) or low (0); nothing for a pin without a line.
void SetGpioLine(std::uint32_t Pin, int Level);

// Level of Pin's line: 1 high, 0 low. A pin without a line, or a failed read, gives 1, so
// a line that cannot be read never counts as a pressed button.
int GpioLineLevel(std::uint32_t Pin);

// Releases every line request and closes the chip.
void CloseGpioLines();
