// The main loop: one iteration's redraw, backlight wake and dispatch by mode, and the
// start-up helpers (the executable's directory, the menu grid rows).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "TestSupport.h"
#include "app/MainLoop.h"
#include "keys/KeyInput.h"

namespace {

constexpr int SetWord = 7;  // GPSET0
constexpr int LcdPin = 18;
const char* const Right = "\x1bOC";

// One iteration over two menus, with the backlight on output 2 and no buttons wired.
class LoopIterationTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    int Entry = 0;
    for (const char* Label : {"Exposure", "Auto", "Night"}) {
      ThisConfig.Menu[0][Entry++] = testsupport::HeapText(Label);
    }
    ThisConfig.Menu[1][0] = testsupport::HeapText("Effect");
    ThisConfig.ItemWidth = 10;
    Rows = 2;  // the highlighted menu alone
    for (auto& Pin : ThisConfig.Switch) Pin = -1;
    ThisConfig.OutSwitch[1] = LcdPin;
    ThisConfig.GPIO_LCD = 1;
    GPIO = Registers;
  }

  // Runs one iteration in Mode with Keys pending, from item 1 of menu 0.
  void Iterate(int Mode, const std::string& Keys) {
    ThisConfigSave.Mode = Mode;
    ThisConfigSave.MenuItemPos = 1;
    ThisConfigSave.MenuSelection[0] = 1;
    ResetKeyRepeat();
    for (char Byte : Keys) world().Input.push_back(static_cast<unsigned char>(Byte));
    LoopIteration();
  }

  std::uint32_t Registers[1024] = {};
  testsupport::ScratchDirectory Work{"loop", true};  // a capture saves CONFIG.DAT here
};

TEST_F(LoopIterationTest, KeysGoToTheHandlerOfTheMode) {
  struct Row {
    int Mode;
    const char* Keys;
    int ModeAfter;
    int ItemAfter;
    std::size_t Commands;  // stop commands, capture and player runs
  };
  const Row Cases[] = {
      {ModeIdle, Right, ModeIdle, 2, 0},
      {ModePreview, Right, ModePreview, 2, 0},
      {ModePreview, "\n", ModeIdle, 1, 2},   // commit: the tools stop for a new preview
      {ModeIdle, " ", ModeRecording, 1, 3},  // capture
      {ModeRecording, Right, ModeRecording, 1, 0},
      {ModeRecording, "\n", ModeRecording, 1, 0},
      {ModeRecording, "\x1bOB", ModeRecording, 1, 0},
      {ModeRecording, " ", ModeIdle, 1, 2},       // capture stopped
      {ModePlayList, Right, ModePlayList, 1, 1},  // list page: the player stops
      {ModePlayList, " ", ModeIdle, 1, 1},        // list closed
  };
  for (const Row& Case : Cases) {
    SCOPED_TRACE(&Case - Cases);
    world().Commands.clear();
    ThisConfigSave.MenuPos = 0;
    Iterate(Case.Mode, Case.Keys);
    EXPECT_EQ(ThisConfigSave.Mode, Case.ModeAfter);
    EXPECT_EQ(ThisConfigSave.MenuItemPos, Case.ItemAfter);
    EXPECT_EQ(ThisConfigSave.MenuPos, 0);
    EXPECT_EQ(world().Commands.size(), Case.Commands);
  }
}

// A key that wakes the backlight is handled as well, even one that recording then drops.
TEST_F(LoopIterationTest, AnyKeyWakesTheBacklightUnlessSleepIsOff) {
  for (int Mode : {ModeIdle, ModeRecording, ModePlayList}) {
    SCOPED_TRACE(Mode);
    Registers[SetWord] = 0;
    SleepCount = 0;
    ThisConfigSave.SleepPeriod = 3;
    Iterate(Mode, Right);
    EXPECT_EQ(Registers[SetWord], 1u << LcdPin);
    EXPECT_EQ(SleepCount, 3 * SleepTicksPerUnit);
  }
  Registers[SetWord] = 0;
  SleepCount = 0;
  Iterate(ModeIdle, "");
  ThisConfigSave.SleepPeriod = 0;
  Iterate(ModeIdle, Right);
  EXPECT_EQ(Registers[SetWord], 0u);
  EXPECT_EQ(SleepCount, 0);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 2) << "the key still acts";
}

// The screen is drawn before the keys are handled, so a key's redraw request waits for
// the next iteration.
TEST_F(LoopIterationTest, RedrawsOnlyWhenAskedAndBeforeTheKeys) {
  Iterate(ModeIdle, "");
  EXPECT_EQ(world().Output, "");
  Refresh = FlagSet;
  Iterate(ModeIdle, "");
  EXPECT_NE(world().Output.find("Exposure"), std::string::npos);
  EXPECT_EQ(Refresh, 0);
  world().Output.clear();
  Refresh = FlagSet;
  Iterate(ModeIdle, Right);
  EXPECT_NE(world().Output.find("Auto"), std::string::npos) << "drawn before the key moved";
  EXPECT_EQ(world().Output.find("Night"), std::string::npos);
  EXPECT_EQ(Refresh, FlagSet) << "the key's request waits for the next iteration";
}

}  // namespace

TEST(ExecutableDirectory, RelativePathGivesItsDirectory) {
  std::string Directory;
  ASSERT_TRUE(ExecutableDirectory("./cam", &Directory));
  EXPECT_EQ(Directory, ".");
  ASSERT_TRUE(ExecutableDirectory("/opt/cam/cam", &Directory));
  EXPECT_EQ(Directory, "/opt/cam");
}

TEST(ExecutableDirectory, NameWithoutSlashKeepsCurrentDirectory) {
  std::string Directory = "unchanged";
  EXPECT_FALSE(ExecutableDirectory("cam", &Directory));
  EXPECT_EQ(Directory, "unchanged");
}

TEST(ExecutableDirectory, FileBelowRootGivesEmptyDirectory) {
  std::string Directory;
  ASSERT_TRUE(ExecutableDirectory("/cam", &Directory));
  EXPECT_EQ(Directory, "");
}

TEST(ExecutableDirectory, VeryLongNameIsTakenWhole) {
  std::string Long(10000, 'd');
  Long += "/cam";
  std::string Directory;
  ASSERT_TRUE(ExecutableDirectory(Long.c_str(), &Directory));
  EXPECT_EQ(Directory.size(), 10000u);
}

TEST(MenuRows, DividesHeightLessBorderByItemHeight) {
  EXPECT_EQ(MenuRowsFor(24, 0, 2), 12);
  EXPECT_EQ(MenuRowsFor(24, 1, 2), 11);
  EXPECT_EQ(MenuRowsFor(24, 3, 4), 5);
}

TEST(MenuRows, ZeroItemHeightCountsAsTheTwoLinesOfAMenu) {
  EXPECT_EQ(MenuRowsFor(24, 2, 0), 11);
}

TEST(MenuRows, ExtremeValuesDoNotOverflow) {
  EXPECT_EQ(MenuRowsFor(24, -2147483647 - 1, -1), -2147483647 - 1);
  EXPECT_EQ(MenuRowsFor(0, 5, 2), -2);
}

TEST(PowerOffNotice, OnlyAShutdownOutsideTheServiceSaysPowerOffIsLeftToTheCaller) {
  const char* Notice = PowerOffNotice(PowerOffStatus, nullptr);
  ASSERT_NE(Notice, nullptr);
  EXPECT_STREQ(Notice, "SHUTDOWN: power-off is left to the caller (exit status 3).\n");
  EXPECT_STREQ(PowerOffNotice(PowerOffStatus, ""), Notice) << "an empty value is no service";
  EXPECT_EQ(PowerOffNotice(PowerOffStatus, "1"), nullptr);
  EXPECT_EQ(PowerOffNotice(0, nullptr), nullptr);
}
