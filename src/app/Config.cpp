// Reads Harrowlight.ini into ThisConfig and the pin lists, then sets up the pins it names.
#include "app/Config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/Shell.h"
#include "errors/ErrorLines.h"
#include "pins/Pins.h"
#include "platform/Platform.h"
#include "state/Globals.h"

namespace {

// One read takes at most 8191 characters; a longer line arrives in several pieces.
constexpr int LineBufferSize = 8192;
// Free space a capture needs unless "CAPTURE_MIN_FREE_MB" says otherwise: a few stills or
// some seconds of video.
constexpr int DefaultCaptureMinFreeMiB = 16;

// Clears the configuration and seeds the state record with its first-run values.
void SetDefaults() {
  ReleaseConfigTexts();
  std::memset(&ThisConfig, 0, sizeof ThisConfig);
  for (int& Pin : ThisConfig.Switch) Pin = -1;
  for (std::uint32_t& Pin : GPIO_Input_Pin) Pin = NoPin;
  for (std::uint32_t& Pin : GPIO_Output_Pin) Pin = NoPin;
  InputPinCount = 0;
  OutputPinCount = 0;
  ThisConfig.CaptureMinFreeMiB = DefaultCaptureMinFreeMiB;
  ThisConfig.ConsolePalette = 1;
  ThisConfigSave.ID = 1;
  ThisConfigSave.SleepPeriod = 1;
  ThisConfigSave.MenuItemPos = 1;
  for (std::int32_t& Selection : ThisConfigSave.MenuSelection) Selection = 1;
}

// Cuts Value at every comma and stores the non-empty pieces at entries 0, 1, 2, ... of
// Row, replacing what those entries held. Pieces beyond the row's 64 entries are dropped.
void SplitMenuLine(char* (&Row)[MenuEntryCount], const char* Value) {
  int Entry = 0;
  const char* Piece = Value;
  while (Entry < MenuEntryCount) {
    const char* Comma = std::strchr(Piece, ',');
    std::size_t Length =
        Comma != nullptr ? static_cast<std::size_t>(Comma - Piece) : std::strlen(Piece);
    if (Length > 0) {
      char* Copy = strndup(Piece, Length);
      // Without memory the entry keeps its earlier text rather than losing it.
      if (Copy != nullptr) {
        std::free(Row[Entry]);
        Row[Entry] = Copy;
      }
      ++Entry;
    }
    if (Comma == nullptr) break;
    Piece = Comma + 1;
  }
}

// A menu number behind "MENU_" or "MENU_VALUE_"; lines for menus outside 0-63 are ignored.
void ReadMenuLine(char* (&Table)[MenuCount][MenuEntryCount], const char* Number,
                  const char* Value) {
  int Menu = ParseDecimal(Number);
  if (Menu < 0 || Menu >= MenuCount) return;
  SplitMenuLine(Table[Menu], Value);
}

// "SWITCH_n" and "OUT_SWITCH_n": the pin goes into slot n - 1 and onto the end of the pin
// list. A line naming no slot, or arriving when the list is full, is ignored whole, so the
// slots and the configured pins always agree.
void ReadPinLine(int* Slots, int SlotCount, std::uint32_t* PinList, int* PinCount,
                 const char* Number, const char* Value) {
  int Slot = ParseDecimal(Number);
  if (Slot < 1 || Slot > SlotCount) return;
  if (*PinCount >= PinListSize) return;
  int Pin = ParseDecimal(Value);
  Slots[Slot - 1] = Pin;
  PinList[(*PinCount)++] = static_cast<std::uint32_t>(Pin);
}

// The blank-separated words of Value.
std::vector<std::string> SplitWords(const char* Value) {
  std::vector<std::string> Words;
  std::string Word;
  for (const char* Character = Value;; ++Character) {
    if (*Character == ' ' || *Character == '\t' || *Character == 0) {
      if (!Word.empty()) Words.push_back(Word);
      Word.clear();
      if (*Character == 0) break;
    } else {
      Word.push_back(*Character);
    }
  }
  return Words;
}

// "CAMERA_PROCESSES": one to four process names for the camera tools. The names reach the
// shell, so a line with any unsafe name, or with too many, is ignored whole and the names
// in force stay.
void ReadCameraProcesses(const char* /*Number*/, const char* Value) {
  const std::vector<std::string> Names = SplitWords(Value);
  if (Names.empty() || Names.size() > static_cast<std::size_t>(CameraProcessMax)) return;
  for (const std::string& Name : Names) {
    if (!IsSafeProcessName(Name)) return;
  }
  std::memset(ThisConfig.CameraProcess, 0, sizeof ThisConfig.CameraProcess);
  for (std::size_t I = 0; I < Names.size(); ++I) {
    StrCopy(ThisConfig.CameraProcess[I], Names[I].c_str(), ProcessNameSize);
  }
}

// "PLAYER_PROCESS": the player's process name; an unsafe one is ignored.
void ReadPlayerProcess(const char* /*Number*/, const char* Value) {
  if (!IsSafeProcessName(Value)) return;
  StrCopy(ThisConfig.PlayerProcess, Value, ProcessNameSize);
}

template <int ConfigStruct::*Field>
void SetNumber(const char* /*Number*/, const char* Value) {
  ThisConfig.*Field = ParseDecimal(Value);
}

void SetStartId(const char* /*Number*/, const char* Value) {
  ThisConfigSave.ID = ParseDecimal(Value);
}

// A text over 4096 characters is cut to fit its field.
template <char (ConfigStruct::*Field)[TextSize]>
void SetText(const char* /*Number*/, const char* Value) {
  StrCopy(ThisConfig.*Field, Value, TextSize);
}

void SetOutputPin(const char* Number, const char* Value) {
  ReadPinLine(ThisConfig.OutSwitch, OutSwitchCount, GPIO_Output_Pin, &OutputPinCount, Number,
              Value);
}

void SetButtonPin(const char* Number, const char* Value) {
  ReadPinLine(ThisConfig.Switch, SwitchCount, GPIO_Input_Pin, &InputPinCount, Number, Value);
}

void SetMenuValues(const char* Number, const char* Value) {
  ReadMenuLine(ThisConfig.MenuValue, Number, Value);
}

void SetMenuTitles(const char* Number, const char* Value) {
  ReadMenuLine(ThisConfig.Menu, Number, Value);
}

// One configuration key: how it is matched and what it sets. A prefix rule hands on the
// text after the prefix (the menu, button or output number); an exact rule hands on "".
struct ConfigRule {
  const char* Key;
  KeyMatch Match;
  void (*Apply)(const char* Number, const char* Value);
};

// Tried in order; the first match wins. "MENU_VALUE_" comes before "MENU_", which every
// "MENU_VALUE_" key also begins with.
const ConfigRule ConfigRules[] = {
    {"BORDER_TOP", KeyMatch::Exact, SetNumber<&ConfigStruct::BorderTop>},
    {"BORDER_LEFT", KeyMatch::Exact, SetNumber<&ConfigStruct::BorderLeft>},
    {"ITEM_WIDTH", KeyMatch::Exact, SetNumber<&ConfigStruct::ItemWidth>},
    {"ITEM_HEIGHT", KeyMatch::Exact, SetNumber<&ConfigStruct::ItemHeight>},
    {"ID_START", KeyMatch::Exact, SetStartId},
    {"PLAY", KeyMatch::Exact, SetText<&ConfigStruct::Play>},
    {"PREVIEW_SMALL", KeyMatch::Exact, SetText<&ConfigStruct::PreviewSmall>},
    {"PREVIEW_LARGE", KeyMatch::Exact, SetText<&ConfigStruct::PreviewLarge>},
    {"PREVIEW", KeyMatch::Exact, SetText<&ConfigStruct::Preview>},
    {"DIRECTORY", KeyMatch::Exact, SetText<&ConfigStruct::Directory>},
    {"FILENAME", KeyMatch::Exact, SetText<&ConfigStruct::Filename>},
    {"GPIO_CHIP", KeyMatch::Exact, SetText<&ConfigStruct::GpioChip>},
    {"GPIO_LED", KeyMatch::Exact, SetNumber<&ConfigStruct::GPIO_LED>},
    {"GPIO_LCD", KeyMatch::Exact, SetNumber<&ConfigStruct::GPIO_LCD>},
    {"CAPTURE_MIN_FREE_MB", KeyMatch::Exact, SetNumber<&ConfigStruct::CaptureMinFreeMiB>},
    {"CONSOLE_PALETTE", KeyMatch::Exact, SetNumber<&ConfigStruct::ConsolePalette>},
    {"CAMERA_PROCESSES", KeyMatch::Exact, ReadCameraProcesses},
    {"PLAYER_PROCESS", KeyMatch::Exact, ReadPlayerProcess},
    {"OUT_SWITCH_", KeyMatch::Prefix, SetOutputPin},
    {"SWITCH_", KeyMatch::Prefix, SetButtonPin},
    {"MENU_VALUE_", KeyMatch::Prefix, SetMenuValues},
    {"MENU_", KeyMatch::Prefix, SetMenuTitles},
};

// Applies one key and value; keys no rule matches are ignored.
void ApplySetting(const char* Key, const char* Value) {
  for (const ConfigRule& Rule : ConfigRules) {
    if (MatchesKey(Key, Rule.Key, Rule.Match)) {
      Rule.Apply(Key + std::strlen(Rule.Key), Value);
      return;
    }
  }
}

// Handles one trimmed line (or piece of an over-long line).
void ReadLine(char* Line) {
  char* Text = StrTrim(Line);
  if (Text[0] == 0 || Text[0] == '#') return;
  char* Equals = std::strchr(Text, '=');
  if (Equals == nullptr) return;
  *Equals = 0;
  const char* Key = StrTrim(Text);
  const char* Value = StrTrim(Equals + 1);
  ApplySetting(Key, Value);
}

}  // namespace

void ReadConfig(const char* Filename) {
  SetDefaults();
  std::FILE* File = std::fopen(Filename, "r");
  if (File == nullptr) {
    ReportAtStartUp("Failed to open file: %s\n", Filename);
    return;
  }
  char Line[LineBufferSize];
  while (std::fgets(Line, LineBufferSize, File) != nullptr) ReadLine(Line);
  std::fclose(File);
  SetUpPins(ThisConfig.GpioChip, GPIO_Input_Pin, InputPinCount, GPIO_Output_Pin, OutputPinCount);
}
