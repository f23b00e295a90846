// Stand-in for the camera and player programs, used by every system test, the benchmark,
// the emulated systems and the demo. It plays the tool it is named as (argv[0]): the camera
// tools raspistill, raspivid, rpicam-* and libcamera-* log how they were called, write the
// "-o" file and stay alive for the "-t" milliseconds; omxplayer runs its own copy named
// omxplayer.bin (the process the camera looks for), which logs and plays for a while; ps
// answers "ps h -o cmd -C NAME..." from /proc, for systems whose ps cannot (busybox).
//
// Environment:
//   HARROWLIGHT_STANDIN_LOG   file the call is appended to (default "standin.log")
//   HARROWLIGHT_STANDIN_MS    run time when no "-t" is given (default per program)
//   HARROWLIGHT_STANDIN_EXIT  "crash": log, then exit with status 1 at once, writing nothing;
//                             "now": log and write the file, then exit with status 0 at once
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <string>

namespace {

struct Call {
  std::string Name;        // program name, without directory
  std::string OutputFile;  // "-o" argument of a camera tool, empty when none
  long RunMs = 0;          // 0 = until killed
};

std::string BaseName(const char* Path) {
  const char* Slash = std::strrchr(Path, '/');
  return Slash == nullptr ? Path : Slash + 1;
}

bool StartsWith(const std::string& Text, const char* Prefix) {
  return Text.compare(0, std::strlen(Prefix), Prefix) == 0;
}

bool IsCameraTool(const std::string& Name) {
  return StartsWith(Name, "raspi") || StartsWith(Name, "rpicam-") || StartsWith(Name, "libcamera-");
}

// Leaves plain words bare and single-quotes everything else, so a log line reads as the
// command a shell would need to repeat the call.
std::string ShellQuote(const std::string& Word) {
  static const char* Safe =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
  if (!Word.empty() && Word.find_first_not_of(Safe) == std::string::npos) return Word;
  std::string Quoted = "'";
  for (char C : Word) {
    if (C == '\'') {
      Quoted += "'\\''";
    } else {
      Quoted += C;
    }
  }
  return Quoted + "'";
}

// Reads a non-negative decimal count of milliseconds; false when Text is not one.
bool ParseMilliseconds(const char* Text, long* Ms) {
  if (Text == nullptr || *Text == 0) return false;
  char* End = nullptr;
  errno = 0;
  long Value = std::strtol(Text, &End, 10);
  if (errno != 0 || *End != 0 || Value < 0) return false;
  *Ms = Value;
  return true;
}

long DefaultRunMs(const std::string& Name) {
  long Ms = 0;
  if (ParseMilliseconds(std::getenv("HARROWLIGHT_STANDIN_MS"), &Ms)) return Ms;
  // The camera tools run five seconds by default; a "recording" plays for ten.
  return Name == "omxplayer.bin" ? 10000 : 5000;
}

Call ParseCall(int Argc, char** Argv) {
  Call This;
  This.Name = BaseName(Argc > 0 ? Argv[0] : "standin");
  This.RunMs = DefaultRunMs(This.Name);
  for (int I = 1; I + 1 < Argc; ++I) {
    std::string Option = Argv[I];
    if (Option == "-t" || Option == "--timeout") {
      long Ms = 0;
      if (ParseMilliseconds(Argv[I + 1], &Ms)) This.RunMs = Ms;
      ++I;
    } else if ((Option == "-o" || Option == "--output") && IsCameraTool(This.Name)) {
      // The player's "-o" names an audio output, not a file.
      This.OutputFile = Argv[I + 1];
      ++I;
    }
  }
  return This;
}

// Writes all of Text, retrying short writes.
bool WriteAll(int File, const std::string& Text) {
  std::size_t Done = 0;
  while (Done < Text.size()) {
    ssize_t Written = write(File, Text.data() + Done, Text.size() - Done);
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) return false;
    Done += static_cast<std::size_t>(Written);
  }
  return true;
}

// One write with O_APPEND, so lines of stand-ins running at once never interleave.
void AppendLogLine(int Argc, char** Argv, const std::string& Name) {
  std::string Line = ShellQuote(Name);
  for (int I = 1; I < Argc; ++I) Line += " " + ShellQuote(Argv[I]);
  Line += "\n";
  const char* Path = std::getenv("HARROWLIGHT_STANDIN_LOG");
  if (Path == nullptr || *Path == 0) Path = "standin.log";
  int File = open(Path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (File < 0) return;
  (void)WriteAll(File, Line);
  close(File);
}

void WriteOutputFile(const Call& This) {
  if (This.OutputFile.empty() || This.OutputFile == "-") return;
  int File = open(This.OutputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (File < 0) return;
  (void)WriteAll(File, "stand-in " + This.Name + " capture\n");
  close(File);
}

// Sleeps for Ms milliseconds, or until a signal ends the process when Ms is 0.
void StayAlive(long Ms) {
  if (Ms == 0) {
    for (;;) pause();
  }
  timespec Left{Ms / 1000, (Ms % 1000) * 1000000L};
  while (nanosleep(&Left, &Left) != 0 && errno == EINTR) {
  }
}

// "omxplayer" is a script on the real system that starts omxplayer.bin: the name beside
// this program takes its place, so the process carries the name the camera kills.
int RunPlayerBinary(char** Argv) {
  char Self[4096];
  ssize_t Length = readlink("/proc/self/exe", Self, sizeof Self - 1);
  if (Length <= 0) return 127;
  std::string Binary(Self, static_cast<std::size_t>(Length));
  Binary = Binary.substr(0, Binary.rfind('/') + 1) + "omxplayer.bin";
  Argv[0] = const_cast<char*>("omxplayer.bin");
  execv(Binary.c_str(), Argv);
  return 127;
}

// "ps h -o cmd -C NAME [-C NAME...]": the command line of every process so named, one a line.
int ListProcesses(int Argc, char** Argv) {
  std::set<std::string> Names;
  for (int I = 1; I + 1 < Argc; ++I) {
    if (std::strcmp(Argv[I], "-C") == 0) Names.insert(Argv[++I]);
  }
  DIR* Proc = opendir("/proc");
  if (Proc == nullptr) return 1;
  while (dirent* Entry = readdir(Proc)) {
    std::string Dir = std::string("/proc/") + Entry->d_name;
    std::string Name;
    std::ifstream Comm(Dir + "/comm");
    if (!std::getline(Comm, Name) || Names.count(Name) == 0) continue;
    std::ifstream CommandLine(Dir + "/cmdline");
    std::string Word;
    std::string Line;
    while (std::getline(CommandLine, Word, '\0')) Line += (Line.empty() ? "" : " ") + Word;
    if (!Line.empty()) std::printf("%s\n", Line.c_str());
  }
  closedir(Proc);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string Name = BaseName(argc > 0 ? argv[0] : "standin");
  if (Name == "omxplayer") return RunPlayerBinary(argv);
  if (Name == "ps") return ListProcesses(argc, argv);
  Call This = ParseCall(argc, argv);
  AppendLogLine(argc, argv, This.Name);
  const char* Exit = std::getenv("HARROWLIGHT_STANDIN_EXIT");
  std::string ExitMode = Exit == nullptr ? "" : Exit;
  if (ExitMode == "crash") return 1;
  WriteOutputFile(This);
  if (ExitMode == "now") return 0;
  StayAlive(This.RunMs);
  return 0;
}
