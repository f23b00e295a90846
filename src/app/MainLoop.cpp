// Start-up, the tick-driven main loop and shutdown of the camera controller.
#include "app/MainLoop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/Config.h"
#include "app/Display.h"
#include "app/MenuKeys.h"
#include "app/Playback.h"
#include "app/SavedState.h"
#include "app/Shell.h"
#include "app/Tick.h"
#include "errors/ErrorLines.h"
#include "keys/KeyInput.h"
#include "pins/Pins.h"
#include "platform/Platform.h"
#include "state/Globals.h"
#include "vt100/ConsolePalette.h"
#include "vt100/VT100.h"

namespace {

// The keys of the current iteration.
char Buffer[KeyBufferSize];

// Set by the signal handlers, acted on by the loop (ExitRequested too, in Globals). A
// handler does nothing else.
volatile sig_atomic_t TickDue = 0;
bool TimerRunning = false;

void NoteTick(int) {
  TickDue = 1;
}
void NoteExitRequest(int) {
  ExitRequested = 1;
}
void IgnoreSignal(int) {}

void InstallHandler(int Signal, void (*Handler)(int)) {
  struct sigaction Action {};
  Action.sa_handler = Handler;
  sigemptyset(&Action.sa_mask);
  // Restarted calls keep the shell's wait and the pipe reads of the tick intact.
  Action.sa_flags = SA_RESTART;
  sigaction(Signal, &Action, nullptr);
}

// A write to a pipe whose reader has gone must fail with EPIPE rather than kill the camera
// without its shutdown. A handler that does nothing, unlike SIG_IGN, is not inherited: the
// shell commands and camera tools start with the usual SIGPIPE.
void IgnoreBrokenPipes() {
  InstallHandler(SIGPIPE, IgnoreSignal);
}

// A system shutdown, a closed terminal and Ctrl-C end the run through the shutdown
// sequence, so the state is saved and the terminal given back.
void InstallExitHandlers() {
  InstallHandler(SIGTERM, NoteExitRequest);
  InstallHandler(SIGHUP, NoteExitRequest);
  InstallHandler(SIGINT, NoteExitRequest);
}

bool StartTimer() {
  InstallHandler(SIGALRM, NoteTick);
  itimerval NewTimer{};
  NewTimer.it_interval.tv_sec = 0;
  NewTimer.it_interval.tv_usec = TickMicroseconds;
  NewTimer.it_value.tv_sec = 0;
  NewTimer.it_value.tv_usec = TickMicroseconds;
  return setitimer(ITIMER_REAL, &NewTimer, nullptr) == 0;
}

void StopTimer() {
  signal(SIGALRM, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  itimerval Off{};
  setitimer(ITIMER_REAL, &Off, nullptr);
}

// Sleeps until a tick is due or the run is asked to end. The signals are blocked only
// around the test and the wait, so the shell commands run with them unblocked.
void WaitForTick() {
  if (!TimerRunning) {
    // No interval timer: keep the 75 ms rhythm by sleeping.
    timespec Period{0, static_cast<long>(TickMicroseconds) * 1000L};
    while (nanosleep(&Period, &Period) != 0 && ExitRequested == 0) {
    }
    TickDue = 1;
    return;
  }
  sigset_t Wake;
  sigset_t Previous;
  sigemptyset(&Wake);
  sigaddset(&Wake, SIGALRM);
  sigaddset(&Wake, SIGTERM);
  sigaddset(&Wake, SIGHUP);
  sigaddset(&Wake, SIGINT);
  sigprocmask(SIG_BLOCK, &Wake, &Previous);
  while (TickDue == 0 && ExitRequested == 0) sigsuspend(&Previous);
  sigprocmask(SIG_SETMASK, &Previous, nullptr);
}

// A standard stream closed by whoever started the program would be taken by the next file
// it opens: the GPIO device would then receive the screen, or be read as keys.
void KeepStandardStreamsOpen() {
  for (int Stream = STDIN_FILENO; Stream <= STDERR_FILENO; ++Stream) {
    if (fcntl(Stream, F_GETFD) != -1) continue;
    const int Null = open("/dev/null", Stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (Null >= 0 && Null != Stream) {
      dup2(Null, Stream);
      close(Null);
    }
  }
}

void ChangeToExecutableDirectory(const char* Argv0) {
  std::string Directory;
  if (ExecutableDirectory(Argv0, &Directory)) (void)chdir(Directory.c_str());
}

struct TerminalState {
  termios RestoreTermIOs{};
  termios NewTermIOs{};
  bool Saved = false;
};

// Non-canonical input without echo; reads return at once. Keyboard signals stay on.
void EnterRawMode(TerminalState* Terminal) {
  Terminal->Saved = tcgetattr(STDIN_FILENO, &Terminal->RestoreTermIOs) == 0;
  Terminal->NewTermIOs = Terminal->RestoreTermIOs;
  Terminal->NewTermIOs.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  Terminal->NewTermIOs.c_cc[VMIN] = 0;
  Terminal->NewTermIOs.c_cc[VTIME] = 0;
  if (Terminal->Saved) (void)tcsetattr(STDIN_FILENO, TCSANOW, &Terminal->NewTermIOs);
}

void RestoreTerminal(const TerminalState& Terminal) {
  if (Terminal.Saved) (void)tcsetattr(STDIN_FILENO, TCSANOW, &Terminal.RestoreTermIOs);
}

// On top of ResetProgramState: the flags and countdowns that do not start at 0.
void StartUpFlags() {
  Refresh = FlagSet;
  TimePeriod = RedrawReload;
  AutoSaveCount = AutoSaveReload;
}

void Shutdown(const TerminalState& Terminal) {
  SaveConfigBinary(StateFileName);
  StopTimer();
  StopCameraTools();
  ClearOutSwitch(ThisConfig.GPIO_LED);
  ClearOutSwitch(ThisConfig.GPIO_LCD);
  ReleasePins();
  ReleaseConfigTexts();
  RestoreConsolePalette();
  // The reset also shows the cursor again.
  WriteFormatted("%cc", Esc);
  RestoreTerminal(Terminal);
}

}  // namespace

void ResetProgramState() {
  ReleaseConfigTexts();
  std::memset(&ThisConfig, 0, sizeof ThisConfig);
  std::memset(&ThisConfigSave, 0, sizeof ThisConfigSave);
  for (std::uint32_t& Pin : GPIO_Input_Pin) Pin = NoPin;
  for (std::uint32_t& Pin : GPIO_Output_Pin) Pin = NoPin;
  InputPinCount = 0;
  OutputPinCount = 0;
  ReleasePins();
  ExitFlag = 0;
  ExitStatus = 0;
  ExitRequested = 0;
  OutputLost = false;
  Refresh = 0;
  TimePeriod = 0;
  PreviewCount = 0;
  AutoSaveCount = 0;
  SleepCount = 0;
  DisplayWidth = 0;
  DisplayHeight = 0;
  Rows = 0;
  TickDue = 0;
  TimerRunning = false;
  ResetKeyRepeat();
  ForgetStoredRecord();
  ForgetCommandLookups();
  ForgetCameraCheckFailure();
  DismissErrorLines();
}

bool ExecutableDirectory(const char* Argv0, std::string* Directory) {
  const char* LastSlash = std::strrchr(Argv0, '/');
  if (LastSlash == nullptr) return false;
  Directory->assign(Argv0, static_cast<std::size_t>(LastSlash - Argv0));
  return true;
}

int MenuRowsFor(int Height, int BorderTop, int ItemHeight) {
  std::int64_t Divisor = MenuItemRows(ItemHeight);
  std::int64_t Result = (static_cast<std::int64_t>(Height) - BorderTop) / Divisor;
  if (Result > INT_MAX) return INT_MAX;
  if (Result < INT_MIN) return INT_MIN;
  return static_cast<int>(Result);
}

const char* PowerOffNotice(int Status, const char* Service) {
  if (Status != PowerOffStatus || (Service != nullptr && Service[0] != 0)) return nullptr;
  return "SHUTDOWN: power-off is left to the caller (exit status 3).\n";
}

void LoopIteration() {
  if (Refresh != 0) {
    Refresh = 0;
    UpdateDisplay(Cols, Rows, &ThisConfig, &ThisConfigSave);
  }
  GetKeys(Buffer, 0, 0);
  if (Buffer[0] != 0 && !KeptErrorLines().empty()) {
    // Read: the next redraw shows the menu without them.
    DismissErrorLines();
    Refresh = FlagSet;
  }
  if (ThisConfigSave.SleepPeriod != 0 && Buffer[0] != 0) {
    SleepCount = SleepTicksFor(ThisConfigSave.SleepPeriod);
    SetOutSwitch(ThisConfig.GPIO_LCD);
  }
  if (ThisConfigSave.Mode == ModePlayList) {
    HandleListKeys(Buffer);
  } else if (ThisConfigSave.Mode == ModeRecording && Buffer[0] != ' ') {
    // While recording every key but Space is dropped.
  } else {
    HandleMenuKeys(Buffer);
  }
}

int RunHarrowlight(int argc, char** argv) {
  IgnoreBrokenPipes();
  KeepStandardStreamsOpen();
  if (argc != 1) {
    WriteFormatted("%s\n", VersionBanner);
    return 0;
  }
  // Camera tools started in the background become our children once their shell exits,
  // so the tick can collect them even where PID 1 is slow to.
  prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  ResetProgramState();
  StartUpFlags();
  InstallExitHandlers();
  ChangeToExecutableDirectory(argv[0] != nullptr ? argv[0] : "");

  OpenGpioPage();
  ReadConfig(ConfigFileName);
  if (!PinsReachable()) ReportNoGpio();
  LoadConfigBinary(StateFileName);
  StepOffShutdownItems();
  ClearOutSwitch(ThisConfig.GPIO_LED);
  SetOutSwitch(ThisConfig.GPIO_LCD);

  TerminalState Terminal;
  EnterRawMode(&Terminal);
  WriteFormatted("%cc", Esc);
  WriteFormatted("%c[?7l", Esc);
  WriteFormatted("%c[?1h", Esc);
  // No cursor blinking over the status line while the camera runs.
  WriteFormatted("%c[?25l", Esc);
  if (ThisConfig.ConsolePalette != 0) (void)UseReadablePalette();
  GetSizeVT100(&DisplayWidth, &DisplayHeight);
  Rows = MenuRowsFor(DisplayHeight, ThisConfig.BorderTop, ThisConfig.ItemHeight);

  TimerRunning = StartTimer();
  if (!TimerRunning) {
    DisplayError("Failed to start timer.");
  }
  SleepCount = SleepTicksFor(ThisConfigSave.SleepPeriod);

  for (;;) {
    WaitForTick();
    if (ExitRequested != 0) break;
    TickDue = 0;
    CollectEndedChildren();
    Timer(SIGALRM);
    LoopIteration();
    // A terminal that can no longer be written ends the run like a termination signal.
    if (ExitFlag != 0 || ExitRequested != 0 || OutputLost) break;
  }

  Shutdown(Terminal);
  // After the terminal is reset and given back: the reset would wipe the line.
  const char* Notice = PowerOffNotice(ExitStatus, std::getenv(ServiceVariable));
  if (Notice != nullptr) std::fputs(Notice, stderr);
  return ExitStatus;
}
