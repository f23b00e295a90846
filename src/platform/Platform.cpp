// Production hooks to the shell, the clock, the terminal, file sync, the devices and the
// capture folder.
#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// True when standard error is the terminal that standard output draws the screen on, as
// when the program is started by hand: there, anything a command or its shell says
// ("sh: 1: raspistill: not found") would scribble over the menu.
bool StandardErrorIsTheScreen() {
  struct stat Output {};
  struct stat Error {};
  if (fstat(STDOUT_FILENO, &Output) != 0 || fstat(STDERR_FILENO, &Error) != 0) return false;
  return S_ISCHR(Output.st_mode) && S_ISCHR(Error.st_mode) && Output.st_rdev == Error.st_rdev;
}

// For the life of one command: standard error on /dev/null when it is the screen, so the
// shell and the command it starts inherit that. Elsewhere (the service's journal, a file,
// another terminal) standard error is left alone. The command text is not touched.
class ShellMessagesOffScreen {
 public:
  ShellMessagesOffScreen() {
    static const bool OnScreen = StandardErrorIsTheScreen();
    if (!OnScreen) return;
    const int Null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (Null < 0) return;
    Saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (Saved >= 0) (void)dup2(Null, STDERR_FILENO);
    close(Null);
  }
  ~ShellMessagesOffScreen() {
    if (Saved < 0) return;
    (void)dup2(Saved, STDERR_FILENO);
    close(Saved);
  }
  ShellMessagesOffScreen(const ShellMessagesOffScreen&) = delete;
  ShellMessagesOffScreen& operator=(const ShellMessagesOffScreen&) = delete;

 private:
  int Saved = -1;
};

void SystemRunShell(const char* Command) {
  const ShellMessagesOffScreen Quiet;
  // The exit status of a command is never looked at.
  (void)std::system(Command);
}

// The shell's exit statuses for a command it could not find (127) or not execute (126).
bool ShellCouldNotRun(int Status) {
  return Status != -1 && WIFEXITED(Status) &&
         (WEXITSTATUS(Status) == 127 || WEXITSTATUS(Status) == 126);
}

bool PopenReadFirstLine(const char* Command, char* Out, int Size) {
  if (Size <= 0) return true;
  Out[0] = 0;
  FILE* Pipe = nullptr;
  {
    // The shell is started within popen; its standard error is settled by then.
    const ShellMessagesOffScreen Quiet;
    Pipe = popen(Command, "r");
  }
  if (Pipe == nullptr) return false;  // no descriptors or processes left
  if (std::fgets(Out, Size, Pipe) == nullptr) Out[0] = 0;
  // Closing the pipe early ends a command with more to say (it gets SIGPIPE).
  int Status = pclose(Pipe);
  // A line read means the command ran, whatever the shell says afterwards.
  return Out[0] != 0 || !ShellCouldNotRun(Status);
}

bool IsExecutableFile(const std::string& Path) {
  struct stat Info {};
  return stat(Path.c_str(), &Info) == 0 && S_ISREG(Info.st_mode) && access(Path.c_str(), X_OK) == 0;
}

// The search the shell makes: a name holding "/" is a path; any other is looked for in
// each folder of PATH in turn (an empty entry is the current folder). Without PATH the
// system's default path is searched.
bool SearchCommand(const char* Name) {
  if (std::strchr(Name, '/') != nullptr) return IsExecutableFile(Name);
  const char* Path = std::getenv("PATH");
  std::string Folders = Path != nullptr ? Path : "";
  if (Path == nullptr) {
    char Default[256] = "";
    (void)confstr(_CS_PATH, Default, sizeof Default);
    Folders = Default;
  }
  std::string::size_type Start = 0;
  for (;;) {
    const std::string::size_type End = Folders.find(':', Start);
    std::string Folder = Folders.substr(Start, End == std::string::npos ? End : End - Start);
    if (Folder.empty()) Folder = ".";
    if (IsExecutableFile(Folder + "/" + Name)) return true;
    if (End == std::string::npos) return false;
    Start = End + 1;
  }
}

std::time_t ClockNow() {
  return std::time(nullptr);
}

std::int64_t SteadyClockMs() {
  timespec Now{};
  clock_gettime(CLOCK_MONOTONIC, &Now);
  return static_cast<std::int64_t>(Now.tv_sec) * 1000 + Now.tv_nsec / 1000000;
}

int ReadStdinByte(unsigned char* Byte) {
  // The terminal settings make a read return at once, but standard input may be a pipe or
  // a file, where a read would block: ask first whether a byte is there.
  pollfd Fd{STDIN_FILENO, POLLIN, 0};
  int Ready;
  do {
    Ready = poll(&Fd, 1, 0);
  } while (Ready < 0 && errno == EINTR);
  if (Ready <= 0) return 0;
  for (;;) {
    ssize_t Got = read(STDIN_FILENO, Byte, 1);
    if (Got == 1) return 1;
    if (Got < 0 && errno == EINTR) continue;
    return 0;  // nothing pending, end of input, or an error: no key
  }
}

int PollStdin(int TimeoutMs) {
  pollfd Fd{STDIN_FILENO, POLLIN, 0};
  int Ready = poll(&Fd, 1, TimeoutMs);
  return Ready > 0 ? 1 : 0;
}

// Errors after which no write to the terminal can ever succeed: the pipe's reader has
// gone, the line has hung up, or the device has disappeared.
bool TerminalIsGone(int Error) {
  return Error == EPIPE || Error == EIO || Error == ENXIO;
}

void WriteStdout(const char* Data, std::size_t Size) {
  while (Size > 0) {
    ssize_t Written = write(STDOUT_FILENO, Data, Size);
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) {
      // A camera nobody can see or steer any more ends through the shutdown, so the
      // state is saved and the tools stopped. Other errors drop this output only.
      if (Written < 0 && TerminalIsGone(errno)) OutputLost = true;
      return;
    }
    Data += Written;
    Size -= static_cast<std::size_t>(Written);
  }
}

int OpenReadWriteSync(const char* Path) {
  // Close-on-exec: the shell commands the program runs have no business with the device.
  return open(Path, O_RDWR | O_SYNC | O_CLOEXEC);
}

// The number after "gpiochip", or -1 when the name is not a GPIO chip's.
long GpioChipNumber(const char* Name) {
  constexpr const char* Prefix = "gpiochip";
  const std::size_t PrefixLength = std::strlen(Prefix);
  if (std::strncmp(Name, Prefix, PrefixLength) != 0) return -1;
  const char* Digits = Name + PrefixLength;
  if (*Digits == 0 || std::strspn(Digits, "0123456789") != std::strlen(Digits)) return -1;
  return std::strtol(Digits, nullptr, 10);
}

std::vector<std::string> ListDevGpioChips() {
  std::vector<std::pair<long, std::string>> Found;
  DIR* Dev = opendir("/dev");
  if (Dev == nullptr) return {};
  while (const dirent* Entry = readdir(Dev)) {
    const long Number = GpioChipNumber(Entry->d_name);
    if (Number >= 0) Found.emplace_back(Number, std::string("/dev/") + Entry->d_name);
  }
  closedir(Dev);
  std::sort(Found.begin(), Found.end());
  std::vector<std::string> Paths;
  Paths.reserve(Found.size());
  for (const auto& Chip : Found) Paths.push_back(Chip.second);
  return Paths;
}

int RetryingIoctl(int File, unsigned long Request, void* Argument) {
  int Result;
  do {
    Result = ioctl(File, Request, Argument);
  } while (Result < 0 && errno == EINTR);
  return Result < 0 ? -1 : 0;
}

void CloseDescriptor(int File) {
  close(File);
}

bool WindowSizeOf(int File, int* Width, int* Height) {
  winsize Size{};
  if (ioctl(File, TIOCGWINSZ, &Size) != 0) return false;
  if (Size.ws_col == 0 || Size.ws_row == 0) return false;
  *Width = Size.ws_col;
  *Height = Size.ws_row;
  return true;
}

// The kernel's idea of the terminal's size: standard output, then standard input.
bool KernelTerminalSize(int* Width, int* Height) {
  return WindowSizeOf(STDOUT_FILENO, Width, Height) || WindowSizeOf(STDIN_FILENO, Width, Height);
}

int CheckFolder(const char* Folder, std::uint64_t* FreeBytes) {
  *FreeBytes = UINT64_MAX;
  struct stat Info {};
  if (stat(Folder, &Info) != 0) return errno;
  if (!S_ISDIR(Info.st_mode)) return ENOTDIR;
  if (faccessat(AT_FDCWD, Folder, W_OK | X_OK, AT_EACCESS) != 0) return errno;
  struct statvfs Space {};
  if (statvfs(Folder, &Space) == 0) {
    *FreeBytes = static_cast<std::uint64_t>(Space.f_bavail) * Space.f_frsize;
  }
  return 0;
}

int MakeFolderOnce(const char* Folder) {
  if (mkdir(Folder, 0777) == 0) return 0;
  const int Error = errno;
  struct stat Info {};
  if (Error != EEXIST) return Error;
  return stat(Folder, &Info) == 0 && S_ISDIR(Info.st_mode) ? 0 : ENOTDIR;
}

std::vector<std::string> ReadFolderNames(const char* Folder) {
  std::vector<std::string> Names;
  DIR* Directory = opendir(Folder);
  if (Directory == nullptr) return Names;
  while (const dirent* Entry = readdir(Directory)) Names.emplace_back(Entry->d_name);
  closedir(Directory);
  std::sort(Names.begin(), Names.end());
  return Names;
}

}  // namespace

PlatformHooks ProductionPlatform() {
  PlatformHooks Hooks{};
  Hooks.RunShell = SystemRunShell;
  Hooks.ReadFirstLine = PopenReadFirstLine;
  Hooks.CommandFound = SearchCommand;
  Hooks.Now = ClockNow;
  Hooks.MonotonicMs = SteadyClockMs;
  Hooks.ReadInputByte = ReadStdinByte;
  Hooks.WaitForInput = PollStdin;
  Hooks.WriteOutput = WriteStdout;
  Hooks.SyncDescriptor = fsync;
  Hooks.OpenDevice = OpenReadWriteSync;
  Hooks.ListGpioChips = ListDevGpioChips;
  Hooks.ControlDevice = RetryingIoctl;
  Hooks.CloseDevice = CloseDescriptor;
  Hooks.TerminalSize = KernelTerminalSize;
  Hooks.InspectFolder = CheckFolder;
  Hooks.MakeFolder = MakeFolderOnce;
  Hooks.ListFolder = ReadFolderNames;
  return Hooks;
}

PlatformHooks Platform = ProductionPlatform();
bool OutputLost = false;

std::size_t FormatInto(char* Out, std::size_t Size, const char* Format, va_list Args) {
  int Length = std::vsnprintf(Out, Size, Format, Args);
  if (Length <= 0) return 0;
  std::size_t Kept = static_cast<std::size_t>(Length);
  return Kept >= Size ? Size - 1 : Kept;
}

void WriteFormatted(const char* Format, ...) {
  char Line[8192];
  va_list Args;
  va_start(Args, Format);
  std::size_t Size = FormatInto(Line, sizeof Line, Format, Args);
  va_end(Args);
  if (Size > 0) Platform.WriteOutput(Line, Size);
}
