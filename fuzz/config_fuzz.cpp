// Fuzz target: the configuration reader on arbitrary file contents.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FuzzSupport.h"
#include "app/Config.h"
#include "state/Globals.h"

namespace {

// A menu entry is either absent or a non-empty piece of one line without a comma.
void CheckMenuTable(char* const (&Table)[MenuCount][MenuEntryCount]) {
  constexpr std::size_t LongestLine = 8191;
  for (const auto& Row : Table) {
    for (const char* Entry : Row) {
      if (Entry == nullptr) continue;
      const std::size_t Length = std::strlen(Entry);
      FUZZ_CHECK(Length > 0 && Length <= LongestLine);
      FUZZ_CHECK(std::strchr(Entry, ',') == nullptr);
    }
  }
}

void CheckPinList(const std::uint32_t (&List)[PinListSize], int Count) {
  FUZZ_CHECK(Count >= 0 && Count <= PinListSize);
  for (int i = Count; i < PinListSize; ++i) FUZZ_CHECK(List[i] == NoPin);
}

void CheckTextField(const char (&Field)[TextSize]) {
  FUZZ_CHECK(strnlen(Field, TextSize) < TextSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static fuzzsupport::ScratchFile File;
  Platform = fuzzsupport::QuietPlatform();
  GPIO = nullptr;

  ReadConfig(File.Write(Data, Size));

  CheckMenuTable(ThisConfig.Menu);
  CheckMenuTable(ThisConfig.MenuValue);
  CheckPinList(GPIO_Input_Pin, InputPinCount);
  CheckPinList(GPIO_Output_Pin, OutputPinCount);
  for (const auto* Field : {&ThisConfig.Play, &ThisConfig.PreviewSmall, &ThisConfig.PreviewLarge,
                            &ThisConfig.Preview, &ThisConfig.Directory, &ThisConfig.Filename}) {
    CheckTextField(*Field);
  }
  for (const char* Name : ThisConfig.DirList) FUZZ_CHECK(Name == nullptr);

  ReleaseConfigTexts();
  return 0;
}
