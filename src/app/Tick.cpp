// The timer tick: the four countdowns (backlight sleep, preview watchdog, automatic save,
// periodic redraw) and the collection of ended child processes.
#include "app/Tick.h"

#include <sys/wait.h>

#include <cerrno>
#include <climits>

#include "app/Capture.h"
#include "app/Display.h"
#include "app/SavedState.h"
#include "app/Shell.h"
#include "platform/Platform.h"
#include "state/Globals.h"

namespace {

// Set while the process query keeps failing, so the error line says so once.
bool CheckFailureShown = false;

// Decreases Counter by one, then tests it: true when it has run out (fallen below 0).
// A counter left to fall (the preview check during the playback list) stops at INT_MIN
// instead of overflowing; it has run out all the same.
bool CountDown(int& Counter) {
  if (Counter > INT_MIN) --Counter;
  return Counter < 0;
}

// The backlight goes dark once the idle time is over. The counter stays at 0, so every
// later tick repeats the same clear write until a key reloads it.
void BacklightSleep() {
  if (ThisConfigSave.SleepPeriod == 0) return;
  if (!CountDown(SleepCount)) return;
  SleepCount = 0;
  ClearOutSwitch(ThisConfig.GPIO_LCD);
}

// Starts the preview whenever no camera tool runs. In the playback list the check waits
// without a reload, so it runs on the first tick after the list is closed.
void PreviewWatchdog() {
  if (!CountDown(PreviewCount)) return;
  if (ThisConfigSave.Mode > ModePreview) return;
  PreviewCount = PreviewReload;

  char Command[TextSize];
  Command[0] = 0;
  if (!QueryCameraTools(Command, static_cast<int>(TextSize - 1))) {
    // Not knowing whether a tool runs is no reason to start another one on top of it:
    // this run starts nothing, and the next period asks again.
    if (!CheckFailureShown) {
      DisplayError(CameraCheckFailedMessage);
      CheckFailureShown = true;
    }
    return;
  }
  CheckFailureShown = false;
  if (Command[0] != 0) return;  // any output: a camera tool still runs

  StrCopy(Command, ThisConfig.Preview, TextSize);
  if (!ExpandMenuPlaceholders(Command)) {
    // A cut command may have lost its "&" and would hold the camera in the foreground.
    DisplayError("Preview command too long, not run.");
    return;
  }
  ReportMissingCommand(Command, CameraToolMissingLabel);
  Platform.RunShell(Command);
  ThisConfigSave.Mode = ModePreview;
  Refresh = FlagSet;
}

// Saving reloads AutoSaveCount, so any save moves the next automatic one. The record is
// written only when the card does not already hold it.
void AutomaticSave() {
  if (CountDown(AutoSaveCount)) SaveConfigBinaryIfChanged(StateFileName);
}

void PeriodicRedraw() {
  if (!CountDown(TimePeriod)) return;
  TimePeriod = RedrawReload;
  Refresh = FlagSet;
}

}  // namespace

void ForgetCameraCheckFailure() {
  CheckFailureShown = false;
}

void Timer(int) {
  BacklightSleep();
  PreviewWatchdog();
  AutomaticSave();
  PeriodicRedraw();
}

void CollectEndedChildren() {
  // Only ended children are taken; running ones and the shell calls (which wait for
  // their own child within one call) are left alone.
  for (;;) {
    int Status = 0;
    pid_t Ended = waitpid(-1, &Status, WNOHANG);
    if (Ended > 0) continue;
    if (Ended < 0 && errno == EINTR) continue;
    return;  // none ended (0) or no children at all (ECHILD)
  }
}
