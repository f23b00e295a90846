// The simulated GPIO page of the test build: a regular file beside the program stands in
// for the chip's registers, so tests can read the pins it drives and press its buttons.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "pins/GpioAccess.h"

namespace {

constexpr off_t SimulatedPageSize = 4096;
constexpr off_t LevelRegisterOffset = 0x34;

}  // namespace

// A new (or short) file is grown to a page with every input level high, so no button
// reads as pressed.
RegisterBase OpenGpio(int* MemFile) {
  *MemFile = -1;
  const int File = open("gpio.sim", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (File < 0) return nullptr;
  struct stat Status {};
  bool Ready = fstat(File, &Status) == 0;
  if (Ready && Status.st_size < SimulatedPageSize) {
    const std::uint32_t AllHigh = 0xFFFFFFFFu;
    Ready = ftruncate(File, SimulatedPageSize) == 0 &&
            pwrite(File, &AllHigh, sizeof AllHigh, LevelRegisterOffset) ==
                static_cast<ssize_t>(sizeof AllHigh);
  }
  if (!Ready) {
    // A file shorter than the page cannot be mapped safely: touching it would fault.
    close(File);
    return nullptr;
  }
  return MapOrClose(File, 0, MemFile);
}
