// Fuzz target: menu placeholder expansion and the capture command builder, with
// templates, menu values, directory, file name and capture number at their limits.
//
// Input, one field per line (a field "*N text" is text repeated to N characters):
//   line 0: capture number, preview size, clock (decimal integers separated by blanks)
//   line 1: a preview template, expanded by the menu placeholders alone
//   lines 2-5: Directory, Filename, PreviewSmall, PreviewLarge
//   lines 6 on: one menu each, "SELECTION KEYWORD,VALUE1,VALUE2,..."; an empty piece is an
//   absent entry, an absent keyword ends the menus as a missing line does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "app/Capture.h"
#include "state/Globals.h"

namespace {

using fuzzsupport::ExpandRepeat;
using fuzzsupport::GuardedText;
using fuzzsupport::NextField;

std::time_t ScriptedNow = 0;
std::time_t ReadScriptedClock() {
  return ScriptedNow;
}

char* HeapCopy(const std::string& Text) {
  char* Copy = static_cast<char*>(std::malloc(Text.size() + 1));
  if (Copy == nullptr) std::abort();
  std::memcpy(Copy, Text.c_str(), Text.size() + 1);
  return Copy;
}

// "SELECTION KEYWORD,VALUE1,..." into menu Menu of ThisConfig.
void LoadMenu(int Menu, const std::string& Line) {
  const char* Cursor = Line.c_str();
  char* AfterNumber = nullptr;
  const long Selection = std::strtol(Cursor, &AfterNumber, 10);
  ThisConfigSave.MenuSelection[Menu] = static_cast<std::int32_t>(Selection);
  if (*AfterNumber == ' ') ++AfterNumber;
  const char* End = Line.c_str() + Line.size();
  Cursor = AfterNumber;
  for (int Entry = 0; Entry < MenuEntryCount && Cursor < End; ++Entry) {
    std::string Piece = ExpandRepeat(NextField(&Cursor, End, ','));
    if (!Piece.empty()) ThisConfig.MenuValue[Menu][Entry] = HeapCopy(Piece);
  }
}

void LoadNumbers(const std::string& Line) {
  const char* Cursor = Line.c_str();
  char* Next = nullptr;
  ThisConfigSave.ID = static_cast<std::int32_t>(std::strtoll(Cursor, &Next, 10));
  ThisConfigSave.PreviewSize = static_cast<std::int32_t>(std::strtoll(Next, &Next, 10));
  ScriptedNow = static_cast<std::time_t>(std::strtoll(Next, &Next, 10));
}

// Nothing outside the buffer changed and the text fits 4096 characters.
void CheckBounded(const GuardedText& Command) {
  FUZZ_CHECK(Command.CanariesIntact());
  FUZZ_CHECK(Command.Terminated());
}

// The capture template: committed value of the first menu named "EXEC", as the builder
// chooses it; null when there is none.
const char* ChosenTemplate() {
  for (int i = 0; i < MenuCount; ++i) {
    const char* Keyword = ThisConfig.MenuValue[i][0];
    if (Keyword == nullptr || std::strcmp(Keyword, "EXEC") != 0) continue;
    const std::int32_t Selection = ThisConfigSave.MenuSelection[i];
    if (Selection < 0 || Selection >= MenuEntryCount) return nullptr;
    return ThisConfig.MenuValue[i][Selection];
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  Platform = fuzzsupport::QuietPlatform();
  Platform.Now = ReadScriptedClock;
  ReleaseConfigTexts();
  ThisConfigSave = ConfigSaveStruct{};
  for (std::int32_t& Selection : ThisConfigSave.MenuSelection) Selection = 1;

  const char* Cursor = reinterpret_cast<const char*>(Data);
  const char* End = Cursor + Size;
  LoadNumbers(NextField(&Cursor, End, '\n'));
  const std::string Preview = ExpandRepeat(NextField(&Cursor, End, '\n'));
  StrCopy(ThisConfig.Directory, ExpandRepeat(NextField(&Cursor, End, '\n')).c_str(), TextSize);
  StrCopy(ThisConfig.Filename, ExpandRepeat(NextField(&Cursor, End, '\n')).c_str(), TextSize);
  StrCopy(ThisConfig.PreviewSmall, ExpandRepeat(NextField(&Cursor, End, '\n')).c_str(), TextSize);
  StrCopy(ThisConfig.PreviewLarge, ExpandRepeat(NextField(&Cursor, End, '\n')).c_str(), TextSize);
  for (int Menu = 0; Menu < MenuCount && Cursor < End; ++Menu) {
    LoadMenu(Menu, NextField(&Cursor, End, '\n'));
  }

  GuardedText PreviewCommand(Preview);
  ExpandMenuPlaceholders(PreviewCommand.Text);
  CheckBounded(PreviewCommand);

  // Without a "[" nothing can be expanded: the command is the template, cut to fit.
  if (Preview.find('[') == std::string::npos) {
    FUZZ_CHECK(std::strncmp(PreviewCommand.Text, Preview.c_str(), TextSize - 1) == 0);
  }

  const char* Template = ChosenTemplate();
  std::string Expected = Template != nullptr ? Template : "";
  if (Expected.size() > TextSize - 1) Expected.resize(TextSize - 1);
  for (char& C : Expected) C = C == '`' ? ',' : C;

  const std::uint32_t IdBefore = static_cast<std::uint32_t>(ThisConfigSave.ID);
  GuardedText Capture("leftover text the builder must clear");
  const bool IsCommand = BuildCaptureCommand(Capture.Text);
  CheckBounded(Capture);
  FUZZ_CHECK(IsCommand == (Expected != "PLAY"));
  const std::uint32_t Advance = IsCommand ? 1u : 0u;
  FUZZ_CHECK(static_cast<std::uint32_t>(ThisConfigSave.ID) == IdBefore + Advance);
  if (IsCommand && Expected.find('[') == std::string::npos) {
    FUZZ_CHECK(Expected == Capture.Text);
  }

  ReleaseConfigTexts();
  return 0;
}
