// Recording hooks and scratch directories shared by the unit tests.
#include "TestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "app/SavedState.h"

namespace testsupport {

World& TheWorld() {
  static World Instance;
  return Instance;
}

namespace {

void RecordRunShell(const char* Command) {
  TheWorld().Commands.emplace_back(Command);
}

bool ScriptedReadFirstLine(const char* Command, char* Out, int Size) {
  World& W = TheWorld();
  W.Commands.emplace_back(Command);
  if (W.QueriesCannotRun) {
    if (Size > 0) Out[0] = 0;
    return false;
  }
  std::string Answer = W.DefaultFirstLine;
  if (!W.FirstLineAnswers.empty()) {
    Answer = W.FirstLineAnswers.front();
    W.FirstLineAnswers.pop_front();
  }
  if (Size <= 0) return true;
  std::strncpy(Out, Answer.c_str(), static_cast<std::size_t>(Size) - 1);
  Out[Size - 1] = 0;
  return true;
}

bool ScriptedCommandFound(const char* Name) {
  World& W = TheWorld();
  W.LookedUp.emplace_back(Name);
  return std::find(W.MissingCommands.begin(), W.MissingCommands.end(), Name) ==
         W.MissingCommands.end();
}

std::time_t FixedNow() {
  return TheWorld().Clock;
}

std::int64_t ScriptedSteadyMs() {
  return TheWorld().SteadyMs;
}

int ScriptedReadByte(unsigned char* Byte) {
  World& W = TheWorld();
  if (W.Input.empty()) return 0;
  *Byte = W.Input.front();
  W.Input.pop_front();
  W.SteadyMs += W.MsPerByte;
  return 1;
}

int ScriptedWait(int TimeoutMs) {
  World& W = TheWorld();
  ++W.WaitCalls;
  if (W.Input.empty()) W.SteadyMs += TimeoutMs;
  return W.Input.empty() ? 0 : 1;
}

void CaptureOutput(const char* Data, std::size_t Size) {
  TheWorld().Output.append(Data, Size);
}

std::vector<std::string> NoGpioChips() {
  return {};
}

int ScriptedFolder(const char* Folder, std::uint64_t* FreeBytes) {
  World& W = TheWorld();
  W.FoldersAsked.emplace_back(Folder);
  *FreeBytes = W.FreeBytes;
  return W.FolderError;
}

int ScriptedMakeFolder(const char* Folder) {
  TheWorld().FoldersMade.emplace_back(Folder);
  return TheWorld().MakeFolderError;
}

std::vector<std::string> ScriptedFolderNames(const char* Folder) {
  TheWorld().FoldersAsked.emplace_back(Folder);
  return TheWorld().FolderNames;
}

}  // namespace

void InstallRecordingPlatform() {
  TheWorld() = World{};
  // File sync, device open and the kernel's terminal size stay the production ones; no
  // GPIO chip is listed, so the kernel's GPIO lines are never asked; the capture folder is
  // scripted.
  Platform = ProductionPlatform();
  Platform.ListGpioChips = NoGpioChips;
  Platform.RunShell = RecordRunShell;
  Platform.ReadFirstLine = ScriptedReadFirstLine;
  Platform.CommandFound = ScriptedCommandFound;
  Platform.Now = FixedNow;
  Platform.MonotonicMs = ScriptedSteadyMs;
  Platform.ReadInputByte = ScriptedReadByte;
  Platform.WaitForInput = ScriptedWait;
  Platform.WriteOutput = CaptureOutput;
  Platform.InspectFolder = ScriptedFolder;
  Platform.MakeFolder = ScriptedMakeFolder;
  Platform.ListFolder = ScriptedFolderNames;
}

std::time_t LocalTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  std::tm When{};
  When.tm_year = Year - 1900;
  When.tm_mon = Month - 1;
  When.tm_mday = Day;
  When.tm_hour = Hour;
  When.tm_min = Minute;
  When.tm_sec = Second;
  When.tm_isdst = -1;
  return std::mktime(&When);
}

ScratchDirectory::ScratchDirectory(const char* Purpose, bool Enter) {
  std::string Template = std::string("/tmp/harrowlight-") + Purpose + "-XXXXXX";
  if (mkdtemp(Template.data()) == nullptr) ADD_FAILURE() << "cannot make " << Template;
  Dir = Template;
  if (!Enter) return;
  Previous = std::filesystem::current_path().string();
  std::filesystem::current_path(Dir);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code Ignored;
  if (!Previous.empty()) std::filesystem::current_path(Previous, Ignored);
  std::filesystem::remove_all(Dir, Ignored);
}

char* HeapText(const char* Text) {
  std::size_t Size = std::strlen(Text) + 1;
  char* Copy = static_cast<char*>(std::malloc(Size));
  std::memcpy(Copy, Text, Size);
  return Copy;
}

static void SetTexts(char* (&Entries)[MenuEntryCount], std::initializer_list<const char*> Texts) {
  int Entry = 0;
  for (const char* Text : Texts) {
    std::free(Entries[Entry]);
    Entries[Entry++] = Text != nullptr ? HeapText(Text) : nullptr;
  }
}

void MenuLabels(int Menu, std::initializer_list<const char*> Texts) {
  SetTexts(ThisConfig.Menu[Menu], Texts);
}

void MenuValues(int Menu, std::initializer_list<const char*> Texts) {
  SetTexts(ThisConfig.MenuValue[Menu], Texts);
}

Bytes Encoded(const ConfigSaveStruct& State) {
  unsigned char Raw[StateFileSize];
  EncodeState(State, Raw);
  return Bytes(Raw, Raw + StateFileSize);
}

}  // namespace testsupport
