// Definitions of the program-wide records and flags, the guarded output-pin writes and the
// kept start-up problems.
#include "state/Globals.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>

#include "platform/Platform.h"
#include "state/GpioLines.h"

ConfigStruct ThisConfig;
ConfigSaveStruct ThisConfigSave;

std::uint32_t GPIO_Input_Pin[PinListSize];
std::uint32_t GPIO_Output_Pin[PinListSize];
int InputPinCount = 0;
int OutputPinCount = 0;

RegisterBase GPIO = nullptr;

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

// A few are enough to tell what went wrong, and the menu must stay visible below them.
constexpr std::size_t MaxKeptErrorLines = 8;
std::vector<std::string> ErrorLines;

}  // namespace

void SetOutSwitch(int Index) {
  if (GPIO != nullptr) {
    GPIO_SetPin(GPIO, OutSwitchPin(Index));
  } else {
    SetGpioLine(OutSwitchPin(Index), 1);
  }
}

void ClearOutSwitch(int Index) {
  if (GPIO != nullptr) {
    GPIO_ClearPin(GPIO, OutSwitchPin(Index));
  } else {
    SetGpioLine(OutSwitchPin(Index), 0);
  }
}

void ReportAtStartUp(const char* Format, ...) {
  char Line[TextSize];
  va_list Args;
  va_start(Args, Format);
  const std::size_t Size = FormatInto(Line, sizeof Line, Format, Args);
  va_end(Args);
  if (Size == 0) return;
  Platform.WriteOutput(Line, Size);
  if (Line[Size - 1] == '\n') Line[Size - 1] = 0;
  KeepErrorLine(Line);
}

void KeepErrorLine(const char* Message) {
  if (ErrorLines.size() >= MaxKeptErrorLines) return;
  for (const std::string& Kept : ErrorLines) {
    if (Kept == Message) return;  // a failure that repeats each tick takes one line
  }
  ErrorLines.emplace_back(Message);
}

const std::vector<std::string>& KeptErrorLines() {
  return ErrorLines;
}

void DismissErrorLines() {
  ErrorLines.clear();
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
