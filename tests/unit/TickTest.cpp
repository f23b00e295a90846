// The timer tick's countdowns, driven tick by tick, and the collection of ended children.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/SavedState.h"
#include "app/Shell.h"
#include "app/Tick.h"
#include "errors/ErrorLines.h"

namespace {

constexpr int GpClr0Word = 10;  // GPCLR0 at byte offset 0x28
constexpr std::uint32_t LcdPin = 18;
constexpr const char* RunningTool = "raspistill -o /tmp/x.jpg";

// Runs every tick in a fresh temporary working directory, so automatic saves land there.
class TickTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    // Quiet defaults: no countdown runs out unless a test arranges it.
    SleepCount = 1000000;
    PreviewCount = 1000000;
    AutoSaveCount = 1000000;
    TimePeriod = 1000000;
  }

  void Ticks(int Count) {
    for (int i = 0; i < Count; ++i) Timer(0);
  }
  int Queries() const {
    int Count = 0;
    for (const std::string& Command : testsupport::TheWorld().Commands) {
      if (Command == CameraQueryCommand) ++Count;
    }
    return Count;
  }
  static bool StateFileExists() {
    struct stat Info {};
    return stat("CONFIG.DAT", &Info) == 0;
  }

  testsupport::ScratchDirectory Work{"tick", true};
};

// --- Preview watchdog -------------------------------------------------------------------

TEST_F(TickTest, FirstTickStartsPreviewWhenNoToolRuns) {
  std::snprintf(ThisConfig.Preview, TextSize, "raspivid -t 0 [PREVIEW_SIZE] &");
  std::snprintf(ThisConfig.PreviewSmall, TextSize, "-p 0,0,320,240");
  PreviewCount = 0;
  ThisConfigSave.Mode = ModeIdle;
  Timer(0);
  ASSERT_EQ(world().Commands.size(), 2u);
  EXPECT_EQ(world().Commands[0], CameraQueryCommand);
  EXPECT_EQ(world().Commands[1], "raspivid -t 0 -p 0,0,320,240 &");
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
  EXPECT_EQ(Refresh, FlagSet);
  EXPECT_EQ(PreviewCount, PreviewReload);
}

TEST_F(TickTest, EndedPreviewIsStartedAgain) {
  std::snprintf(ThisConfig.Preview, TextSize, "raspivid &");
  PreviewCount = 0;
  ThisConfigSave.Mode = ModePreview;
  Timer(0);
  ASSERT_EQ(world().Commands.size(), 2u);
  EXPECT_EQ(world().Commands[1], "raspivid &");
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
}

TEST_F(TickTest, MissingPreviewToolIsNamedAndLookedUpOnce) {
  std::snprintf(ThisConfig.Preview, TextSize, "rpicam-hello -t 0 &");
  world().MissingCommands = {"rpicam-hello"};
  PreviewCount = 0;
  Ticks(12);  // two checks
  EXPECT_EQ(world().Commands,
            (std::vector<std::string>{CameraQueryCommand, "rpicam-hello -t 0 &", CameraQueryCommand,
                                      "rpicam-hello -t 0 &"}));
  EXPECT_EQ(world().LookedUp, std::vector<std::string>{"rpicam-hello"});
  EXPECT_EQ(KeptErrorLines(), std::vector<std::string>{"Camera tool not found: rpicam-hello."});
}

TEST_F(TickTest, OverLongPreviewIsRefusedOnTheErrorLine) {
  // Cut at 4096 characters the command would lose its "&" and hold the loop.
  std::snprintf(ThisConfig.Preview, TextSize, "%s [PREVIEW_SIZE] &",
                std::string(4070, 'x').c_str());
  std::snprintf(ThisConfig.PreviewSmall, TextSize, "-p 0,0,320,240 -op 128 -x");
  PreviewCount = 0;
  ThisConfigSave.Mode = ModeIdle;
  Timer(0);
  EXPECT_EQ(world().Commands, std::vector<std::string>{CameraQueryCommand});
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
  EXPECT_NE(world().Output.find("Preview command too long, not run."), std::string::npos);
}

TEST_F(TickTest, WhileToolRunsQueryRunsEveryElevenTicksAndNothingStarts) {
  world().DefaultFirstLine = RunningTool;
  PreviewCount = 0;
  ThisConfigSave.Mode = ModeRecording;
  std::vector<int> QueryTicks;
  for (int Tick = 1; Tick <= 34; ++Tick) {
    int Before = Queries();
    Timer(0);
    if (Queries() != Before) QueryTicks.push_back(Tick);
  }
  EXPECT_EQ(QueryTicks, (std::vector<int>{1, 12, 23, 34}));
  EXPECT_EQ(world().Commands.size(), 4u);  // queries only, no launch
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
  EXPECT_EQ(Refresh, 0);
}

TEST_F(TickTest, RecordingBecomesPreviewAtTheCheckAfterTheToolEnds) {
  std::snprintf(ThisConfig.Preview, TextSize, "raspivid &");
  world().FirstLineAnswers = {RunningTool};
  PreviewCount = 0;
  ThisConfigSave.Mode = ModeRecording;
  Ticks(11);
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
  EXPECT_EQ(world().Commands.size(), 1u);
  Timer(0);  // tick 12: the next check finds nothing running
  ASSERT_EQ(world().Commands.size(), 3u);
  EXPECT_EQ(world().Commands[2], "raspivid &");
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
}

TEST_F(TickTest, CheckThatCannotRunStartsNothingAndSaysSoOnce) {
  const std::string ErrorLine = std::string(
                                    "\x1b"
                                    "7\x1b[1m\x1b[37m\x1b[41m") +
                                CameraCheckFailedMessage +
                                "\n\x1b"
                                "8";
  std::snprintf(ThisConfig.Preview, TextSize, "raspivid &");
  world().QueriesCannotRun = true;
  PreviewCount = 0;
  ThisConfigSave.Mode = ModeIdle;
  Timer(0);
  Ticks(22);  // checks on ticks 12 and 23
  EXPECT_EQ(Queries(), 3);
  EXPECT_EQ(world().Commands.size(), 3u);  // no launch
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
  EXPECT_EQ(world().Output, ErrorLine);
  EXPECT_EQ(KeptErrorLines().size(), 1u) << "kept for the redraws until a key";
  // The check runs again and finds nothing: the preview starts as always, and a later
  // failure is reported afresh.
  world().QueriesCannotRun = false;
  Ticks(11);
  ASSERT_EQ(world().Commands.size(), 5u);
  EXPECT_EQ(world().Commands[4], "raspivid &");
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
  Refresh = 0;  // the loop has redrawn
  world().QueriesCannotRun = true;
  Ticks(11);
  EXPECT_EQ(world().Output, ErrorLine + ErrorLine);
  world().QueriesCannotRun = false;
  Ticks(11);  // leaves the message state at rest for the next test
}

TEST_F(TickTest, PlayListHoldsTheCheckAndItRunsOnTheFirstTickAfter) {
  PreviewCount = 0;
  ThisConfigSave.Mode = ModePlayList;
  Ticks(30);
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_EQ(ThisConfigSave.Mode, ModePlayList);
  EXPECT_EQ(PreviewCount, -30);  // not reloaded, keeps falling
  ThisConfigSave.Mode = ModeIdle;
  Timer(0);
  EXPECT_EQ(Queries(), 1);
  EXPECT_EQ(PreviewCount, PreviewReload);
}

TEST_F(TickTest, CheckHeldForYearsInPlayListDoesNotOverflow) {
  PreviewCount = INT_MIN + 1;
  ThisConfigSave.Mode = ModePlayList;
  Ticks(3);
  EXPECT_EQ(PreviewCount, INT_MIN);
  ThisConfigSave.Mode = ModeIdle;
  Timer(0);
  EXPECT_EQ(Queries(), 1);
}

TEST_F(TickTest, PreviewTakesCommittedValuesVoidAndMissingOnes) {
  ThisConfig.MenuValue[0][0] = testsupport::HeapText("-ex");
  ThisConfig.MenuValue[0][1] = testsupport::HeapText("night");
  ThisConfig.MenuValue[0][2] = testsupport::HeapText("VOID");
  ThisConfig.MenuValue[1][0] = testsupport::HeapText("-awb");
  ThisConfig.MenuValue[1][1] = testsupport::HeapText("sun");
  std::snprintf(ThisConfig.Preview, TextSize, "raspivid [0] [1]x [2] &");
  PreviewCount = 0;

  ThisConfigSave.MenuSelection[0] = 2;  // VOID: nothing at all
  ThisConfigSave.MenuSelection[1] = 5;  // no value at that index: keyword and blank
  Timer(0);
  ASSERT_EQ(world().Commands.size(), 2u);
  EXPECT_EQ(world().Commands[1], "raspivid  -awb x [2] &");

  world().Commands.clear();
  ThisConfigSave.MenuSelection[0] = 1;
  ThisConfigSave.MenuSelection[1] = 1;
  PreviewCount = 0;
  Timer(0);
  ASSERT_EQ(world().Commands.size(), 2u);
  EXPECT_EQ(world().Commands[1], "raspivid -ex night -awb sunx [2] &");
}

TEST_F(TickTest, PreviewSizeChoosesLargeOrSmall) {
  std::snprintf(ThisConfig.Preview, TextSize, "raspivid [PREVIEW_SIZE] &");
  std::snprintf(ThisConfig.PreviewSmall, TextSize, "-p 0,0,160,120");
  std::snprintf(ThisConfig.PreviewLarge, TextSize, "-f");
  ThisConfigSave.PreviewSize = 1;
  PreviewCount = 0;
  Timer(0);
  ASSERT_EQ(world().Commands.size(), 2u);
  EXPECT_EQ(world().Commands[1], "raspivid -f &");

  world().Commands.clear();
  ThisConfigSave.PreviewSize = 0;
  PreviewCount = 0;
  Timer(0);
  ASSERT_EQ(world().Commands.size(), 2u);
  EXPECT_EQ(world().Commands[1], "raspivid -p 0,0,160,120 &");
}

// --- Backlight sleep --------------------------------------------------------------------

class BacklightTickTest : public TickTest {
 protected:
  void SetUp() override {
    TickTest::SetUp();
    GPIO = Registers;
    ThisConfig.GPIO_LCD = 1;
    ThisConfig.OutSwitch[1] = static_cast<int>(LcdPin);
  }
  std::uint32_t Registers[1024] = {};
};

TEST_F(BacklightTickTest, GoesOffOnTick401AndTheClearRepeatsEveryTickAfter) {
  ThisConfigSave.SleepPeriod = 1;
  SleepCount = SleepTicksFor(1);
  Ticks(400);
  EXPECT_EQ(Registers[GpClr0Word], 0u);
  EXPECT_EQ(SleepCount, 0);
  Timer(0);  // tick 401
  EXPECT_EQ(Registers[GpClr0Word], 1u << LcdPin);
  EXPECT_EQ(SleepCount, 0);
  for (int Tick = 402; Tick <= 405; ++Tick) {
    Registers[GpClr0Word] = 0;
    Timer(0);
    EXPECT_EQ(Registers[GpClr0Word], 1u << LcdPin) << "tick " << Tick;
    EXPECT_EQ(SleepCount, 0);
  }
}

TEST_F(BacklightTickTest, SleepPeriodZeroNeverSwitchesOffNorCounts) {
  ThisConfigSave.SleepPeriod = 0;
  SleepCount = 0;
  Ticks(1000);
  EXPECT_EQ(SleepCount, 0);
  EXPECT_EQ(Registers[GpClr0Word], 0u);
}

TEST_F(BacklightTickTest, OutOfRangeBacklightIndexWritesNothing) {
  ThisConfigSave.SleepPeriod = 1;
  SleepCount = 0;
  for (int Index : {-1, OutSwitchCount, 7}) {
    ThisConfig.GPIO_LCD = Index;
    Timer(0);
    EXPECT_EQ(Registers[GpClr0Word], 0u) << Index;  // a later write would hide this one
  }
  EXPECT_EQ(SleepCount, 0);
  for (std::uint32_t Word : Registers) EXPECT_EQ(Word, 0u);
}

TEST_F(TickTest, BacklightCountdownRunsWithoutGpio) {
  ThisConfigSave.SleepPeriod = 2;
  SleepCount = 3;
  Ticks(3);
  EXPECT_EQ(SleepCount, 0);
  Ticks(2);
  EXPECT_EQ(SleepCount, 0);
}

// --- Automatic save and periodic redraw -------------------------------------------------

TEST_F(TickTest, AutomaticSaveOnTick801AndEvery801stAfter) {
  AutoSaveCount = AutoSaveReload;
  Ticks(800);
  EXPECT_FALSE(StateFileExists());
  Timer(0);  // tick 801
  EXPECT_TRUE(StateFileExists());
  EXPECT_EQ(AutoSaveCount, AutoSaveReload);
  ASSERT_EQ(std::remove("CONFIG.DAT"), 0);
  Ticks(800);
  EXPECT_FALSE(StateFileExists());
  Timer(0);  // tick 1602
  EXPECT_TRUE(StateFileExists());
}

TEST_F(TickTest, IdleCameraStopsRewritingAnUnchangedStateFile) {
  AutoSaveCount = AutoSaveReload;
  Ticks(801);  // tick 801: the first automatic save writes the file
  ASSERT_TRUE(StateFileExists());
  struct stat First {};
  ASSERT_EQ(stat("CONFIG.DAT", &First), 0);

  Ticks(801 * 3);  // three more automatic saves of the same record
  struct stat Later {};
  ASSERT_EQ(stat("CONFIG.DAT", &Later), 0);
  EXPECT_EQ(Later.st_ino, First.st_ino) << "an unchanged record was written again";
  EXPECT_EQ(AutoSaveCount, AutoSaveReload);  // the third one has just run

  ThisConfigSave.SleepPeriod = 7;  // a change reaches the card at the next one
  Ticks(801);
  ASSERT_EQ(stat("CONFIG.DAT", &Later), 0);
  EXPECT_NE(Later.st_ino, First.st_ino);
}

TEST_F(TickTest, SaveByTheLoopMovesTheNextAutomaticSave) {
  AutoSaveCount = AutoSaveReload;
  Ticks(500);
  SaveConfigBinary(StateFileName);  // the main loop saves during tick 500
  ASSERT_EQ(std::remove("CONFIG.DAT"), 0);
  Ticks(800);  // up to tick 1300: nothing, not even at tick 801
  EXPECT_FALSE(StateFileExists());
  Timer(0);  // tick 1301
  EXPECT_TRUE(StateFileExists());
}

TEST_F(TickTest, RedrawRequestedOnTick801AndEvery801stAfter) {
  TimePeriod = RedrawReload;
  std::vector<int> RedrawTicks;
  for (int Tick = 1; Tick <= 1602; ++Tick) {
    Timer(0);
    if (Refresh != 0) RedrawTicks.push_back(Tick);
    Refresh = 0;  // served by the loop
  }
  EXPECT_EQ(RedrawTicks, (std::vector<int>{801, 1602}));
  EXPECT_EQ(TimePeriod, RedrawReload);
}

TEST_F(TickTest, SaveAndRedrawRunOutOnTheSameTick) {
  AutoSaveCount = AutoSaveReload;
  TimePeriod = RedrawReload;
  Ticks(800);
  EXPECT_FALSE(StateFileExists());
  EXPECT_EQ(Refresh, 0);
  Timer(0);
  EXPECT_TRUE(StateFileExists());
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(TickTest, CounterHoldingZeroRunsOutOnTheNextTick) {
  TimePeriod = 0;
  Timer(0);
  EXPECT_EQ(Refresh, FlagSet);
  EXPECT_EQ(TimePeriod, RedrawReload);
}

// --- Collecting ended children ----------------------------------------------------------

// Blocks until the child Pid has ended, without collecting it.
bool WaitUntilEnded(pid_t Pid) {
  siginfo_t Info{};
  while (waitid(P_PID, static_cast<id_t>(Pid), &Info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool IsGone(pid_t Pid) {
  int Status = 0;
  return waitpid(Pid, &Status, WNOHANG) == -1 && errno == ECHILD;
}

TEST(CollectEndedChildren, EndedChildIsCollected) {
  pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) _exit(0);
  ASSERT_TRUE(WaitUntilEnded(Child));
  CollectEndedChildren();
  EXPECT_TRUE(IsGone(Child));
}

TEST(CollectEndedChildren, RunningChildIsLeftAlone) {
  int Pipe[2];
  ASSERT_EQ(pipe(Pipe), 0);
  pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    close(Pipe[1]);
    char Byte;
    (void)read(Pipe[0], &Byte, 1);  // runs until the test closes the pipe
    _exit(0);
  }
  close(Pipe[0]);
  CollectEndedChildren();
  int Status = 0;
  EXPECT_EQ(waitpid(Child, &Status, WNOHANG), 0);  // still ours, still running
  close(Pipe[1]);
  EXPECT_EQ(waitpid(Child, &Status, 0), Child);
}

TEST(CollectEndedChildren, NoChildrenIsHarmless) {
  CollectEndedChildren();
  CollectEndedChildren();
  SUCCEED();
}

// A helper process becomes a subreaper and lets a shell start a background job and exit,
// as a preview template does. The job reads a pipe that only the helper can close, so it
// is still running when its shell ends and is adopted; once it ends it must be collected.
int OrphanIsCollectedUnderSubreaper() {
  if (prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0) return 2;
  // Only the read end reaches the job; the write end stays with the helper.
  int Pipe[2];
  if (pipe2(Pipe, O_CLOEXEC) != 0 || fcntl(Pipe[0], F_SETFD, 0) != 0) return 3;
  char Command[128];
  std::snprintf(Command, sizeof Command, "cat <&%d >/dev/null & echo $!", Pipe[0]);
  FILE* Shell = popen(Command, "r");
  close(Pipe[0]);
  if (Shell == nullptr) return 4;
  char Line[64] = {};
  bool Read = std::fgets(Line, sizeof Line, Shell) != nullptr;
  pclose(Shell);  // the shell has ended; its job runs on as our child
  if (!Read) return 5;
  pid_t Orphan = static_cast<pid_t>(std::strtol(Line, nullptr, 10));
  if (Orphan <= 0) return 6;
  int Status = 0;
  if (waitpid(Orphan, &Status, WNOHANG) != 0) return 7;  // adopted and running
  CollectEndedChildren();
  if (waitpid(Orphan, &Status, WNOHANG) != 0) return 8;  // a running job stays
  close(Pipe[1]);                                        // the job ends
  if (!WaitUntilEnded(Orphan)) return 9;
  CollectEndedChildren();
  return IsGone(Orphan) ? 0 : 10;
}

TEST(CollectEndedChildren, OrphanedBackgroundToolIsCollectedUnderSubreaper) {
  std::fflush(nullptr);
  pid_t Helper = fork();
  ASSERT_GE(Helper, 0);
  if (Helper == 0) _exit(OrphanIsCollectedUnderSubreaper());
  int Status = 0;
  ASSERT_EQ(waitpid(Helper, &Status, 0), Helper);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0);
}

}  // namespace
