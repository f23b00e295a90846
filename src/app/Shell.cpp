// The fixed shell commands that stop and look for the camera tools and the player.
#include "app/Shell.h"

#include <iterator>
#include <vector>

#include "platform/Platform.h"
#include "state/Globals.h"

namespace {

// The process names used when the configuration names none.
constexpr const char* DefaultCameraProcesses[] = {"raspistill", "raspivid"};
constexpr const char* DefaultPlayerProcess = "omxplayer.bin";

// The configured camera process names, or the built-in ones when none are configured.
std::vector<const char*> CameraProcessNames() {
  std::vector<const char*> Names;
  for (const char* Name : ThisConfig.CameraProcess) {
    if (Name[0] == 0) break;
    Names.push_back(Name);
  }
  if (Names.empty()) {
    Names.assign(std::begin(DefaultCameraProcesses), std::end(DefaultCameraProcesses));
  }
  return Names;
}

const char* PlayerProcessName() {
  return ThisConfig.PlayerProcess[0] != 0 ? ThisConfig.PlayerProcess : DefaultPlayerProcess;
}

bool IsLetterOrDigit(char Character) {
  return (Character >= 'a' && Character <= 'z') || (Character >= 'A' && Character <= 'Z') ||
         (Character >= '0' && Character <= '9');
}

}  // namespace

std::string KillCommandFor(const char* ProcessName) {
  return std::string("killall -9 ") + ProcessName + " 2> /dev/null";
}

std::string CameraQueryCommandText() {
  std::string Command = "ps h -o cmd";
  for (const char* Name : CameraProcessNames()) Command.append(" -C ").append(Name);
  return Command;
}

std::string PlayerQueryCommandText() {
  return std::string("ps h -o cmd -C ") + PlayerProcessName();
}

bool IsPlainShellWord(std::string_view Word, std::string_view AlsoAllowed) {
  constexpr std::string_view WordPunctuation = "._+-";
  if (Word.empty() || Word[0] == '-') return false;
  for (char Character : Word) {
    if (IsLetterOrDigit(Character)) continue;
    if (WordPunctuation.find(Character) != std::string_view::npos) continue;
    if (AlsoAllowed.find(Character) == std::string_view::npos) return false;
  }
  return true;
}

bool IsSafeProcessName(const std::string& Name) {
  return Name.size() < static_cast<std::size_t>(ProcessNameSize) && IsPlainShellWord(Name, "");
}

void StopCameraTools() {
  for (const char* Name : CameraProcessNames()) Platform.RunShell(KillCommandFor(Name).c_str());
}

void StopPlayer() {
  Platform.RunShell(KillCommandFor(PlayerProcessName()).c_str());
}

bool QueryCameraTools(char* Out, int Size) {
  return Platform.ReadFirstLine(CameraQueryCommandText().c_str(), Out, Size);
}

void QueryPlayer(char* Out, int Size) {
  // A player check that cannot run counts as no player running.
  (void)Platform.ReadFirstLine(PlayerQueryCommandText().c_str(), Out, Size);
}
