// Opening and releasing the pins: the page at start-up, the report, the release at shutdown.
// Apart from Pins.cpp because it needs the page opener each program links (OpenGpio), which
// the libraries that only drive and read pins must link without.
#include <unistd.h>

#include "errors/ErrorLines.h"
#include "pins/GpioAccess.h"
#include "pins/GpioLines.h"
#include "pins/Pins.h"

namespace {

// The device behind the mapped page, -1 when none.
int PageFile = -1;

}  // namespace

void OpenGpioPage() {
  GPIO = OpenGpio(&PageFile);
}

void ReportNoGpio() {
  ReportAtStartUp("Failed to open memory\n");
}

void ReleasePins() {
  CloseGpioLines();
  if (PageFile >= 0) close(PageFile);
  PageFile = -1;
  GPIO = nullptr;
}
