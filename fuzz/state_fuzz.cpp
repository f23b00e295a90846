// Fuzz target: the saved-state loader and its range repair, with the round trip through
// the 280-byte record.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FuzzSupport.h"
#include "app/SavedState.h"
#include "state/Globals.h"

namespace {

// The first-run values the configuration reader leaves before the file is loaded.
ConfigSaveStruct FirstRunState() {
  ConfigSaveStruct State{};
  State.ID = 1;
  State.MenuItemPos = 1;
  State.SleepPeriod = 1;
  for (std::int32_t& Selection : State.MenuSelection) Selection = 1;
  return State;
}

void CheckInRange(const ConfigSaveStruct& State) {
  FUZZ_CHECK(State.MenuPos >= 0 && State.MenuPos < MenuCount);
  FUZZ_CHECK(State.MenuItemPos >= 1 && State.MenuItemPos < MenuEntryCount);
  for (std::int32_t Selection : State.MenuSelection) {
    FUZZ_CHECK(Selection >= 1 && Selection < MenuEntryCount);
  }
  FUZZ_CHECK(State.SleepPeriod >= 0 && State.SleepPeriod <= INT_MAX / SleepTicksPerUnit);
  FUZZ_CHECK(State.Mode >= ModeIdle && State.Mode <= ModePlayList);
}

bool SameRecord(const ConfigSaveStruct& Left, const ConfigSaveStruct& Right) {
  unsigned char LeftBytes[StateFileSize];
  unsigned char RightBytes[StateFileSize];
  EncodeState(Left, LeftBytes);
  EncodeState(Right, RightBytes);
  return std::memcmp(LeftBytes, RightBytes, StateFileSize) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static fuzzsupport::ScratchFile File;
  Platform = fuzzsupport::QuietPlatform();

  // A whole record decodes and encodes back to the same bytes.
  if (Size >= StateFileSize) {
    ConfigSaveStruct Raw{};
    DecodeState(Data, StateFileSize, Raw);
    unsigned char Bytes[StateFileSize];
    EncodeState(Raw, Bytes);
    FUZZ_CHECK(std::memcmp(Bytes, Data, StateFileSize) == 0);
  }

  // Repair brings every index into range, and a repaired record survives another save and
  // load unchanged.
  ConfigSaveStruct Loaded = FirstRunState();
  DecodeState(Data, Size, Loaded);
  ClampState(Loaded);
  CheckInRange(Loaded);
  unsigned char Saved[StateFileSize];
  EncodeState(Loaded, Saved);
  ConfigSaveStruct Reloaded = FirstRunState();
  DecodeState(Saved, StateFileSize, Reloaded);
  ClampState(Reloaded);
  unsigned char SavedAgain[StateFileSize];
  EncodeState(Reloaded, SavedAgain);
  FUZZ_CHECK(std::memcmp(Saved, SavedAgain, StateFileSize) == 0);

  // The file loader reads at most 280 bytes and agrees with the in-memory path.
  ThisConfigSave = FirstRunState();
  LoadConfigBinary(File.Write(Data, Size));
  FUZZ_CHECK(SameRecord(ThisConfigSave, Loaded));
  return 0;
}
