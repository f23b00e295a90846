// Command templates: placeholder expansion and the capture started by Space.
#include "app/Capture.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/Display.h"
#include "app/Playback.h"
#include "app/SavedState.h"
#include "app/Shell.h"
#include "platform/Platform.h"
#include "state/Globals.h"

namespace {

// Longest command the shell is handed (the text buffers hold 4096 characters).
constexpr std::size_t CommandLimit = TextSize - 1;
constexpr std::uint64_t BytesPerMiB = std::uint64_t{1024} * 1024;
// Numbers tried for a free capture file name before the capture is refused.
constexpr std::uint32_t FreeNameTries = 10000;
constexpr const char* TooLongMessage = "Capture command too long, not run.";

// Committed value of menu Menu; null when absent or when the selection lies outside the
// table (a selection of 0 names entry 0, the keyword, like any other index).
const char* CommittedValue(int Menu) {
  const int Selection = ThisConfigSave.MenuSelection[Menu];
  if (Selection < 0 || Selection >= MenuEntryCount) return nullptr;
  return ThisConfig.MenuValue[Menu][Selection];
}

// What menu Menu puts into a command: keyword, blank and committed value; nothing for
// "VOID"; keyword and blank alone when the item has no value.
// False when that text does not fit 4096 characters and was cut.
bool MenuOption(int Menu, char* Replacement) {
  const char* Value = CommittedValue(Menu);
  if (Value != nullptr && std::strcmp(Value, "VOID") == 0) {
    Replacement[0] = 0;
    return true;
  }
  const char* Keyword = ThisConfig.MenuValue[Menu][0];
  StrCopy(Replacement, Keyword, TextSize);
  StrAppend(Replacement, " ", TextSize);
  if (Value != nullptr) StrAppend(Replacement, Value, TextSize);
  return std::strlen(Keyword) + 1 + (Value != nullptr ? std::strlen(Value) : 0) <= CommandLimit;
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

// Replaces every Find in Text (a TextSize buffer) and tells whether the result fit: a
// command cut at 4096 characters may have lost its closing quote or its "&".
bool ReplaceWhole(char* Text, const char* Find, const char* Replace) {
  const bool Fits = StrReplacedLength(Text, Find, Replace) <= CommandLimit;
  StrReplace(Text, Find, Replace);
  return Fits;
}

// Replaces every Placeholder in Command by Number with at least Digits digits, zero-padded
// on the left and never cut (the "%4.4u", "%2.2u" and "%6.6u" formats).
bool ReplaceNumber(char* Command, const char* Placeholder, int Digits, unsigned Number) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.*u", Digits, Number);
  return ReplaceWhole(Command, Placeholder, Text);
}

// One reading of the clock as local time, so a capture never mixes two seconds.
std::tm LocalNow() {
  const std::time_t Now = Platform.Now();
  std::tm Local{};
  if (localtime_r(&Now, &Local) == nullptr) Local = std::tm{};
  return Local;
}

bool ExpandDateTime(char* Command, const std::tm& Local) {
  bool Fits = ReplaceNumber(Command, "[YEAR]", 4, static_cast<unsigned>(Local.tm_year + 1900));
  Fits &= ReplaceNumber(Command, "[MONTH]", 2, static_cast<unsigned>(Local.tm_mon + 1));
  Fits &= ReplaceNumber(Command, "[DAY]", 2, static_cast<unsigned>(Local.tm_mday));
  Fits &= ReplaceNumber(Command, "[HOUR]", 2, static_cast<unsigned>(Local.tm_hour));
  Fits &= ReplaceNumber(Command, "[MINUTE]", 2, static_cast<unsigned>(Local.tm_min));
  Fits &= ReplaceNumber(Command, "[SECOND]", 2, static_cast<unsigned>(Local.tm_sec));
  return Fits;
}

// The capture template chosen in the "EXEC" menu, backquotes as commas; false for "PLAY".
bool ChooseTemplate(char* Execute) {
  Execute[0] = 0;
  const char* Template = CaptureTemplate();
  if (Template != nullptr) StrCopy(Execute, Template, TextSize);
  BackquotesToCommas(Execute);
  return std::strcmp(Execute, "PLAY") != 0;
}

// "[FILENAME]" before the date and the number go in: Directory followed by Filename.
bool JoinFileName(char* Name) {
  StrCopy(Name, ThisConfig.Directory, TextSize);
  StrAppend(Name, ThisConfig.Filename, TextSize);
  return std::strlen(ThisConfig.Directory) + std::strlen(ThisConfig.Filename) <= CommandLimit;
}

// The capture steps after the menu placeholders: "[FILENAME]", the date and time, "[ID]"
// with Id. False when the result had to be cut.
bool ExpandCaptureSteps(char* Execute, std::uint32_t Id, const std::tm& Local) {
  char FileName[TextSize];
  bool Fits = JoinFileName(FileName);
  Fits &= ReplaceWhole(Execute, "[FILENAME]", FileName);
  Fits &= ExpandDateTime(Execute, Local);
  Fits &= ReplaceNumber(Execute, "[ID]", 6, Id);
  return Fits;
}

// The file the capture writes (or the stem its tool adds an extension to) for number Id.
bool ExpandFileName(char* Name, std::uint32_t Id, const std::tm& Local) {
  StrCopy(Name, "[FILENAME]", TextSize);
  return ExpandCaptureSteps(Name, Id, Local);
}

// True when Names (sorted) holds Stem itself, or Stem followed by anything but a digit:
// "IMG_000007" is taken by "IMG_000007.jpg" or "IMG_000007_0001.jpg", but not by
// "IMG_0000071.jpg".
bool NameTaken(const std::vector<std::string>& Names, const std::string& Stem) {
  for (auto At = std::lower_bound(Names.begin(), Names.end(), Stem);
       At != Names.end() && At->compare(0, Stem.size(), Stem) == 0; ++At) {
    if (At->size() == Stem.size()) return true;
    const char After = (*At)[Stem.size()];
    if (After < '0' || After > '9') return true;
  }
  return false;
}

const char* FolderProblem(int Error) {
  if (Error == ENOENT || Error == ENOTDIR) return "Capture folder missing.";
  if (Error == ENOSPC || Error == EDQUOT) return "Card full.";
  return "Capture folder not writable.";
}

// Null when Folder exists, may be written and has room, else the message for the error
// line.
const char* CheckCaptureFolder(const std::string& Folder) {
  std::uint64_t FreeBytes = 0;
  const int Error = Platform.InspectFolder(Folder.c_str(), &FreeBytes);
  if (Error != 0) return FolderProblem(Error);
  const int MinimumMiB = ThisConfig.CaptureMinFreeMiB;
  if (MinimumMiB > 0 && FreeBytes < static_cast<std::uint64_t>(MinimumMiB) * BytesPerMiB) {
    return "Card full.";
  }
  return nullptr;
}

// The placeholders a capture file name may hold, expanded after "[FILENAME]".
constexpr const char* FileNamePlaceholders[] = {"[YEAR]",   "[MONTH]",  "[DAY]", "[HOUR]",
                                                "[MINUTE]", "[SECOND]", "[ID]"};

// Length of the fixed part of Pattern: the text before its first placeholder.
std::size_t FixedPartLength(const char* Pattern) {
  std::size_t Length = std::strlen(Pattern);
  for (const char* Placeholder : FileNamePlaceholders) {
    const char* At = std::strstr(Pattern, Placeholder);
    if (At != nullptr) Length = std::min(Length, static_cast<std::size_t>(At - Pattern));
  }
  return Length;
}

// Makes the folders of Folder that placeholders named ("takes/[YEAR]-[MONTH]/" gives
// "takes/2014-03"), one level at a time below the folder the fixed part of the file-name
// pattern ends in. That folder itself is never made: without it (a card not mounted) the
// first level fails and nothing is made. Null, or the message for the error line.
const char* MakeDatedFolders(const std::string& Folder) {
  char Pattern[TextSize];
  JoinFileName(Pattern);
  const std::string Fixed(Pattern, FixedPartLength(Pattern));
  const std::string::size_type FixedSlash = Fixed.rfind('/');
  std::string::size_type From = FixedSlash == std::string::npos ? 0 : FixedSlash + 1;
  const std::string Path = Folder + "/";
  for (std::string::size_type Slash = Path.find('/', From); Slash != std::string::npos;
       Slash = Path.find('/', From)) {
    if (Slash > From) {
      const int Error = Platform.MakeFolder(Path.substr(0, Slash).c_str());
      if (Error != 0) return FolderProblem(Error);
    }
    From = Slash + 1;
  }
  return nullptr;
}

// From *Id on, the first number whose file name Folder does not hold yet. False when none
// of FreeNameTries numbers gives a free name (as with a pattern without "[ID]").
bool FindFreeNumber(std::uint32_t* Id, const std::tm& Local, const std::string& Folder) {
  const std::vector<std::string> Names = Platform.ListFolder(Folder.c_str());
  char Name[TextSize];
  for (std::uint32_t Try = 0; Try < FreeNameTries; ++Try) {
    const std::uint32_t Candidate = *Id + Try;  // counts on through the 32-bit wrap
    ExpandFileName(Name, Candidate, Local);
    const char* Slash = std::strrchr(Name, '/');
    if (!NameTaken(Names, Slash != nullptr ? Slash + 1 : Name)) {
      *Id = Candidate;
      return true;
    }
  }
  return false;
}

// For a command that writes "[FILENAME]": the folder must exist, be writable and have
// room, and the number moves on past names already taken, so no capture overwrites an
// earlier one. Null when the capture may go ahead with *Id, else the error-line message.
const char* PrepareFileName(std::uint32_t* Id, const std::tm& Local) {
  char Name[TextSize];
  if (!ExpandFileName(Name, *Id, Local)) return TooLongMessage;
  const std::string Folder = DirectoryOf(Name);
  if (const char* Problem = MakeDatedFolders(Folder)) return Problem;
  if (const char* Problem = CheckCaptureFolder(Folder)) return Problem;
  if (!FindFreeNumber(Id, Local, Folder)) return "No free capture file name.";
  // With "[ID]" in a folder's name, a later number names another folder.
  ExpandFileName(Name, *Id, Local);
  const std::string Chosen = DirectoryOf(Name);
  return Chosen == Folder ? nullptr : MakeDatedFolders(Chosen);
}

}  // namespace

bool ExpandMenuPlaceholders(char* Command) {
  char Placeholder[TextSize];
  char Replacement[TextSize];
  bool Fits = true;
  for (int i = 0; i < MenuCount && ThisConfig.MenuValue[i][0] != nullptr; ++i) {
    std::snprintf(Placeholder, sizeof Placeholder, "[%u]", static_cast<unsigned>(i));
    // Only a menu the command names is measured: an over-long value elsewhere (a capture
    // template that the preview does not use) is no reason to refuse this command.
    if (std::strstr(Command, Placeholder) == nullptr) continue;
    Fits &= MenuOption(i, Replacement);
    Fits &= ReplaceWhole(Command, Placeholder, Replacement);
  }
  Fits &= ReplaceWhole(
      Command, "[PREVIEW_SIZE]",
      ThisConfigSave.PreviewSize != 0 ? ThisConfig.PreviewLarge : ThisConfig.PreviewSmall);
  return Fits;
}

bool BuildCaptureCommand(char* Execute) {
  if (!ChooseTemplate(Execute)) return false;
  const auto Id = static_cast<std::uint32_t>(ThisConfigSave.ID);
  ExpandMenuPlaceholders(Execute);
  ExpandCaptureSteps(Execute, Id, LocalNow());
  ThisConfigSave.ID = static_cast<std::int32_t>(Id + 1u);
  return true;
}

CapturePlan PlanCapture(char* Execute) {
  if (!ChooseTemplate(Execute)) return CapturePlan::PlayList;
  const std::tm Local = LocalNow();
  auto Id = static_cast<std::uint32_t>(ThisConfigSave.ID);
  bool Fits = ExpandMenuPlaceholders(Execute);
  // Only a command that names the capture file is checked against its folder.
  const char* Problem = nullptr;
  if (std::strstr(Execute, "[FILENAME]") != nullptr) Problem = PrepareFileName(&Id, Local);
  if (Problem == nullptr && !(ExpandCaptureSteps(Execute, Id, Local) && Fits)) {
    Problem = TooLongMessage;
  }
  if (Problem != nullptr) {
    DisplayError(Problem);
    return CapturePlan::Refused;
  }
  // The next capture gets the number after the one used, counting on through the wrap.
  ThisConfigSave.ID = static_cast<std::int32_t>(Id + 1u);
  return CapturePlan::Command;
}

void RunCapture(CapturePlan Plan, const char* Execute) {
  if (Plan == CapturePlan::Refused) return;
  if (Plan == CapturePlan::Command) {
    ReportMissingCommand(Execute, CameraToolMissingLabel);
    Platform.RunShell(Execute);
    ThisConfigSave.Mode = ModeRecording;
  } else {
    OpenPlayList();
  }
  SaveConfigBinary(StateFileName);
  Refresh = FlagSet;
}

bool StartCapture() {
  char Execute[TextSize];
  const CapturePlan Plan = PlanCapture(Execute);
  RunCapture(Plan, Execute);
  return Plan != CapturePlan::Refused;
}
