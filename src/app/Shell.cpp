// The fixed shell commands that stop and look for the camera tools and the player.
#include "app/Shell.h"

#include <iterator>
#include <vector>

#include "app/Globals.h"
#include "platform/Platform.h"

namespace {

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

bool IsNameCharacter(char Character) {
  return (Character >= 'a' && Character <= 'z') || (Character >= 'A' && Character <= 'Z') ||
         (Character >= '0' && Character <= '9') || Character == '.' || Character == '_' ||
         Character == '+' || Character == '-';
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

bool IsSafeProcessName(const std::string& Name) {
  if (Name.empty() || Name.size() >= static_cast<std::size_t>(ProcessNameSize)) return false;
  if (Name[0] == '-') return false;
  for (char Character : Name) {
    if (!IsNameCharacter(Character)) return false;
  }
  return true;
}

void StopCameraTools() {
  for (const char* Name : CameraProcessNames()) Platform.RunShell(KillCommandFor(Name).c_str());
}

void StopPlayer() {
  Platform.RunShell(KillCommandFor(PlayerProcessName()).c_str());
}

void QueryCameraTools(char* Out, int Size) {
  Platform.ReadFirstLine(CameraQueryCommandText().c_str(), Out, Size);
}

void QueryPlayer(char* Out, int Size) {
  Platform.ReadFirstLine(PlayerQueryCommandText().c_str(), Out, Size);
}
