// Finding and mapping the GPIO register page of the board the program runs on.
#include "app/GpioAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <vector>

#include "app/Platform.h"

namespace {

// Device-tree names of the BCM2835 itself and of the later chips, whose peripherals sit
// elsewhere. Older kernels of the first boards call the chip bcm2708, and those of the
// quad-core boards bcm2709 and bcm2710.
const char* const Bcm2835Names[] = {"brcm,bcm2835", "brcm,bcm2708"};
const char* const LaterChipNames[] = {"brcm,bcm2836", "brcm,bcm2837", "brcm,bcm2838",
                                      "brcm,bcm2711", "brcm,bcm2712", "brcm,bcm2709",
                                      "brcm,bcm2710"};

std::vector<std::string> SplitAt(const std::string& Text, char Separator) {
  std::vector<std::string> Parts;
  std::string::size_type Start = 0;
  while (Start < Text.size()) {
    std::string::size_type End = Text.find(Separator, Start);
    if (End == std::string::npos) End = Text.size();
    Parts.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  return Parts;
}

bool ListsAnyOf(const std::vector<std::string>& Names, const char* const* Wanted,
                std::size_t WantedCount) {
  for (const std::string& Name : Names) {
    for (std::size_t I = 0; I < WantedCount; ++I) {
      if (Name == Wanted[I]) return true;
    }
  }
  return false;
}

bool CompatibleNamesBcm2835(const std::string& CompatibleText) {
  const std::vector<std::string> Names = SplitAt(CompatibleText, '\0');
  return ListsAnyOf(Names, Bcm2835Names, std::size(Bcm2835Names)) &&
         !ListsAnyOf(Names, LaterChipNames, std::size(LaterChipNames));
}

std::string TrimBlanks(const std::string& Text) {
  const char* const Blanks = " \t\r";
  const std::string::size_type First = Text.find_first_not_of(Blanks);
  if (First == std::string::npos) return std::string();
  return Text.substr(First, Text.find_last_not_of(Blanks) - First + 1);
}

bool Contains(const std::string& Text, const char* Part) {
  return Text.find(Part) != std::string::npos;
}

bool CpuInfoNamesBcm2835(const std::string& CpuInfoText) {
  bool Bcm2708 = false;
  bool Bcm2835 = false;
  bool ArmV6 = false;
  for (const std::string& Line : SplitAt(CpuInfoText, '\n')) {
    const std::string::size_type Colon = Line.find(':');
    if (Colon == std::string::npos) continue;
    const std::string Key = TrimBlanks(Line.substr(0, Colon));
    const std::string Value = Line.substr(Colon + 1);
    if (Key == "Hardware") {
      Bcm2708 = Bcm2708 || Contains(Value, "BCM2708");
      Bcm2835 = Bcm2835 || Contains(Value, "BCM2835");
    } else if (Key == "model name" || Key == "Processor") {
      ArmV6 = ArmV6 || Contains(Value, "ARMv6") || Contains(Value, "(v6l)");
    }
  }
  // Later boards report BCM2835 as well; only the ARMv6 core tells the first chip apart.
  return Bcm2708 || (Bcm2835 && ArmV6);
}

void ReportNoMemory() {
  WriteFormatted("Failed to open memory\n");
}

#if defined(HARROWLIGHT_SIMULATED_GPIO) && HARROWLIGHT_SIMULATED_GPIO
constexpr off_t SimulatedPageSize = 4096;
constexpr off_t LevelRegisterOffset = 0x34;

// A regular file stands in for the GPIO page. A new (or short) file is grown to a page
// with every input level high, so no button reads as pressed.
RegisterBase OpenSimulatedGpio(int* MemFile) {
  const int File = open("gpio.sim", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (File < 0) {
    ReportNoMemory();
    return nullptr;
  }
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
    ReportNoMemory();
    return nullptr;
  }
  *MemFile = File;
  return MapGpioMemory(File, 0);
}
#endif

}  // namespace

bool IsBcm2835(const std::string& CompatibleText, const std::string& CpuInfoText) {
  if (!CompatibleText.empty()) return CompatibleNamesBcm2835(CompatibleText);
  return CpuInfoNamesBcm2835(CpuInfoText);
}

std::string ReadWholeFile(const char* Path) {
  std::string Content;
  FILE* File = std::fopen(Path, "rb");
  if (File == nullptr) return Content;
  char Chunk[4096];
  std::size_t Got = 0;
  while ((Got = std::fread(Chunk, 1, sizeof Chunk, File)) > 0) Content.append(Chunk, Got);
  std::fclose(File);
  return Content;
}

bool RunningOnBcm2835() {
  return IsBcm2835(ReadWholeFile("/proc/device-tree/compatible"), ReadWholeFile("/proc/cpuinfo"));
}

RegisterBase OpenGpio(int* MemFile) {
  *MemFile = -1;
#if defined(HARROWLIGHT_SIMULATED_GPIO) && HARROWLIGHT_SIMULATED_GPIO
  return OpenSimulatedGpio(MemFile);
#else
  // Mapping this address on any other machine would write into unrelated memory or
  // devices, so anything but a BCM2835 goes on without GPIO.
  if (!RunningOnBcm2835()) {
    ReportNoMemory();
    return nullptr;
  }
  // Close-on-exec: the shell commands the program runs have no business with /dev/mem.
  const int File = open("/dev/mem", O_RDWR | O_SYNC | O_CLOEXEC);
  if (File < 0) {
    ReportNoMemory();
    return nullptr;
  }
  *MemFile = File;
  return MapGpioMemory(File, Bcm2835GpioBase);
#endif
}
