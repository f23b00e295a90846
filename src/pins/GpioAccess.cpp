// Finding the GPIO register page of the board the program runs on, and the device to map it from.
#include "pins/GpioAccess.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <vector>

#include "platform/Platform.h"

namespace {

// Device-tree names of each chip: the mainline name first, then the names older kernels
// used (bcm2708 on the Pi 1, bcm2709 on the Pi 2, bcm2710 on the Pi 3, bcm2838 on the Pi 4).
const char* const Bcm2835Names[] = {"brcm,bcm2835", "brcm,bcm2708"};
const char* const Bcm2836Names[] = {"brcm,bcm2836", "brcm,bcm2709"};
const char* const Bcm2837Names[] = {"brcm,bcm2837", "brcm,bcm2710"};
const char* const Bcm2711Names[] = {"brcm,bcm2711", "brcm,bcm2838"};
const char* const Bcm2712Names[] = {"brcm,bcm2712"};

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

constexpr std::uint32_t GpioBlockOffset = 0x200000;

// The peripheral base each chip has in its usual configuration; any other base read from
// the device tree means a layout this program does not know.
std::uint32_t ExpectedPeripheralBase(PiChip Chip) {
  switch (Chip) {
    case PiChip::Bcm2835:
      return 0x20000000u;
    case PiChip::Bcm2836:
    case PiChip::Bcm2837:
      return 0x3F000000u;
    case PiChip::Bcm2711:
      return 0xFE000000u;
    case PiChip::None:
      break;
  }
  return 0;
}

std::uint32_t BigEndianWordAt(const std::string& Bytes, std::size_t Offset) {
  std::uint32_t Word = 0;
  for (std::size_t I = 0; I < 4; ++I) {
    Word = (Word << 8) | static_cast<unsigned char>(Bytes[Offset + I]);
  }
  return Word;
}

}  // namespace

RegisterBase MapOrClose(int File, long Offset, int* MemFile) {
  const RegisterBase Base = MapGpioMemory(File, Offset);
  if (Base == nullptr) {
    close(File);
    return nullptr;
  }
  *MemFile = File;
  return Base;
}

bool IsBcm2835(const std::string& CompatibleText, const std::string& CpuInfoText) {
  if (!CompatibleText.empty()) return ChipFromCompatible(CompatibleText) == PiChip::Bcm2835;
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

PiChip ChipFromCompatible(const std::string& CompatibleText) {
  const std::vector<std::string> Names = SplitAt(CompatibleText, '\0');
  if (ListsAnyOf(Names, Bcm2712Names, std::size(Bcm2712Names))) return PiChip::None;
  if (ListsAnyOf(Names, Bcm2711Names, std::size(Bcm2711Names))) return PiChip::Bcm2711;
  if (ListsAnyOf(Names, Bcm2837Names, std::size(Bcm2837Names))) return PiChip::Bcm2837;
  if (ListsAnyOf(Names, Bcm2836Names, std::size(Bcm2836Names))) return PiChip::Bcm2836;
  if (ListsAnyOf(Names, Bcm2835Names, std::size(Bcm2835Names))) return PiChip::Bcm2835;
  return PiChip::None;
}

std::uint32_t PeripheralBaseFromRanges(const std::string& RangesBytes) {
  if (RangesBytes.size() < 8) return 0;
  const std::uint32_t Base = BigEndianWordAt(RangesBytes, 4);
  if (Base != 0) return Base;
  if (RangesBytes.size() < 12) return 0;
  return BigEndianWordAt(RangesBytes, 8);
}

std::uint32_t GpioPageAddress(const std::string& CompatibleText, const std::string& CpuInfoText,
                              const std::string& RangesBytes) {
  if (CompatibleText.empty()) {
    return IsBcm2835(CompatibleText, CpuInfoText) ? static_cast<std::uint32_t>(Bcm2835GpioBase) : 0;
  }
  const PiChip Chip = ChipFromCompatible(CompatibleText);
  if (Chip == PiChip::None) return 0;
  const std::uint32_t Base = PeripheralBaseFromRanges(RangesBytes);
  if (Base == 0) {
    return Chip == PiChip::Bcm2835 ? static_cast<std::uint32_t>(Bcm2835GpioBase) : 0;
  }
  // Mapping a page the chip does not have would write into unrelated memory or devices.
  if (Base != ExpectedPeripheralBase(Chip)) return 0;
  return Base + GpioBlockOffset;
}

std::uint32_t ThisMachineGpioPageAddress() {
  return GpioPageAddress(ReadWholeFile("/proc/device-tree/compatible"),
                         ReadWholeFile("/proc/cpuinfo"),
                         ReadWholeFile("/proc/device-tree/soc/ranges"));
}

GpioDevice OpenGpioDevice(std::uint32_t PageAddress) {
  // The map offset is a long; on a 32-bit long an address at or above 2 GiB (the BCM2711's)
  // cannot be passed, so only /dev/gpiomem can reach that page.
  const bool FitsOffset = static_cast<std::uint64_t>(PageAddress) <=
                          static_cast<std::uint64_t>(std::numeric_limits<long>::max());
  if (FitsOffset) {
    const int File = Platform.OpenDevice("/dev/mem");
    if (File >= 0) return GpioDevice{File, static_cast<long>(PageAddress)};
  }
  // Without root, the GPIO page alone is open to members of the gpio group here.
  const int File = Platform.OpenDevice("/dev/gpiomem");
  if (File >= 0) return GpioDevice{File, 0};
  return GpioDevice{-1, 0};
}
