// Command templates: placeholder expansion and the capture started by Space.
#include "app/Capture.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/Globals.h"
#include "app/Playback.h"
#include "app/SavedState.h"
#include "platform/Platform.h"

namespace {

// Committed value of menu Menu; null when absent or when the selection lies outside the
// table (a selection of 0 names entry 0, the keyword, like any other index).
const char* CommittedValue(int Menu) {
  const int Selection = ThisConfigSave.MenuSelection[Menu];
  if (Selection < 0 || Selection >= MenuEntryCount) return nullptr;
  return ThisConfig.MenuValue[Menu][Selection];
}

// What menu Menu puts into a command: keyword, blank and committed value; nothing for
// "VOID"; keyword and blank alone when the item has no value.
void MenuOption(int Menu, char* Replacement) {
  const char* Value = CommittedValue(Menu);
  if (Value != nullptr && std::strcmp(Value, "VOID") == 0) {
    Replacement[0] = 0;
    return;
  }
  StrCopy(Replacement, ThisConfig.MenuValue[Menu][0], TextSize);
  StrAppend(Replacement, " ", TextSize);
  if (Value != nullptr) StrAppend(Replacement, Value, TextSize);
}

// The capture template: committed value of the first menu whose keyword is "EXEC".
// Menus without keyword are passed over. Null when there is none.
const char* CaptureTemplate() {
  for (int i = 0; i < MenuCount; ++i) {
    const char* Keyword = ThisConfig.MenuValue[i][0];
    if (Keyword != nullptr && std::strcmp(Keyword, "EXEC") == 0) return CommittedValue(i);
  }
  return nullptr;
}

// Menu values cannot hold a comma, so capture templates write a backquote in its place.
void BackquotesToCommas(char* Text) {
  for (char* Cursor = Text; *Cursor != 0; ++Cursor) {
    if (*Cursor == '`') *Cursor = ',';
  }
}

// Replaces every Placeholder in Command by Number with at least Digits digits, zero-padded
// on the left and never cut (the "%4.4u", "%2.2u" and "%6.6u" formats).
void ReplaceNumber(char* Command, const char* Placeholder, int Digits, unsigned Number) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.*u", Digits, Number);
  StrReplace(Command, Placeholder, Text);
}

// Date and time from one clock reading, so a capture never mixes two seconds.
void ExpandDateTime(char* Command) {
  const std::time_t Now = Platform.Now();
  std::tm Local{};
  if (localtime_r(&Now, &Local) == nullptr) Local = std::tm{};
  ReplaceNumber(Command, "[YEAR]", 4, static_cast<unsigned>(Local.tm_year + 1900));
  ReplaceNumber(Command, "[MONTH]", 2, static_cast<unsigned>(Local.tm_mon + 1));
  ReplaceNumber(Command, "[DAY]", 2, static_cast<unsigned>(Local.tm_mday));
  ReplaceNumber(Command, "[HOUR]", 2, static_cast<unsigned>(Local.tm_hour));
  ReplaceNumber(Command, "[MINUTE]", 2, static_cast<unsigned>(Local.tm_min));
  ReplaceNumber(Command, "[SECOND]", 2, static_cast<unsigned>(Local.tm_sec));
}

// "[ID]" takes the current capture number, which then advances by one. The number is
// printed unsigned and counts on through the 32-bit wrap instead of overflowing.
void ExpandCaptureNumber(char* Command) {
  const std::uint32_t Id = static_cast<std::uint32_t>(ThisConfigSave.ID);
  ReplaceNumber(Command, "[ID]", 6, Id);
  ThisConfigSave.ID = static_cast<std::int32_t>(Id + 1u);
}

}  // namespace

void ExpandMenuPlaceholders(char* Command) {
  char Placeholder[TextSize];
  char Replacement[TextSize];
  for (int i = 0; i < MenuCount && ThisConfig.MenuValue[i][0] != nullptr; ++i) {
    std::snprintf(Placeholder, sizeof Placeholder, "[%u]", static_cast<unsigned>(i));
    MenuOption(i, Replacement);
    StrReplace(Command, Placeholder, Replacement);
  }
  StrReplace(Command, "[PREVIEW_SIZE]",
             ThisConfigSave.PreviewSize != 0 ? ThisConfig.PreviewLarge : ThisConfig.PreviewSmall);
}

bool BuildCaptureCommand(char* Execute) {
  Execute[0] = 0;
  const char* Template = CaptureTemplate();
  if (Template != nullptr) StrCopy(Execute, Template, TextSize);
  BackquotesToCommas(Execute);
  if (std::strcmp(Execute, "PLAY") == 0) return false;

  ExpandMenuPlaceholders(Execute);
  char FileName[TextSize];
  StrCopy(FileName, ThisConfig.Directory, TextSize);
  StrAppend(FileName, ThisConfig.Filename, TextSize);
  StrReplace(Execute, "[FILENAME]", FileName);
  ExpandDateTime(Execute);
  ExpandCaptureNumber(Execute);
  return true;
}

void StartCapture() {
  char Execute[TextSize];
  if (BuildCaptureCommand(Execute)) {
    Platform.RunShell(Execute);
    ThisConfigSave.Mode = ModeRecording;
  } else {
    OpenPlayList();
  }
  SaveConfigBinary(StateFileName);
  Refresh = FlagSet;
}
