// The pins' one front: set-up, output, input and release, whichever route reaches them.
// The route is the mapped register page or, where no page could be mapped, the kernel's
// GPIO lines; no other part of the program knows which.
#pragma once

#include <cstdint>

#include "rpi_gpio/RPi_GPIO.h"

// The configuration's button and output lists hold at most this many pins each.
constexpr int PinListSize = 25;

// The mapped GPIO page, null while none is mapped. The pins go through it whenever it is
// set, else through the lines SetUpPins opened, else nowhere.
extern RegisterBase GPIO;

// Start-up, before the configuration is read: maps the board's GPIO page (OpenGpio).
void OpenGpioPage();

// Inputs become inputs with pull-ups and outputs become outputs driven high: on the page
// when it is mapped, else on the lines of the chip ChipChoice names (see OpenGpioLines).
// A pin in both lists ends up an output.
void SetUpPins(const char* ChipChoice, const std::uint32_t* InputPins, int InputCount,
               const std::uint32_t* OutputPins, int OutputCount);

// Whether the page or the lines reach the pins.
bool PinsReachable();

// Drives Pin high (Level 1) or low (0); nothing where no route reaches it.
void DrivePin(std::uint32_t Pin, int Level);

// Pin's level: 1 high, 0 low. Without a route, and for a pin without a line, 1, so such a
// pin never reads as a pressed button. The page shows only pins 0-31.
int ReadPin(std::uint32_t Pin);

// Says "Failed to open memory" (on the error lines as well): no way to the pins worked, and
// the program goes on without them.
void ReportNoGpio();

// Shutdown: releases every line, closes the page's device and forgets the page.
void ReleasePins();
