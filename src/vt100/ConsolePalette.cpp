// The readable palette of the Linux console, set and taken back through the kernel's
// colour-map requests on standard output.
#include "vt100/ConsolePalette.h"

#include <linux/kd.h>
#include <unistd.h>

#include "platform/Platform.h"

namespace {

struct ColourValue {
  std::size_t Colour;
  unsigned char Red;
  unsigned char Green;
  unsigned char Blue;
};

// The colours the screen draws with. The pairs it uses, as foreground on background:
// bold white on black (titles, the playback list), white on black (items), bold black on
// yellow and black on yellow (the highlighted menu and recording), bold red on white (status
// and clock lines), bold white on red (error lines). Under these values each pair reaches
// at least 5:1 (WCAG 2 contrast), where the kernel's default palette gives 1.4:1 for some.
constexpr ColourValue ReadableColours[] = {
    {0, 0, 0, 0},         // black
    {1, 170, 0, 0},       // red
    {3, 255, 200, 0},     // yellow, where the kernel's is brown
    {7, 230, 230, 230},   // white, light enough behind the status line's red
    {8, 64, 64, 64},      // bold black: a dark grey
    {9, 190, 0, 0},       // bold red, dark enough on the light status line
    {15, 255, 255, 255},  // bold white
};

ConsoleColourMap KeptPalette{};
bool PaletteKept = false;

}  // namespace

ConsoleColourMap ReadablePaletteOver(const ConsoleColourMap& Found) {
  ConsoleColourMap Readable = Found;
  for (const ColourValue& Value : ReadableColours) {
    const std::size_t At = 3 * Value.Colour;
    Readable[At] = Value.Red;
    Readable[At + 1] = Value.Green;
    Readable[At + 2] = Value.Blue;
  }
  return Readable;
}

bool UseReadablePalette() {
  // Only a Linux virtual console answers the colour-map request.
  ConsoleColourMap Found{};
  if (Platform.ControlDevice(STDOUT_FILENO, GIO_CMAP, Found.data()) != 0) return false;
  ConsoleColourMap Readable = ReadablePaletteOver(Found);
  // Refused, for one, when the console is not this process's controlling terminal.
  if (Platform.ControlDevice(STDOUT_FILENO, PIO_CMAP, Readable.data()) != 0) return false;
  KeptPalette = Found;
  PaletteKept = true;
  return true;
}

void RestoreConsolePalette() {
  if (!PaletteKept) return;
  PaletteKept = false;
  (void)Platform.ControlDevice(STDOUT_FILENO, PIO_CMAP, KeptPalette.data());
}
