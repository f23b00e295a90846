// Menu keys: navigation bounds, commit, large preview, Space and the power actions.
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/MainLoop.h"
#include "app/MenuKeys.h"
#include "app/SavedState.h"
#include "state/Globals.h"

namespace {

using testsupport::MenuLabels;
using testsupport::MenuValues;

const std::string Right = "\x1bOC";
const std::string Left = "\x1bOD";
const std::string Up = "\x1bOA";
const std::string Down = "\x1bOB";
const std::vector<std::string> StopTools = {"killall -9 raspistill 2> /dev/null",
                                            "killall -9 raspivid 2> /dev/null"};

// Space saves CONFIG.DAT into the current directory, so each test runs in its own.
class MenuKeysTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    for (auto& Selection : ThisConfigSave.MenuSelection) Selection = 1;
    ThisConfigSave.MenuItemPos = 1;
    ThisConfigSave.SleepPeriod = 1;
  }

  // Two option menus and a power menu.
  static void StandardMenus() {
    MenuLabels(0, {"Exposure", "Auto", "Night", "Sports"});
    MenuValues(0, {"-ex", "auto", "night", "sports"});
    MenuLabels(1, {"Effect", "None", "Sketch"});
    MenuValues(1, {"-ifx", "none", "sketch"});
    MenuLabels(2, {"Power", "Off", "Hide", "LED off", "LED on", "Sleep 5", "Sleep off", "Empty",
                   "Shutdown"});
    MenuValues(2, {"POWER", "OFF", "HIDE MENU", "LED OFF", "LED ON", "SLEEP 5", "SLEEP OFF",
                   nullptr, "SHUTDOWN"});
  }

  void Press(const std::string& Keys) {
    KeyText = Keys;
    KeyText.resize(KeyBuffer.size() - 1, '\0');
    std::copy(KeyText.begin(), KeyText.end(), KeyBuffer.begin());
    HandleMenuKeys(KeyBuffer.data());
  }

  std::vector<char> KeyBuffer = std::vector<char>(TextSize, '\0');
  std::string KeyText;
  testsupport::ScratchDirectory Work{"keys", true};
};

TEST_F(MenuKeysTest, RightAndLeftWalkItemsWithinTheMenu) {
  StandardMenus();
  Press(Right);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 2);
  EXPECT_EQ(Refresh, FlagSet);
  Refresh = 0;
  Press(Left);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 1);
  EXPECT_EQ(Refresh, FlagSet);
  EXPECT_EQ(ThisConfigSave.MenuSelection[0], 1) << "moving never commits";
}

TEST_F(MenuKeysTest, EdgesOfTheMenuGridNeitherMoveNorRedraw) {
  StandardMenus();
  Press(Left);  // item 1
  Press(Up);    // menu 0
  ThisConfigSave.MenuItemPos = 3;
  Press(Right);  // last item of menu 0
  ThisConfigSave.MenuPos = 2;
  ThisConfigSave.MenuItemPos = 1;
  Press(Down);  // menu 3 has no title
  EXPECT_EQ(ThisConfigSave.MenuPos, 2);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 1);
  EXPECT_EQ(Refresh, 0);
}

TEST_F(MenuKeysTest, RightStopsAtItem63OfAFullMenu) {
  for (int Entry = 0; Entry < MenuEntryCount; ++Entry) {
    ThisConfig.Menu[0][Entry] = testsupport::HeapText("x");
  }
  ThisConfigSave.MenuItemPos = 62;
  Press(Right);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 63);
  Refresh = 0;
  Press(Right);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 63);
  EXPECT_EQ(Refresh, 0);
}

TEST_F(MenuKeysTest, DownStopsAtMenu63WhenAllMenusExist) {
  for (int Menu = 0; Menu < MenuCount; ++Menu) MenuLabels(Menu, {"M", "a"});
  ThisConfigSave.MenuPos = 63;
  Press(Down);
  EXPECT_EQ(ThisConfigSave.MenuPos, 63);
  EXPECT_EQ(Refresh, 0);
}

TEST_F(MenuKeysTest, UpAndDownShowTheCommittedItem) {
  StandardMenus();
  ThisConfigSave.MenuSelection[1] = 2;
  ThisConfigSave.MenuSelection[0] = 3;
  Press(Down);
  EXPECT_EQ(ThisConfigSave.MenuPos, 1);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 2);
  EXPECT_EQ(Refresh, FlagSet);
  Refresh = 0;
  Press(Up);
  EXPECT_EQ(ThisConfigSave.MenuPos, 0);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 3);
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(MenuKeysTest, UncommittedItemIsForgottenAfterRightDownUp) {
  StandardMenus();
  Press(Right);
  Press(Down);
  Press(Up);
  EXPECT_EQ(ThisConfigSave.MenuPos, 0);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 1);
}

TEST_F(MenuKeysTest, OnlyTheFirstKeyOfTheTextActs) {
  StandardMenus();
  Press(Right + Right);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 2);
  Press(Down + "\n");
  EXPECT_EQ(ThisConfigSave.MenuPos, 1);
  EXPECT_TRUE(world().Commands.empty()) << "the Enter after the arrow is ignored";
}

TEST_F(MenuKeysTest, MovesNeverStopToolsChangeModeOrSave) {
  StandardMenus();
  ThisConfigSave.Mode = ModePreview;
  for (const std::string& Key : {Right, Left, Down, Up}) Press(Key);
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
}

TEST_F(MenuKeysTest, UnknownAndIncompleteKeysDoNothing) {
  StandardMenus();
  for (const std::string& Key : {std::string("x"), std::string("\x1bO"), std::string("\x1b[C"),
                                 std::string("\x1bOZ"), std::string("")}) {
    Press(Key);
  }
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 1);
  EXPECT_EQ(ThisConfigSave.MenuPos, 0);
  EXPECT_EQ(Refresh, 0);
  EXPECT_TRUE(world().Commands.empty());
}

TEST_F(MenuKeysTest, PositionsOutsideTheTablesAreNeverIndexed) {
  StandardMenus();
  ThisConfigSave.MenuPos = 500;
  ThisConfigSave.MenuItemPos = -7;
  Press(Right);
  Press(Down);
  Press("\n");
  EXPECT_EQ(ThisConfigSave.MenuPos, 500);
  Press(Up);
  EXPECT_EQ(ThisConfigSave.MenuPos, 63) << "up from beyond the table lands on the last menu";
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 1);
}

TEST_F(MenuKeysTest, EnterOnAnOptionMenuCommitsStopsToolsAndGoesIdle) {
  StandardMenus();
  ThisConfigSave.Mode = ModePreview;
  Press(Right);
  Press("\n");
  EXPECT_EQ(ThisConfigSave.MenuSelection[0], 2);
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
  EXPECT_EQ(world().Commands, StopTools);
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(MenuKeysTest, EnterWithoutChangeStillStopsTools) {
  StandardMenus();
  ThisConfigSave.Mode = ModePreview;
  Press("\n");
  EXPECT_EQ(world().Commands, StopTools);
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
}

TEST_F(MenuKeysTest, EnterOnAMenuWithoutKeywordActsLikeAnOptionMenu) {
  MenuLabels(0, {"Orphan", "a", "b"});
  ThisConfigSave.Mode = ModePreview;
  ThisConfigSave.MenuItemPos = 2;
  Press("\n");
  EXPECT_EQ(ThisConfigSave.MenuSelection[0], 2);
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
  EXPECT_EQ(world().Commands, StopTools);
}

TEST_F(MenuKeysTest, EnterOnAPowerItemWithoutValueOnlyCommits) {
  StandardMenus();
  ThisConfigSave.MenuPos = 2;
  ThisConfigSave.MenuItemPos = 7;
  ThisConfigSave.Mode = ModePreview;
  Press("\n");
  EXPECT_EQ(ThisConfigSave.MenuSelection[2], 7);
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_EQ(ExitFlag, 0);
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(MenuKeysTest, EnterOnThePowerMenuCommitsAndRunsTheAction) {
  StandardMenus();
  ThisConfigSave.MenuPos = 2;
  ThisConfigSave.MenuItemPos = 1;
  ThisConfigSave.Mode = ModePreview;
  Press("\n");
  EXPECT_EQ(ExitFlag, FlagSet);
  EXPECT_EQ(ThisConfigSave.MenuSelection[2], 1);
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview) << "a power action does not go idle";
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(MenuKeysTest, SpaceWhileRecordingStopsTheCaptureWithoutSaving) {
  StandardMenus();
  ThisConfigSave.Mode = ModeRecording;
  ThisConfigSave.ID = 9;
  Press(" ");
  EXPECT_EQ(world().Commands, StopTools);
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
  EXPECT_EQ(ThisConfigSave.ID, 9);
  EXPECT_NE(access("CONFIG.DAT", F_OK), 0) << "stopping a capture saves nothing";
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(MenuKeysTest, SpaceInPreviewStopsToolsThenCaptures) {
  MenuLabels(0, {"Capture", "Still"});
  MenuValues(0, {"EXEC", "raspistill -o x.jpg &"});
  ThisConfigSave.Mode = ModePreview;
  ThisConfigSave.ID = 4;
  Press(" ");
  std::vector<std::string> Expected = StopTools;
  Expected.push_back("raspistill -o x.jpg &");
  EXPECT_EQ(world().Commands, Expected);
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
  EXPECT_EQ(ThisConfigSave.ID, 5);
  EXPECT_EQ(access("CONFIG.DAT", F_OK), 0) << "a capture saves the new number";
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(MenuKeysTest, RefusedCaptureLeavesThePreviewRunning) {
  MenuLabels(0, {"Capture", "Still"});
  MenuValues(0, {"EXEC", "raspistill -o [FILENAME] &"});
  std::strcpy(ThisConfig.Directory, "/missing/");
  world().FolderError = ENOENT;
  ThisConfigSave.Mode = ModePreview;
  Press(" ");
  EXPECT_TRUE(world().Commands.empty()) << "nothing stopped, nothing run";
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
  EXPECT_EQ(Refresh, 0) << "a redraw would wipe the error line";
}

TEST_F(MenuKeysTest, LargePreviewSwallowsTheFirstArrowOrEnter) {
  StandardMenus();
  ThisConfigSave.PreviewSize = 1;
  ThisConfigSave.Mode = ModePreview;
  Press(Right);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 1);
  EXPECT_EQ(ThisConfigSave.PreviewSize, 0);
  EXPECT_EQ(KeyBuffer[0], '\0') << "the key is consumed";
  EXPECT_EQ(world().Commands, StopTools);
  EXPECT_EQ(Refresh, 0) << "the watchdog requests the redraw";
  Press(Right);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 2);

  ThisConfigSave.PreviewSize = 1;
  Press("\n");
  EXPECT_EQ(ThisConfigSave.MenuSelection[0], 1) << "Enter only ended the large preview";
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
}

TEST_F(MenuKeysTest, LargePreviewLetsSpaceCaptureWithTheLargeSize) {
  MenuLabels(0, {"Capture", "Still"});
  MenuValues(0, {"EXEC", "raspistill [PREVIEW_SIZE] &"});
  std::strcpy(ThisConfig.PreviewLarge, "-f");
  std::strcpy(ThisConfig.PreviewSmall, "-p 0,0,320,240");
  ThisConfigSave.PreviewSize = 1;
  ThisConfigSave.Mode = ModePreview;
  Press(" ");
  ASSERT_EQ(world().Commands.size(), 3u);
  EXPECT_EQ(world().Commands[2], "raspistill -f &");
  EXPECT_EQ(ThisConfigSave.PreviewSize, 1);
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
}

TEST_F(MenuKeysTest, EmptyKeyTextKeepsTheLargePreview) {
  ThisConfigSave.PreviewSize = 1;
  Press("");
  EXPECT_EQ(ThisConfigSave.PreviewSize, 1);
  EXPECT_TRUE(world().Commands.empty());
}

class PowerActionTest : public MenuKeysTest {};

TEST_F(PowerActionTest, SleepSetsPeriodAndCountdown) {
  RunPowerAction("SLEEP 5");
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 5);
  EXPECT_EQ(SleepCount, 2000);
  RunPowerAction("SLEEP OFF");
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 0);
  EXPECT_EQ(SleepCount, 0);
}

TEST_F(PowerActionTest, SleepReadsTheNumberLikeAtoi) {
  RunPowerAction("SLEEP  12min");
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 12);
  RunPowerAction("SLEEP soon");
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 0);
  EXPECT_EQ(SleepCount, 0);
}

TEST_F(PowerActionTest, NegativeSleepMeansNeverSleep) {
  RunPowerAction("SLEEP -1");
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 0);
  EXPECT_EQ(SleepCount, 0);
}

TEST_F(PowerActionTest, HugeSleepSaturatesInsteadOfOverflowing) {
  RunPowerAction("SLEEP 99999999999999999999");
  EXPECT_EQ(ThisConfigSave.SleepPeriod, INT_MAX);
  EXPECT_GT(SleepCount, 0);
  EXPECT_EQ(SleepCount, SleepTicksFor(INT_MAX));
}

TEST_F(PowerActionTest, TextsMustMatchExactly) {
  ThisConfigSave.SleepPeriod = 3;
  for (const char* Value : {"off", "SLEEP", "SLEEP5", "HIDE", "LED", " OFF", "OFF ", "Shutdown",
                            "SHUTDOWN ", "SHUTDOWNS", "SHUT"}) {
    RunPowerAction(Value);
  }
  RunPowerAction(nullptr);
  EXPECT_EQ(ExitFlag, 0);
  EXPECT_EQ(ExitStatus, 0);
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 3);
  EXPECT_EQ(ThisConfigSave.PreviewSize, 0);
  EXPECT_TRUE(world().Commands.empty());
}

TEST_F(PowerActionTest, OffQuitsAndShutdownAsksForThePowerOff) {
  RunPowerAction("OFF");
  EXPECT_EQ(ExitFlag, FlagSet);
  EXPECT_EQ(ExitStatus, 0);
  ExitFlag = 0;
  RunPowerAction("SHUTDOWN");
  EXPECT_EQ(ExitFlag, FlagSet) << "the shutdown sequence runs as for OFF";
  EXPECT_EQ(ExitStatus, PowerOffStatus);
  EXPECT_TRUE(world().Commands.empty()) << "the tools are stopped by the shutdown sequence";
}

// The state saved after SHUTDOWN, loaded by the next start: the power menu no longer opens
// on SHUTDOWN, but on its first item that neither halts nor quits.
TEST_F(MenuKeysTest, NextStartDoesNotOpenOnShutdown) {
  StandardMenus();
  ThisConfigSave.MenuPos = 2;
  ThisConfigSave.MenuItemPos = 8;
  ThisConfigSave.MenuSelection[0] = 3;
  Press("\n");
  ASSERT_EQ(ExitStatus, PowerOffStatus);
  SaveConfigBinary(StateFileName);
  ThisConfigSave = {};
  LoadConfigBinary(StateFileName);
  ASSERT_EQ(ThisConfigSave.MenuSelection[2], 8) << "CONFIG.DAT keeps the item committed";
  StepOffShutdownItems();
  EXPECT_EQ(ThisConfigSave.MenuPos, 2);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 2);
  EXPECT_EQ(ThisConfigSave.MenuSelection[2], 2);
  EXPECT_EQ(ThisConfigSave.MenuSelection[0], 3);
}

TEST_F(MenuKeysTest, OnlyShutdownItemsOfPowerMenusAreSteppedOff) {
  struct Case {
    std::initializer_list<const char*> PowerValues;
    int MenuPos, ItemPos, Selection;  // before
    int WantItemPos, WantSelection;   // after
  };
  const Case Cases[] = {
      {{"POWER", "OFF", "SHUTDOWN", "LED ON"}, 1, 2, 2, 3, 3},  // the highlighted power menu
      {{"POWER", "OFF", "SHUTDOWN", "LED ON"}, 0, 2, 2, 2, 3},  // another menu highlighted
      {{"POWER", "OFF", "SHUTDOWN", "LED ON"}, 1, 2, 1, 3, 1},  // shown, OFF committed
      {{"POWER", "OFF", "LED ON"}, 1, 1, 1, 1, 1},              // OFF stays as it was
      {{"POWER", "SHUTDOWN", "OFF"}, 1, 1, 1, 2, 2},            // only OFF is left
      {{"POWER", "SHUTDOWN"}, 1, 1, 1, 1, 1},                   // nothing else to show
      {{"-ex", "SHUTDOWN", "auto"}, 1, 1, 1, 1, 1},             // not a power menu
  };
  int Row = 0;
  for (const Case& C : Cases) {
    ++Row;
    ResetProgramState();
    MenuLabels(0, {"Exposure", "Auto", "Night"});
    MenuValues(0, {"-ex", "auto", "night"});
    int Entry = 0;
    for (const char* Value : C.PowerValues) {
      ThisConfig.Menu[1][Entry] = testsupport::HeapText("Item");
      ThisConfig.MenuValue[1][Entry++] = testsupport::HeapText(Value);
    }
    ThisConfigSave.MenuPos = C.MenuPos;
    ThisConfigSave.MenuItemPos = C.ItemPos;
    ThisConfigSave.MenuSelection[1] = C.Selection;
    StepOffShutdownItems();
    EXPECT_EQ(ThisConfigSave.MenuItemPos, C.WantItemPos) << "row " << Row;
    EXPECT_EQ(ThisConfigSave.MenuSelection[1], C.WantSelection) << "row " << Row;
  }
}

TEST_F(PowerActionTest, HideMenuSwitchesToTheLargePreview) {
  ThisConfigSave.Mode = ModePreview;
  RunPowerAction("HIDE MENU");
  EXPECT_EQ(ThisConfigSave.PreviewSize, 1);
  EXPECT_EQ(world().Commands, StopTools);
  EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
}

TEST_F(PowerActionTest, LedActionsDriveTheLedPin) {
  std::uint32_t Registers[1024] = {};
  GPIO = Registers;
  ThisConfig.OutSwitch[1] = 17;
  ThisConfig.GPIO_LED = 1;
  RunPowerAction("LED ON");
  EXPECT_EQ(Registers[7], 1u << 17);  // GPSET0
  EXPECT_EQ(Registers[10], 0u);
  Registers[7] = 0;
  RunPowerAction("LED OFF");
  EXPECT_EQ(Registers[10], 1u << 17);  // GPCLR0
  EXPECT_EQ(Registers[7], 0u);
}

TEST_F(PowerActionTest, LedActionsWithoutGpioDoNothing) {
  ThisConfig.OutSwitch[0] = 17;
  RunPowerAction("LED ON");
  RunPowerAction("LED OFF");
  EXPECT_TRUE(world().Commands.empty());
}

}  // namespace
