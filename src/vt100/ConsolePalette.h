// The Linux console's sixteen colours while the camera runs: a palette under which every
// pair of colours the screen uses is easy to read on a small LCD, and the console's own
// palette back at the end. The screen's bytes (the colours asked for) do not change; on a
// terminal that is not a Linux virtual console nothing happens.
#pragma once

#include <array>
#include <cstddef>

constexpr std::size_t ConsoleColours = 16;
// Red, green and blue (0-255) of each colour in the order of the SGR colour numbers: 0
// black, 1 red, 2 green, 3 yellow, 4 blue, 5 magenta, 6 cyan, 7 white, then the bright
// (bold) ones 8-15. This is the layout of the kernel's GIO_CMAP and PIO_CMAP.
using ConsoleColourMap = std::array<unsigned char, 3 * ConsoleColours>;

// Found with the colours the screen uses replaced by the readable ones; the others kept.
ConsoleColourMap ReadablePaletteOver(const ConsoleColourMap& Found);

// When standard output is a Linux virtual console: keeps its palette and sets the readable
// one. Returns true when the palette was changed.
bool UseReadablePalette();

// Puts back the palette UseReadablePalette kept, once; does nothing when none was kept.
void RestoreConsolePalette();
