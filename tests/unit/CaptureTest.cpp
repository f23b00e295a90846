// Command templates: menu placeholders, capture steps and their order, the capture number.
#include <sys/stat.h>
#include <unistd.h>

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
#include "app/Capture.h"
#include "app/Shell.h"
#include "state/Globals.h"

namespace {

using testsupport::MenuValues;

class ExpansionTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    for (auto& Selection : ThisConfigSave.MenuSelection) Selection = 1;
  }

  static std::string Expand(const std::string& Command) {
    std::vector<char> Buffer(TextSize, '\0');
    std::strncpy(Buffer.data(), Command.c_str(), TextSize - 1);
    ExpandMenuPlaceholders(Buffer.data());
    return Buffer.data();
  }
};

TEST_F(ExpansionTest, MenuPlaceholderBecomesKeywordBlankAndCommittedValue) {
  MenuValues(0, {"-ex", "auto", "night"});
  ThisConfigSave.MenuSelection[0] = 2;
  ThisConfigSave.MenuItemPos = 1;  // only the committed item counts
  EXPECT_EQ(Expand("raspistill [0] -o x [0]"), "raspistill -ex night -o x -ex night");
}

TEST_F(ExpansionTest, VoidRemovesKeywordAndValueButKeepsSurroundingBlanks) {
  MenuValues(0, {"-ifx", "VOID"});
  EXPECT_EQ(Expand("a [0] b"), "a  b");
}

TEST_F(ExpansionTest, ItemWithoutValueGivesKeywordAndBlank) {
  MenuValues(0, {"-vf", "x"});
  ThisConfigSave.MenuSelection[0] = 5;
  EXPECT_EQ(Expand("a [0]b"), "a -vf b");
}

TEST_F(ExpansionTest, SelectionOutsideTheTableCountsAsNoValue) {
  MenuValues(0, {"-a", "x"});
  MenuValues(1, {"-b", "y"});
  MenuValues(2, {"-c", "z"});
  ThisConfigSave.MenuSelection[0] = -1;
  ThisConfigSave.MenuSelection[1] = 64;
  ThisConfigSave.MenuSelection[2] = INT_MAX;
  EXPECT_EQ(Expand("[0]|[1]|[2]"), "-a |-b |-c ");
}

TEST_F(ExpansionTest, MenuOneAndMenuTenHaveDistinctPlaceholders) {
  for (int Menu = 0; Menu <= 10; ++Menu) {
    std::string Keyword = "k" + std::to_string(Menu);
    std::string Value = "v" + std::to_string(Menu);
    MenuValues(Menu, {Keyword.c_str(), Value.c_str()});
  }
  EXPECT_EQ(Expand("[1] [10] [0]"), "k1 v1 k10 v10 k0 v0");
}

TEST_F(ExpansionTest, ExpansionEndsAtTheFirstMenuWithoutKeyword) {
  MenuValues(0, {"-a", "x"});
  MenuValues(2, {"-c", "z"});
  EXPECT_EQ(Expand("[0] [1] [2]"), "-a x [1] [2]");
}

TEST_F(ExpansionTest, ValueMayHoldHigherMenuPlaceholdersButNotLowerOnes) {
  MenuValues(0, {"-a", "x"});
  MenuValues(1, {"-b", "[0]/[2]"});
  MenuValues(2, {"-c", "z"});
  EXPECT_EQ(Expand("[1]"), "-b [0]/-c z");
}

TEST_F(ExpansionTest, PreviewSizeFollowsTheHiddenMenu) {
  std::strcpy(ThisConfig.PreviewSmall, "-p 0,0,320,240");
  std::strcpy(ThisConfig.PreviewLarge, "-f");
  MenuValues(0, {"-x", "[PREVIEW_SIZE]"});
  EXPECT_EQ(Expand("[PREVIEW_SIZE] [0]"), "-p 0,0,320,240 -x -p 0,0,320,240");
  ThisConfigSave.PreviewSize = 1;
  EXPECT_EQ(Expand("[PREVIEW_SIZE] [0]"), "-f -x -f");
}

TEST_F(ExpansionTest, LongExpansionIsCutAt4096WithoutOverrun) {
  std::string Long(3000, 'v');
  MenuValues(0, {"-k", Long.c_str()});
  constexpr char Canary = 0x5a;
  std::vector<char> Memory(TextSize + 64, Canary);
  std::strcpy(Memory.data(), "[0][0]");
  ExpandMenuPlaceholders(Memory.data());
  EXPECT_EQ(std::strlen(Memory.data()), TextSize - 1);
  for (std::size_t i = TextSize; i < Memory.size(); ++i) ASSERT_EQ(Memory[i], Canary) << i;
}

// The capture writes CONFIG.DAT into the current directory, so each test runs in its own.
class CaptureTest : public ExpansionTest {
 protected:
  void SetUp() override {
    ExpansionTest::SetUp();
    ThisConfigSave.ID = 1;
    world().Clock = testsupport::LocalTime(2014, 3, 5, 7, 8, 9);
  }

  // One "EXEC" menu as menu Menu, committed to the template.
  static void ExecMenu(int Menu, const char* Template) { MenuValues(Menu, {"EXEC", Template}); }

  std::string Capture() {
    StartCapture();
    return world().Commands.empty() ? std::string("<none>") : world().Commands.back();
  }

  testsupport::ScratchDirectory Work{"capture", true};
};

TEST_F(CaptureTest, RunsTheCommittedTemplateOfTheFirstExecMenu) {
  ExecMenu(1, "first");
  ExecMenu(2, "second");
  EXPECT_EQ(Capture(), "first");
  EXPECT_EQ(world().Commands.size(), 1u);
  EXPECT_TRUE(world().FoldersAsked.empty()) << "no [FILENAME], no folder to check";
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
  EXPECT_EQ(Refresh, FlagSet);
  // A capture tool the shell would not find is named, and the command run all the same.
  world().MissingCommands = {"first"};
  ForgetCommandLookups();  // "first" was found a moment ago
  EXPECT_EQ(Capture(), "first");
  EXPECT_NE(world().Output.find("Camera tool not found: first."), std::string::npos);
}

TEST_F(CaptureTest, MenusWithoutKeywordDoNotEndTheTemplateSearch) {
  ExecMenu(5, "raspivid -t 0 &");
  EXPECT_EQ(Capture(), "raspivid -t 0 &");
}

TEST_F(CaptureTest, WithoutExecMenuAnEmptyCommandStillCounts) {
  MenuValues(0, {"-ex", "auto"});
  EXPECT_EQ(Capture(), "");
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
  EXPECT_EQ(ThisConfigSave.ID, 2);
}

TEST_F(CaptureTest, ExecItemWithoutValueGivesAnEmptyCommand) {
  ExecMenu(0, "unused");
  ThisConfigSave.MenuSelection[0] = 9;
  EXPECT_EQ(Capture(), "");
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
}

TEST_F(CaptureTest, BackquotesBecomeCommasInTheTemplateOnly) {
  MenuValues(0, {"-x", "a`b"});
  ExecMenu(1, "raspistill -p 0`0 [0]");
  EXPECT_EQ(Capture(), "raspistill -p 0,0 -x a`b");
}

TEST_F(CaptureTest, PlayWithATrailingBlankIsRunAsACommand) {
  ExecMenu(0, "PLAY ");
  EXPECT_EQ(Capture(), "PLAY ");
  EXPECT_EQ(ThisConfigSave.Mode, ModeRecording);
  EXPECT_EQ(ThisConfigSave.ID, 2);
}

TEST_F(CaptureTest, PlayOpensTheListInsteadOfCapturing) {
  ExecMenu(0, "PLAY");
  std::strcpy(ThisConfig.Directory, (Work.Path() + "/").c_str());
  StartCapture();
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_EQ(ThisConfigSave.ID, 1);
  EXPECT_EQ(ThisConfigSave.Mode, ModePlayList);
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(CaptureTest, FileNameJoinsDirectoryAndPatternThenGetsDateAndNumber) {
  std::strcpy(ThisConfig.Directory, "/home/pi/DCIM/");
  std::strcpy(ThisConfig.Filename, "IMG_[YEAR][MONTH][DAY]_[HOUR][MINUTE][SECOND]_[ID]_[0].jpg");
  MenuValues(0, {"-ex", "auto"});
  ExecMenu(1, "raspistill [0] -o [FILENAME] &");
  EXPECT_EQ(Capture(), "raspistill -ex auto -o /home/pi/DCIM/IMG_20140305_070809_000001_[0].jpg &");
}

TEST_F(CaptureTest, PlaceholdersBroughtInByMenuValuesAreExpanded) {
  std::strcpy(ThisConfig.Directory, "/d/");
  std::strcpy(ThisConfig.Filename, "f");
  std::strcpy(ThisConfig.PreviewSmall, "-p 1");
  MenuValues(0, {"-o", "[FILENAME]_[YEAR]-[MONTH]_[ID] [PREVIEW_SIZE]"});
  ExecMenu(1, "cam [0]");
  EXPECT_EQ(Capture(), "cam -o /d/f_2014-03_000001 -p 1");
}

TEST_F(CaptureTest, CaptureNumberIsPaddedToSixDigitsAndNeverCut) {
  ExecMenu(0, "n=[ID]");
  EXPECT_EQ(Capture(), "n=000001");
  EXPECT_EQ(ThisConfigSave.ID, 2);
  ThisConfigSave.ID = 1234567;
  EXPECT_EQ(Capture(), "n=1234567");
}

TEST_F(CaptureTest, SameNumberTwiceAndOneIncrementPerCapture) {
  ExecMenu(0, "[ID] [ID]");
  ThisConfigSave.ID = 41;
  EXPECT_EQ(Capture(), "000041 000041");
  EXPECT_EQ(ThisConfigSave.ID, 42);
}

TEST_F(CaptureTest, NumberCountsOnPastTheSignedLimitAndWrapsUnsigned) {
  ExecMenu(0, "[ID]");
  ThisConfigSave.ID = INT_MAX;
  EXPECT_EQ(Capture(), "2147483647");
  EXPECT_EQ(Capture(), "2147483648");
  ThisConfigSave.ID = -1;  // a negative ID_START, or a counter that went all the way round
  EXPECT_EQ(Capture(), "4294967295");
  EXPECT_EQ(Capture(), "000000");
}

TEST_F(CaptureTest, NewNumberIsSavedToTheStateFile) {
  ExecMenu(0, "[ID]");
  Capture();
  std::FILE* File = std::fopen("CONFIG.DAT", "rb");
  ASSERT_NE(File, nullptr);
  unsigned char Bytes[4] = {};
  EXPECT_EQ(std::fread(Bytes, 1, sizeof Bytes, File), sizeof Bytes);
  std::fclose(File);
  EXPECT_EQ(Bytes[0], 2);
  EXPECT_EQ(Bytes[1] | Bytes[2] | Bytes[3], 0);
}

TEST_F(CaptureTest, DateFieldsAreZeroPaddedAndTheYearWhole) {
  world().Clock = testsupport::LocalTime(987, 11, 25, 23, 59, 0);
  ExecMenu(0, "[YEAR]/[MONTH]/[DAY] [HOUR]:[MINUTE]:[SECOND] [YEAR]");
  EXPECT_EQ(Capture(), "0987/11/25 23:59:00 0987");
}

std::time_t TickingClock() {
  // Every reading is one second later than the one before.
  return testsupport::TheWorld().Clock++;
}

TEST_F(CaptureTest, DateAndTimeComeFromOneClockReading) {
  world().Clock = testsupport::LocalTime(2014, 12, 31, 23, 59, 59);
  Platform.Now = TickingClock;
  ExecMenu(0, "[YEAR][MONTH][DAY][HOUR][MINUTE][SECOND]");
  EXPECT_EQ(Capture(), "20141231235959");
}

// The capture number moves on past names the folder already holds, so no capture
// overwrites an earlier one; the number used plus one is kept.
TEST_F(CaptureTest, NumberMovesOnPastNamesAlreadyTaken) {
  struct Case {
    const char* Pattern;
    std::int32_t Id;
    std::vector<std::string> Names;
    const char* Command;  // "" when refused
    std::int32_t NextId;
  };
  const Case Cases[] = {
      {"IMG_[ID]", 1, {}, "-o /cap/IMG_000001.jpg", 2},
      {"IMG_[ID]", 1, {"IMG_000001.jpg"}, "-o /cap/IMG_000002.jpg", 3},
      {"IMG_[ID]",
       1,
       {"IMG_000001", "IMG_000002_0001.jpg", "IMG_000003.h264"},
       "-o /cap/IMG_000004.jpg",
       5},
      {"IMG_[ID]", 1, {"IMG_0000011.jpg", "IMG_00000.jpg"}, "-o /cap/IMG_000001.jpg", 2},
      {"IMG_[ID]", -1, {"IMG_4294967295.jpg"}, "-o /cap/IMG_000000.jpg", 1},
      {"[YEAR]/IMG_[ID]", 7, {"IMG_000007.jpg"}, "-o /cap/2014/IMG_000008.jpg", 9},
      {"IMG", 1, {"IMG.jpg"}, "", 1},  // every number gives the same, taken, name
  };
  std::strcpy(ThisConfig.Directory, "/cap/");
  ExecMenu(0, "-o [FILENAME].jpg");
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Pattern + std::string(" from ") + std::to_string(C.Id));
    std::strcpy(ThisConfig.Filename, C.Pattern);
    ThisConfigSave.ID = C.Id;
    ThisConfigSave.Mode = ModePreview;
    world().FolderNames = C.Names;
    world().Commands.clear();
    world().Output.clear();
    EXPECT_EQ(StartCapture(), C.Command[0] != 0);
    EXPECT_EQ(world().Commands.empty() ? "" : world().Commands.back(), C.Command);
    EXPECT_EQ(ThisConfigSave.ID, C.NextId);
    if (C.Command[0] == 0) {
      EXPECT_NE(world().Output.find("No free capture file name."), std::string::npos);
    }
  }
  const std::vector<std::string>& Asked = world().FoldersAsked;
  EXPECT_NE(std::find(Asked.begin(), Asked.end(), "/cap/2014"), Asked.end()) << "dated folder";
}

TEST_F(CaptureTest, DatedFoldersAreMadeBelowTheFixedPartOfTheDirectory) {
  ExecMenu(0, "-o [FILENAME].jpg");
  std::strcpy(ThisConfig.Directory, "/cap/[YEAR]-[MONTH]/[DAY]/");
  std::strcpy(ThisConfig.Filename, "IMG_[ID]");
  EXPECT_EQ(Capture(), "-o /cap/2014-03/05/IMG_000001.jpg");
  EXPECT_EQ(world().FoldersMade, (std::vector<std::string>{"/cap/2014-03", "/cap/2014-03/05"}));
  EXPECT_EQ(world().FoldersAsked.front(), "/cap/2014-03/05") << "free space where it writes";
  // A folder written out in the pattern is never made, as before.
  std::strcpy(ThisConfig.Directory, "/cap/");
  std::strcpy(ThisConfig.Filename, "sub/IMG_[ID]");
  world().FoldersMade.clear();
  EXPECT_EQ(Capture(), "-o /cap/sub/IMG_000002.jpg");
  EXPECT_TRUE(world().FoldersMade.empty());

  // On a real file system: the fixed part "takes" must be there, or nothing is made; the
  // folders made get 0777 less the umask.
  Platform.MakeFolder = ProductionPlatform().MakeFolder;
  std::strcpy(ThisConfig.Directory, "takes/[YEAR]/[MONTH]/");
  world().Commands.clear();
  EXPECT_FALSE(StartCapture());
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_NE(world().Output.find("Capture folder missing."), std::string::npos);
  EXPECT_NE(access("takes", F_OK), 0);
  ASSERT_EQ(mkdir("takes", 0700), 0);
  const mode_t Previous = umask(027);
  EXPECT_TRUE(StartCapture());
  umask(Previous);
  struct stat Info {};
  ASSERT_EQ(stat("takes/2014/03", &Info), 0);
  EXPECT_EQ(Info.st_mode & 0777, 0750u);
}

// A capture that cannot succeed runs nothing: mode, number and state file stay as they
// were, no redraw wipes the reason off the error line.
TEST_F(CaptureTest, CaptureThatCannotSucceedIsRefusedWithItsReason) {
  constexpr std::uint64_t MiB = 1024 * 1024;
  struct Case {
    int FolderError;
    std::uint64_t FreeBytes;
    int MinimumMiB;
    std::size_t TemplateLength;  // of filler before "[FILENAME]"
    const char* Message;         // null: the capture runs
  };
  const Case Cases[] = {
      {ENOENT, 0, 16, 0, "Capture folder missing."},
      {ENOTDIR, 0, 16, 0, "Capture folder missing."},
      {EACCES, 0, 16, 0, "Capture folder not writable."},
      {EROFS, 0, 16, 0, "Capture folder not writable."},
      {0, 16 * MiB - 1, 16, 0, "Card full."},
      {0, 16 * MiB, 16, 0, nullptr},
      {0, 0, 0, 0, nullptr},  // the check switched off
      // Filler, " ", "/cap/000005", " &": the command built is measured, 4096 fits.
      {0, UINT64_MAX, 16, 4096 - 14, nullptr},
      {0, UINT64_MAX, 16, 4096 - 13, "Capture command too long, not run."},
  };
  std::strcpy(ThisConfig.Directory, "/cap/");
  std::strcpy(ThisConfig.Filename, "[ID]");  // "/cap/000005": 11 characters
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Message ? C.Message : "runs");
    const std::string Template = std::string(C.TemplateLength, 'x') + " [FILENAME] &";
    for (char*& Text : ThisConfig.MenuValue[0]) {
      std::free(Text);
      Text = nullptr;
    }
    ExecMenu(0, Template.c_str());
    world().FolderError = C.FolderError;
    world().FreeBytes = C.FreeBytes;
    ThisConfig.CaptureMinFreeMiB = C.MinimumMiB;
    world().Commands.clear();
    world().Output.clear();
    std::remove("CONFIG.DAT");
    ThisConfigSave.ID = 5;
    ThisConfigSave.Mode = ModePreview;
    Refresh = 0;
    const bool Started = StartCapture();
    if (C.Message == nullptr) {
      EXPECT_TRUE(Started);
      ASSERT_EQ(world().Commands.size(), 1u);
      EXPECT_EQ(world().Commands[0].size(), C.TemplateLength + 14);
      EXPECT_EQ(ThisConfigSave.ID, 6);
      continue;
    }
    EXPECT_FALSE(Started);
    EXPECT_TRUE(world().Commands.empty());
    EXPECT_EQ(ThisConfigSave.Mode, ModePreview);
    EXPECT_EQ(ThisConfigSave.ID, 5);
    EXPECT_EQ(Refresh, 0);
    EXPECT_NE(access("CONFIG.DAT", F_OK), 0) << "nothing changed, nothing saved";
    EXPECT_EQ(world().Output.rfind("\x1b"
                                   "7",
                                   0),
              0u)
        << "on the error line";
    EXPECT_NE(world().Output.find(C.Message), std::string::npos) << world().Output;
  }
}

TEST_F(ExpansionTest, OverLongMenuValueIsReportedAsCut) {
  std::string Long(4000, 'v');
  MenuValues(0, {"-k", Long.c_str()});
  std::vector<char> Buffer(TextSize, '\0');
  std::strcpy(Buffer.data(), "[0]");
  EXPECT_TRUE(ExpandMenuPlaceholders(Buffer.data()));
  std::strcpy(Buffer.data(), "[0] [0]");
  EXPECT_FALSE(ExpandMenuPlaceholders(Buffer.data()));
  // Only what the command names is measured: an over-long capture template committed in
  // the "EXEC" menu does not stop a preview that never uses it.
  const std::string Template(5000, 't');
  MenuValues(1, {"EXEC", Template.c_str()});
  std::strcpy(Buffer.data(), "raspivid [0] &");
  EXPECT_TRUE(ExpandMenuPlaceholders(Buffer.data()));
  std::strcpy(Buffer.data(), "[1]");
  EXPECT_FALSE(ExpandMenuPlaceholders(Buffer.data()));
}

}  // namespace
