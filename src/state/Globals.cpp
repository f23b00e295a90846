// Definitions of the program-wide records and flags, and the output switches by index.
#include "state/Globals.h"

#include <climits>
#include <cstdlib>

#include "pins/Pins.h"

ConfigStruct ThisConfig;
ConfigSaveStruct ThisConfigSave;

std::uint32_t GPIO_Input_Pin[PinListSize];
std::uint32_t GPIO_Output_Pin[PinListSize];
int InputPinCount = 0;
int OutputPinCount = 0;

int ExitFlag = 0;
int ExitStatus = 0;
volatile std::sig_atomic_t ExitRequested = 0;
int Refresh = 0;
int TimePeriod = 0;
int PreviewCount = 0;
int AutoSaveCount = 0;
int SleepCount = 0;
int DisplayWidth = 0;
int DisplayHeight = 0;
int Rows = 0;

namespace {

// The pin of output Index, or NoPin when the index names no output.
std::uint32_t OutSwitchPin(int Index) {
  if (Index < 0 || Index >= OutSwitchCount) return NoPin;
  return static_cast<std::uint32_t>(ThisConfig.OutSwitch[Index]);
}

}  // namespace

void SetOutSwitch(int Index) {
  DrivePin(OutSwitchPin(Index), 1);
}

void ClearOutSwitch(int Index) {
  DrivePin(OutSwitchPin(Index), 0);
}

// Weak, so that a program's own definition takes its place at link time.
__attribute__((weak)) int SleepUnitTicks() {
  return SleepTicksPerUnit;
}

int SleepTicksFor(int SleepPeriod) {
  const int Unit = SleepUnitTicks();
  const int Limit = INT_MAX / Unit;
  if (SleepPeriod > Limit) return Limit * Unit;
  if (SleepPeriod < -Limit) return -Limit * Unit;
  return SleepPeriod * Unit;
}

void ReleasePlayList() {
  for (char*& Name : ThisConfig.DirList) {
    std::free(Name);
    Name = nullptr;
  }
}

void ReleaseConfigTexts() {
  ReleasePlayList();
  for (int i = 0; i < MenuCount; ++i) {
    for (int j = 0; j < MenuEntryCount; ++j) {
      std::free(ThisConfig.Menu[i][j]);
      ThisConfig.Menu[i][j] = nullptr;
      std::free(ThisConfig.MenuValue[i][j]);
      ThisConfig.MenuValue[i][j] = nullptr;
    }
  }
}
