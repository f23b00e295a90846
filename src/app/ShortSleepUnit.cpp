// Linked into the simulated-GPIO test build only: one unit of the backlight's idle time is
// 80 ticks (6 s) instead of 30 s, so the end-to-end tests see the backlight go dark and
// wake again without waiting half a minute. Every other rule is the camera's own.
#include "state/Globals.h"

int SleepUnitTicks() {
  return 80;
}
