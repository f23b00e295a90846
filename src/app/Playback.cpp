// The playback list: scanning the capture directory for recordings, moving through the
// list and starting or stopping the player on the highlighted one.
#include "app/Playback.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Display.h"
#include "app/Shell.h"
#include "platform/Platform.h"
#include "state/Globals.h"

namespace {

constexpr const char* FileNamePlaceholder = "[FILENAME]";
// Longest command the shell is handed (the text buffers hold 4096 characters).
constexpr std::size_t CommandLimit = TextSize - 1;

bool HasRecordingSuffix(const char* Name) {
  const char* Dot = std::strchr(Name, '.');
  if (Dot == nullptr) return false;
  return std::strcmp(Dot, ".jpg") == 0 || std::strcmp(Dot, ".h264") == 0;
}

// Recording names may also hold these, which the shell reads as part of a plain word.
constexpr const char* FileNamePunctuation = ",@%:=";

// The name at Index, or null when Index lies outside the list or holds no name.
const char* NameAt(long long Index) {
  if (Index < 0 || Index >= DirListSize) return nullptr;
  return ThisConfig.DirList[Index];
}

// Entries a page key moves: two fewer than the screen rows, so one row of the old page
// stays in view. On terminals of fewer than three rows a page is one entry.
long long PageStep() {
  long long Step = static_cast<long long>(DisplayHeight) - 2;
  return Step < 1 ? 1 : Step;
}

// Highlights entry Target when it holds a name; otherwise the highlight stays.
void HighlightEntry(long long Target) {
  if (NameAt(Target) != nullptr) ThisConfig.DirPos = static_cast<int>(Target);
}

void MoveUp() {
  if (ThisConfig.DirPos > 0) HighlightEntry(static_cast<long long>(ThisConfig.DirPos) - 1);
}

void MoveDown() {
  HighlightEntry(static_cast<long long>(ThisConfig.DirPos) + 1);
}

// Refuses a target past the last name.
void PageForward() {
  HighlightEntry(static_cast<long long>(ThisConfig.DirPos) + PageStep());
}

// Stops at the first name.
void PageBack() {
  long long Target = static_cast<long long>(ThisConfig.DirPos) - PageStep();
  ThisConfig.DirPos = Target < 0 ? 0 : static_cast<int>(Target);
}

std::size_t CountOccurrences(const char* Text, const char* Find) {
  std::size_t Count = 0;
  std::size_t FindLength = std::strlen(Find);
  for (const char* At = std::strstr(Text, Find); At != nullptr;
       At = std::strstr(At + FindLength, Find)) {
    ++Count;
  }
  return Count;
}

// Length of the Play template once every "[FILENAME]" holds a text of PathLength.
std::size_t ExpandedPlayLength(std::size_t PathLength) {
  std::size_t Count = CountOccurrences(ThisConfig.Play, FileNamePlaceholder);
  std::size_t Kept = std::strlen(ThisConfig.Play) - Count * std::strlen(FileNamePlaceholder);
  return Kept + Count * PathLength;
}

// Where the private links for the player are made; a plain path, so the link's is too.
constexpr const char* LinkFolderPattern = "/tmp/harrowlight-link-XXXXXX";

// The link the last recording was played through and its private folder; empty when the
// recording's own path was used.
std::string PlayLink;
std::string PlayLinkFolder;

// Removes the link of the last recording played through one. The player opened its file
// when it started, so only a player that is stopped, or replaced, lets it go.
void RemovePlayLink() {
  if (PlayLinkFolder.empty()) return;
  (void)unlink(PlayLink.c_str());
  (void)rmdir(PlayLinkFolder.c_str());
  PlayLink.clear();
  PlayLinkFolder.clear();
}

void StopPlayback() {
  StopPlayer();
  RemovePlayLink();
}

// True when Directory followed by Name reaches the shell as one plain word, with or
// without quotes around "[FILENAME]".
bool IsPlainPath(const char* Name) {
  const char* Directory = ThisConfig.Directory;
  return IsSafeFileName(Name) &&
         (Directory[0] == 0 || IsPlainShellWord(Directory, std::string(FileNamePunctuation) + "/"));
}

// Makes the recording at Path reachable under a plain name for the player: a symbolic
// link "play" plus the recording's suffix, in a private folder made for it. A name the
// shell would misread (blanks, quotes, "$", bytes beyond ASCII) so reaches the player as
// exactly that file, and none of it is ever read by the shell.
bool LinkForPlayer(const std::string& Path, const char* Name, std::string* Link) {
  std::string Target = Path;
  if (Target[0] != '/') {
    char Here[PATH_MAX];
    if (getcwd(Here, sizeof Here) == nullptr) return false;
    Target = std::string(Here) + "/" + Target;
  }
  std::string Folder = LinkFolderPattern;
  if (mkdtemp(Folder.data()) == nullptr) return false;
  *Link = Folder + "/play" + std::strchr(Name, '.');
  if (symlink(Target.c_str(), Link->c_str()) != 0) {
    (void)rmdir(Folder.c_str());
    return false;
  }
  PlayLink = *Link;
  PlayLinkFolder = Folder;
  return true;
}

// Runs the Play template on Directory + Name and clears the screen for the recording. A
// path that is not one plain shell word is handed over through a private link. A command
// that would not fit its buffer (a cut command may lose its closing quote or its "&") is
// refused and nothing runs.
void StartPlayer(const char* Name) {
  RemovePlayLink();
  std::string Path = std::string(ThisConfig.Directory) + Name;
  if (!IsPlainPath(Name) && !LinkForPlayer(Path, Name, &Path)) {
    DisplayError("Cannot link the recording, not played.");
    return;
  }
  if (Path.size() > CommandLimit || ExpandedPlayLength(Path.size()) > CommandLimit) {
    RemovePlayLink();
    DisplayError("File name too long, not played.");
    return;
  }
  char Execute[TextSize];
  StrCopy(Execute, ThisConfig.Play, TextSize);
  StrReplace(Execute, FileNamePlaceholder, Path.c_str());
  Platform.RunShell(Execute);
  WriteFormatted("%c[2J", Esc);
  // After the clearing, so the screen left for the recording says why nothing plays.
  ReportMissingCommand(Execute, "Player not found: ");
}

// Enter toggles the player: a running one is stopped, otherwise the highlighted
// recording is played. With no name highlighted nothing happens.
void EnterKey() {
  const char* Name = NameAt(ThisConfig.DirPos);
  if (Name == nullptr) return;
  char Answer[TextSize];
  Answer[0] = 0;
  QueryPlayer(Answer, static_cast<int>(TextSize - 1));
  if (Answer[0] != 0) {
    StopPlayback();
    Refresh = FlagSet;
    return;
  }
  StartPlayer(Name);
}

// The arrows all stop the player and redraw, also when the highlight cannot move.
void ArrowKey(char Code) {
  void (*Move)() = nullptr;
  if (Code == 'A') Move = MoveUp;
  if (Code == 'B') Move = MoveDown;
  if (Code == 'C') Move = PageForward;
  if (Code == 'D') Move = PageBack;
  if (Move == nullptr) return;
  StopPlayback();
  Move();
  Refresh = FlagSet;
}

}  // namespace

int DirSelect(const struct dirent* DirEnt) {
  if (DirEnt->d_type != DT_REG) return 0;
  return HasRecordingSuffix(DirEnt->d_name) ? -1 : 0;
}

void OpenPlayList() {
  struct dirent** Entries = nullptr;
  int Found = scandir(ThisConfig.Directory, &Entries, DirSelect, alphasort);
  ReleasePlayList();
  int Kept = 0;
  for (int i = 0; i < Found; ++i) {
    // Names stay contiguous from entry 0: copying stops at the first failed copy.
    if (Kept == i && Kept < DirListSize) {
      ThisConfig.DirList[Kept] = strdup(Entries[i]->d_name);
      if (ThisConfig.DirList[Kept] != nullptr) ++Kept;
    }
    std::free(Entries[i]);
  }
  std::free(Entries);
  ThisConfig.DirPos = 0;
  ThisConfigSave.Mode = ModePlayList;
}

void HandleListKeys(char* Keys) {
  // The backlight never sleeps while the list is shown.
  SleepCount = SleepTicksFor(ThisConfigSave.SleepPeriod);
  if (Keys[0] == ' ') {
    StopPlayback();
    ThisConfigSave.Mode = ModeIdle;
  } else if (Keys[0] == '\n') {
    EnterKey();
  } else if (Keys[0] == Esc && Keys[1] == 'O') {
    ArrowKey(Keys[2]);
  }
}

bool IsSafeFileName(const char* Name) {
  // A leading "-" would be taken for an option by the player.
  return Name != nullptr && IsPlainShellWord(Name, FileNamePunctuation);
}
