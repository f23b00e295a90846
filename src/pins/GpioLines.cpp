// The pins through the kernel's GPIO character device: one line request per pin, so a
// line that another program or a driver holds costs only that pin.
#include "pins/GpioLines.h"

#include <linux/gpio.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "errors/ErrorLines.h"
#include "pins/Pins.h"
#include "platform/Platform.h"
#include "rpi_gpio/RPi_GPIO.h"

const char* const PiChipLabels[3] = {"pinctrl-bcm2835", "pinctrl-bcm2711", "pinctrl-rp1"};

namespace {

// Every input and output pin of the configuration can hold a line.
constexpr int LineSlots = 2 * PinListSize;
constexpr const char* Consumer = "harrowlight";

struct HeldLine {
  std::uint32_t Pin;
  int File;
};

HeldLine Lines[LineSlots];
int LineCount = 0;
bool ChipOpened = false;

// The chip the lines are requested from.
struct Chip {
  int File = -1;
  std::string Path;
  std::string Label;
  std::uint32_t LineTotal = 0;
};

// Opens Path and reads its label and line count; false (chip closed) when either fails.
bool OpenChipAt(const std::string& Path, Chip* Found, int* Error) {
  const int File = Platform.OpenDevice(Path.c_str());
  if (File < 0) {
    *Error = errno;
    return false;
  }
  gpiochip_info Info{};
  if (Platform.ControlDevice(File, GPIO_GET_CHIPINFO_IOCTL, &Info) != 0) {
    *Error = errno;
    Platform.CloseDevice(File);
    return false;
  }
  // The label need not be terminated when it fills its field.
  Found->Label.assign(Info.label, strnlen(Info.label, sizeof Info.label));
  Found->File = File;
  Found->Path = Path;
  Found->LineTotal = Info.lines;
  return true;
}

bool IsPiLabel(const std::string& Label) {
  for (const char* Wanted : PiChipLabels) {
    if (Label == Wanted) return true;
  }
  return false;
}

// The first chip whose label is Wanted (any Raspberry Pi label when Wanted is empty). A
// chip that cannot be opened is named with its reason, since it may be the one wanted.
bool FindChipByLabel(const std::string& Wanted, Chip* Found) {
  std::string Refused;
  int RefusedError = 0;
  for (const std::string& Path : Platform.ListGpioChips()) {
    int Error = 0;
    Chip Candidate;
    if (!OpenChipAt(Path, &Candidate, &Error)) {
      if (Refused.empty()) {
        Refused = Path;
        RefusedError = Error;
      }
      continue;
    }
    if (Wanted.empty() ? IsPiLabel(Candidate.Label) : Candidate.Label == Wanted) {
      *Found = Candidate;
      return true;
    }
    Platform.CloseDevice(Candidate.File);
  }
  if (!Refused.empty()) {
    ReportAtStartUp("GPIO chip %s: %s\n", Refused.c_str(), std::strerror(RefusedError));
  } else if (!Wanted.empty()) {
    ReportAtStartUp("GPIO chip %s: not found\n", Wanted.c_str());
  }
  return false;
}

bool OpenChosenChip(const char* ChipChoice, Chip* Found) {
  if (ChipChoice[0] != '/') return FindChipByLabel(ChipChoice, Found);
  int Error = 0;
  if (OpenChipAt(ChipChoice, Found, &Error)) return true;
  ReportAtStartUp("GPIO chip %s: %s\n", ChipChoice, std::strerror(Error));
  return false;
}

bool Holds(std::uint32_t Pin) {
  for (int I = 0; I < LineCount; ++I) {
    if (Lines[I].Pin == Pin) return true;
  }
  return false;
}

bool Lists(const std::uint32_t* Pins, int Count, std::uint32_t Pin) {
  for (int I = 0; I < Count; ++I) {
    if (Pins[I] == Pin) return true;
  }
  return false;
}

void ReportRefusedLine(std::uint32_t Pin, int Error) {
  if (Error == EBUSY) {
    ReportAtStartUp("GPIO %u: in use by another program or a driver\n", Pin);
  } else {
    ReportAtStartUp("GPIO %u: %s\n", Pin, std::strerror(Error));
  }
}

// Requests Pin's line as a pulled-up input or as an output driven high, and keeps it.
void RequestLine(const Chip& From, std::uint32_t Pin, bool Output) {
  if (Pin == NoPin || Holds(Pin) || LineCount >= LineSlots) return;
  if (Pin >= From.LineTotal) {
    ReportAtStartUp("GPIO %u: not on %s (lines 0-%u)\n", Pin, From.Label.c_str(),
                    From.LineTotal - 1);
    return;
  }
  gpio_v2_line_request Request{};
  Request.offsets[0] = Pin;
  Request.num_lines = 1;
  std::strncpy(Request.consumer, Consumer, sizeof Request.consumer - 1);
  if (Output) {
    Request.config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    Request.config.num_attrs = 1;
    Request.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
    Request.config.attrs[0].attr.values = 1;
    Request.config.attrs[0].mask = 1;
  } else {
    Request.config.flags = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
  }
  Request.fd = -1;
  if (Platform.ControlDevice(From.File, GPIO_V2_GET_LINE_IOCTL, &Request) != 0) {
    ReportRefusedLine(Pin, errno);
    return;
  }
  if (Request.fd < 0) {
    // A request that "succeeds" without a handle leaves nothing to drive or read.
    ReportRefusedLine(Pin, EIO);
    return;
  }
  Lines[LineCount++] = HeldLine{Pin, Request.fd};
}

int LineFileOf(std::uint32_t Pin) {
  for (int I = 0; I < LineCount; ++I) {
    if (Lines[I].Pin == Pin) return Lines[I].File;
  }
  return -1;
}

}  // namespace

bool OpenGpioLines(const char* ChipChoice, const std::uint32_t* InputPins, int InputCount,
                   const std::uint32_t* OutputPins, int OutputCount) {
  CloseGpioLines();
  Chip Found;
  if (!OpenChosenChip(ChipChoice != nullptr ? ChipChoice : "", &Found)) return false;
  ChipOpened = true;
  // As with the registers, a pin listed as both ends up an output.
  for (int I = 0; I < InputCount; ++I) {
    if (!Lists(OutputPins, OutputCount, InputPins[I])) RequestLine(Found, InputPins[I], false);
  }
  for (int I = 0; I < OutputCount; ++I) RequestLine(Found, OutputPins[I], true);
  // The requests hold their lines on their own; the chip is no longer needed.
  Platform.CloseDevice(Found.File);
  return true;
}

bool GpioLinesOpen() {
  return ChipOpened;
}

void SetGpioLine(std::uint32_t Pin, int Level) {
  const int File = LineFileOf(Pin);
  if (File < 0) return;
  gpio_v2_line_values Values{};
  Values.bits = Level != 0 ? 1 : 0;
  Values.mask = 1;
  (void)Platform.ControlDevice(File, GPIO_V2_LINE_SET_VALUES_IOCTL, &Values);
}

int GpioLineLevel(std::uint32_t Pin) {
  const int File = LineFileOf(Pin);
  if (File < 0) return 1;
  gpio_v2_line_values Values{};
  Values.mask = 1;
  if (Platform.ControlDevice(File, GPIO_V2_LINE_GET_VALUES_IOCTL, &Values) != 0) return 1;
  return (Values.bits & 1) != 0 ? 1 : 0;
}

void CloseGpioLines() {
  for (int I = 0; I < LineCount; ++I) Platform.CloseDevice(Lines[I].File);
  LineCount = 0;
  ChipOpened = false;
}
