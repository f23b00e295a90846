// The route to the pins, chosen by what start-up opened, and the pin work done through it.
#include "pins/Pins.h"

#include "pins/GpioLines.h"

RegisterBase GPIO = nullptr;

namespace {

enum class PinRoute { None, Registers, Lines };

// The page wins: SetUpPins opens the kernel's lines only when no page is mapped.
PinRoute ChosenRoute() {
  if (GPIO != nullptr) return PinRoute::Registers;
  if (GpioLinesOpen()) return PinRoute::Lines;
  return PinRoute::None;
}

}  // namespace

void SetUpPins(const char* ChipChoice, const std::uint32_t* InputPins, int InputCount,
               const std::uint32_t* OutputPins, int OutputCount) {
  if (GPIO == nullptr) {
    OpenGpioLines(ChipChoice, InputPins, InputCount, OutputPins, OutputCount);
    return;
  }
  ConfigGPIO(GPIO, nullptr, InputPins, InputCount, OutputPins, OutputCount, 0);
  for (int I = 0; I < OutputCount; ++I) {
    const std::uint32_t Pin = OutputPins[I];
    if (Pin != NoPin) GPIO_SetPin(GPIO, Pin);
  }
}

bool PinsReachable() {
  return ChosenRoute() != PinRoute::None;
}

void DrivePin(std::uint32_t Pin, int Level) {
  switch (ChosenRoute()) {
    case PinRoute::Registers:
      if (Level != 0) {
        GPIO_SetPin(GPIO, Pin);
      } else {
        GPIO_ClearPin(GPIO, Pin);
      }
      break;
    case PinRoute::Lines:
      SetGpioLine(Pin, Level);
      break;
    case PinRoute::None:
      break;
  }
}

int ReadPin(std::uint32_t Pin) {
  switch (ChosenRoute()) {
    case PinRoute::Registers:
      return GPIO_GetLevel(GPIO, Pin);
    case PinRoute::Lines:
      return GpioLineLevel(Pin);
    case PinRoute::None:
      break;
  }
  return 1;
}
