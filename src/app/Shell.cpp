// The fixed shell commands that stop and look for the camera tools and the player.
#include "app/Shell.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <vector>

#include "app/Display.h"
#include "errors/ErrorLines.h"
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

// Words the shell itself knows, which are never looked up on PATH.
constexpr std::string_view ShellOwnWords[] = {
    "!",      "{",     "}",       ".",       ":",        "[",    "alias",    "bg",
    "break",  "case",  "cd",      "command", "continue", "do",   "done",     "echo",
    "elif",   "else",  "esac",    "eval",    "exec",     "exit", "export",   "false",
    "fc",     "fg",    "fi",      "for",     "getopts",  "hash", "if",       "in",
    "jobs",   "kill",  "local",   "printf",  "pwd",      "read", "readonly", "return",
    "set",    "shift", "test",    "then",    "times",    "trap", "true",     "type",
    "ulimit", "umask", "unalias", "unset",   "until",    "wait", "while"};

// Ends the first word of a command: blanks and the shell's operators.
constexpr std::string_view WordEnds = " \t\n;&|<>()";
// Characters that make the shell quote, expand or assign rather than look the word up.
constexpr std::string_view NotAsWritten = "\"'\\$`*?[]~=#";

// Names looked up in this run, and whether the shell would find them.
std::map<std::string, bool> CommandLookups;

}  // namespace

std::string LookedUpCommand(const char* CommandLine) {
  const std::string_view Line = CommandLine;
  const std::string_view::size_type Start = Line.find_first_not_of(" \t\n");
  if (Start == std::string_view::npos) return "";
  const std::string_view Word = Line.substr(Start, Line.find_first_of(WordEnds, Start) - Start);
  if (Word.empty() || Word.find_first_of(NotAsWritten) != std::string_view::npos) return "";
  if (std::find(std::begin(ShellOwnWords), std::end(ShellOwnWords), Word) !=
      std::end(ShellOwnWords)) {
    return "";
  }
  return std::string(Word);
}

std::string MissingCommand(const char* CommandLine) {
  const std::string Name = LookedUpCommand(CommandLine);
  if (Name.empty()) return "";
  auto Known = CommandLookups.find(Name);
  if (Known == CommandLookups.end()) {
    Known = CommandLookups.emplace(Name, Platform.CommandFound(Name.c_str())).first;
  }
  return Known->second ? "" : Name;
}

void ReportMissingCommand(const char* CommandLine, const char* Label) {
  const std::string Name = MissingCommand(CommandLine);
  if (Name.empty()) return;
  const std::string Message = Label + Name + ".";
  const std::vector<std::string>& Shown = KeptErrorLines();
  if (std::find(Shown.begin(), Shown.end(), Message) != Shown.end()) return;
  DisplayError(Message.c_str());
}

void ForgetCommandLookups() {
  CommandLookups.clear();
}

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
