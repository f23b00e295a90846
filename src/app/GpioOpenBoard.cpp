// Mapping the GPIO page of the Raspberry Pi the camera runs on.
#include "pins/GpioAccess.h"

RegisterBase OpenGpio(int* MemFile) {
  *MemFile = -1;
  // Anything but a known Raspberry Pi chip goes on without GPIO.
  const std::uint32_t PageAddress = ThisMachineGpioPageAddress();
  if (PageAddress == 0) return nullptr;
  const GpioDevice Device = OpenGpioDevice(PageAddress);
  if (Device.File < 0) return nullptr;
  return MapOrClose(Device.File, Device.Offset, MemFile);
}
