// The playback list: which recordings are listed, and what the list keys run and move.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Playback.h"
#include "app/Shell.h"

namespace {

const char* const Space = " ";
const char* const Enter = "\n";
const char* const Up = "\x1bOA";
const char* const Down = "\x1bOB";
const char* const PageForward = "\x1bOC";
const char* const PageBack = "\x1bOD";
constexpr const char* PlayingAnswer = "/usr/bin/omxplayer.bin /tmp/a.jpg";

// A fresh capture directory per test; Directory names it with a trailing "/".
class PlaybackTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    std::snprintf(ThisConfig.Directory, TextSize, "%s/", Dir.c_str());
    std::snprintf(ThisConfig.Play, TextSize, "omxplayer [FILENAME] &");
    DisplayHeight = 24;
    DisplayWidth = 80;
  }

  void MakeFile(const std::string& Name) {
    FILE* File = std::fopen((Dir + "/" + Name).c_str(), "w");
    ASSERT_NE(File, nullptr) << Name;
    std::fclose(File);
  }
  void MakeFiles(int Count) {
    for (int i = 0; i < Count; ++i) {
      char Name[32];
      std::snprintf(Name, sizeof Name, "f%03d.jpg", i);
      MakeFile(Name);
    }
  }
  static std::vector<std::string> Listed() {
    std::vector<std::string> Names;
    for (const char* Name : ThisConfig.DirList) {
      if (Name != nullptr) Names.emplace_back(Name);
    }
    return Names;
  }
  static void Press(const char* Key) {
    char Keys[16];
    std::snprintf(Keys, sizeof Keys, "%s", Key);
    HandleListKeys(Keys);
  }
  bool AnyCommandMentions(const std::string& Text) {
    for (const std::string& Command : world().Commands) {
      if (Command.find(Text) != std::string::npos) return true;
    }
    return false;
  }
  std::string PlayCommandFor(const std::string& Name) const {
    return "omxplayer " + Dir + "/" + Name + " &";
  }

  testsupport::ScratchDirectory Scratch{"play"};
  const std::string& Dir = Scratch.Path();
};

// --- Which entries are listed -----------------------------------------------------------

TEST_F(PlaybackTest, ListsOnlyRegularPicturesAndVideos) {
  MakeFile("pic.jpg");
  MakeFile("clip.h264");
  MakeFile("nodot");
  MakeFile("upper.JPG");
  MakeFile("a.b.jpg");
  MakeFile("clip.h264.bak");
  ASSERT_EQ(mkdir((Dir + "/x.jpg").c_str(), 0755), 0);
  ASSERT_EQ(symlink("pic.jpg", (Dir + "/link.jpg").c_str()), 0);
  ThisConfig.DirPos = 7;
  OpenPlayList();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"clip.h264", "pic.jpg"}));
  EXPECT_EQ(ThisConfig.DirPos, 0);
  EXPECT_EQ(ThisConfigSave.Mode, ModePlayList);
}

TEST_F(PlaybackTest, SuffixIsTheTextFromTheFirstDot) {
  auto Entry = [](const char* Name, unsigned char Type) {
    dirent Result{};
    std::snprintf(Result.d_name, sizeof Result.d_name, "%s", Name);
    Result.d_type = Type;
    return Result;
  };
  dirent Picture = Entry("p.jpg", DT_REG);
  dirent Hidden = Entry(".jpg", DT_REG);
  dirent Video = Entry("v.h264", DT_REG);
  dirent Longer = Entry("v.h2644", DT_REG);
  dirent Shorter = Entry("v.jp", DT_REG);
  dirent Trailing = Entry("v.jpg ", DT_REG);
  dirent Unknown = Entry("u.jpg", DT_UNKNOWN);
  EXPECT_NE(DirSelect(&Picture), 0);
  EXPECT_NE(DirSelect(&Hidden), 0);
  EXPECT_NE(DirSelect(&Video), 0);
  EXPECT_EQ(DirSelect(&Longer), 0);
  EXPECT_EQ(DirSelect(&Shorter), 0);
  EXPECT_EQ(DirSelect(&Trailing), 0);
  EXPECT_EQ(DirSelect(&Unknown), 0);
}

TEST_F(PlaybackTest, UpperCaseNamesSortBeforeLowerCase) {
  for (const char* Name : {"b.jpg", "B.jpg", "a.h264", "Z.jpg", "_.jpg"}) MakeFile(Name);
  OpenPlayList();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"B.jpg", "Z.jpg", "_.jpg", "a.h264", "b.jpg"}));
}

TEST_F(PlaybackTest, MoreThan512FilesListTheFirst512InOrder) {
  MakeFiles(600);
  OpenPlayList();
  ASSERT_NE(ThisConfig.DirList[0], nullptr);
  ASSERT_NE(ThisConfig.DirList[DirListSize - 1], nullptr);
  EXPECT_STREQ(ThisConfig.DirList[0], "f000.jpg");
  EXPECT_STREQ(ThisConfig.DirList[DirListSize - 1], "f511.jpg");
  EXPECT_EQ(Listed().size(), 512u);
}

TEST_F(PlaybackTest, ReopeningAfterDeletionsShowsOnlyTheRemainingNames) {
  MakeFiles(5);
  OpenPlayList();
  ThisConfig.DirPos = 4;
  ThisConfigSave.Mode = ModeIdle;
  for (const char* Name : {"f000.jpg", "f002.jpg", "f004.jpg"}) {
    ASSERT_EQ(std::remove((Dir + "/" + Name).c_str()), 0);
  }
  OpenPlayList();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"f001.jpg", "f003.jpg"}));
  EXPECT_EQ(ThisConfig.DirList[2], nullptr);
  EXPECT_EQ(ThisConfig.DirPos, 0);
  EXPECT_EQ(ThisConfigSave.Mode, ModePlayList);
}

TEST_F(PlaybackTest, MissingDirectoryGivesAnEmptyListInPlayListMode) {
  ThisConfig.DirList[0] = testsupport::HeapText("old.jpg");
  std::snprintf(ThisConfig.Directory, TextSize, "%s/missing/", Dir.c_str());
  OpenPlayList();
  EXPECT_TRUE(Listed().empty());
  EXPECT_EQ(ThisConfigSave.Mode, ModePlayList);
  EXPECT_EQ(ThisConfig.DirPos, 0);
}

// --- Keys: leaving, Enter and the player ------------------------------------------------

class PlaybackKeysTest : public PlaybackTest {
 protected:
  void SetUp() override {
    PlaybackTest::SetUp();
    for (const char* Name : {"a.jpg", "b.h264", "c.jpg"}) MakeFile(Name);
    OpenPlayList();
    world().Commands.clear();
  }
};

TEST_F(PlaybackKeysTest, SpaceStopsThePlayerAndReturnsToTheMenuWithoutRedraw) {
  Press(Space);
  EXPECT_EQ(world().Commands, (std::vector<std::string>{KillPlayerCommand}));
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
  EXPECT_EQ(Refresh, 0);
}

TEST_F(PlaybackKeysTest, EveryIterationKeepsTheBacklightAwake) {
  ThisConfigSave.SleepPeriod = 3;
  SleepCount = 5;
  Press("");
  EXPECT_EQ(SleepCount, 1200);
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_EQ(Refresh, 0);
}

TEST_F(PlaybackKeysTest, OtherKeysDoNothing) {
  for (const char* Key : {"x", "\x1b", "\x1bO", "\x1b[A", "\x1bOZ", "\r"}) {
    Press(Key);
  }
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_EQ(Refresh, 0);
  EXPECT_EQ(ThisConfig.DirPos, 0);
  EXPECT_EQ(ThisConfigSave.Mode, ModePlayList);
}

TEST_F(PlaybackKeysTest, EnterStartsThePlayerAndClearsTheScreen) {
  ThisConfig.DirPos = 1;
  Press(Enter);
  EXPECT_EQ(world().Commands,
            (std::vector<std::string>{PlayerQueryCommand, PlayCommandFor("b.h264")}));
  EXPECT_EQ(world().Output, "\x1b[2J");
  EXPECT_EQ(Refresh, 0);
  // A player the shell would not find is named on the cleared screen; it is run all the
  // same.
  world().MissingCommands = {"omxplayer"};
  ForgetCommandLookups();  // "omxplayer" was found a moment ago
  world().Output.clear();
  Press(Enter);
  EXPECT_EQ(world().Commands.back(), PlayCommandFor("b.h264"));
  EXPECT_EQ(world().Output.rfind("\x1b[2J\x1b"
                                 "7",
                                 0),
            0u);
  EXPECT_NE(world().Output.find("Player not found: omxplayer."), std::string::npos);
}

TEST_F(PlaybackKeysTest, EnterStopsARunningPlayerThenRestartsOnceItHasEnded) {
  world().FirstLineAnswers = {"", PlayingAnswer, ""};
  Press(Enter);  // starts
  Press(Enter);  // stops, redraws
  EXPECT_EQ(Refresh, FlagSet);
  Refresh = 0;
  Press(Enter);  // the player had ended: starts again
  EXPECT_EQ(world().Commands, (std::vector<std::string>{
                                  PlayerQueryCommand, PlayCommandFor("a.jpg"), PlayerQueryCommand,
                                  KillPlayerCommand, PlayerQueryCommand, PlayCommandFor("a.jpg")}));
  EXPECT_EQ(Refresh, 0);
}

TEST_F(PlaybackKeysTest, EveryFileNamePlaceholderIsReplaced) {
  std::snprintf(ThisConfig.Play, TextSize, "ls [FILENAME] [FILENAME] [ID]");
  Press(Enter);
  ASSERT_EQ(world().Commands.size(), 2u);
  EXPECT_EQ(world().Commands[1], "ls " + Dir + "/a.jpg " + Dir + "/a.jpg [ID]");
}

TEST_F(PlaybackTest, EnterOnAnEmptyListDoesNothing) {
  OpenPlayList();
  Press(Enter);
  EXPECT_TRUE(world().Commands.empty());
  EXPECT_TRUE(world().Output.empty());
  EXPECT_EQ(Refresh, 0);
}

TEST_F(PlaybackKeysTest, CommandThatWouldNotFitIsNotRun) {
  // Expanded, the template gives one character more than a command may hold.
  std::string Long(TextSize - 4 - 2 * (Dir.size() + std::strlen("/a.jpg")), 'p');
  std::snprintf(ThisConfig.Play, TextSize, "%s [FILENAME] [FILENAME] &", Long.c_str());
  Press(Enter);
  EXPECT_EQ(world().Commands, (std::vector<std::string>{PlayerQueryCommand}));
  EXPECT_NE(world().Output.find("File name too long, not played."), std::string::npos);
  EXPECT_EQ(world().Output.find("\x1b[2J"), std::string::npos);
}

// --- Keys: moving the highlight ---------------------------------------------------------

TEST_F(PlaybackKeysTest, DownAndUpMoveOneNameStoppingThePlayer) {
  Press(Down);
  EXPECT_EQ(ThisConfig.DirPos, 1);
  EXPECT_EQ(Refresh, FlagSet);
  Press(Down);
  Press(Up);
  EXPECT_EQ(ThisConfig.DirPos, 1);
  EXPECT_EQ(world().Commands, std::vector<std::string>(3, KillPlayerCommand));
}

TEST_F(PlaybackKeysTest, EdgesDoNotMoveButStillStopThePlayerAndRedraw) {
  Press(Up);  // at the first name
  EXPECT_EQ(ThisConfig.DirPos, 0);
  EXPECT_EQ(Refresh, FlagSet);
  Refresh = 0;
  ThisConfig.DirPos = 2;
  Press(Down);  // on the last name
  EXPECT_EQ(ThisConfig.DirPos, 2);
  EXPECT_EQ(Refresh, FlagSet);
  Refresh = 0;
  Press(PageForward);  // fewer than a page below
  EXPECT_EQ(ThisConfig.DirPos, 2);
  EXPECT_EQ(Refresh, FlagSet);
  EXPECT_EQ(world().Commands, std::vector<std::string>(3, KillPlayerCommand));
}

TEST_F(PlaybackTest, PageKeysStepTwoFewerThanTheScreenRows) {
  MakeFiles(50);
  OpenPlayList();
  Press(PageForward);
  EXPECT_EQ(ThisConfig.DirPos, 22);
  Press(PageForward);
  EXPECT_EQ(ThisConfig.DirPos, 44);
  Press(PageForward);  // 66 holds no name
  EXPECT_EQ(ThisConfig.DirPos, 44);
  Press(PageBack);
  EXPECT_EQ(ThisConfig.DirPos, 22);
  ThisConfig.DirPos = 5;
  Press(PageBack);  // near the top: the first name
  EXPECT_EQ(ThisConfig.DirPos, 0);
  EXPECT_EQ(Refresh, FlagSet);
}

TEST_F(PlaybackTest, FullListNeverMovesPastTheLastEntry) {
  MakeFiles(512);
  OpenPlayList();
  ThisConfig.DirPos = 511;
  Press(Down);
  EXPECT_EQ(ThisConfig.DirPos, 511);
  ThisConfig.DirPos = 500;
  Press(PageForward);
  EXPECT_EQ(ThisConfig.DirPos, 500);
  ThisConfig.DirPos = 489;
  Press(PageForward);
  EXPECT_EQ(ThisConfig.DirPos, 511);
}

TEST_F(PlaybackTest, TinyTerminalsPageOneNameAtATime) {
  MakeFiles(4);
  OpenPlayList();
  for (int Height : {2, 1, 0, -5, INT_MIN}) {
    DisplayHeight = Height;
    ThisConfig.DirPos = 1;
    Press(PageForward);
    EXPECT_EQ(ThisConfig.DirPos, 2) << "height " << Height;
    Press(PageBack);
    Press(PageBack);
    EXPECT_EQ(ThisConfig.DirPos, 0) << "height " << Height;
    Press(PageBack);
    EXPECT_EQ(ThisConfig.DirPos, 0) << "height " << Height;
  }
  ThisConfig.DirPos = 3;
  Press(PageForward);
  EXPECT_EQ(ThisConfig.DirPos, 3);
}

TEST_F(PlaybackTest, HugeTerminalHeightDoesNotOverflow) {
  MakeFiles(4);
  OpenPlayList();
  DisplayHeight = INT_MAX;
  ThisConfig.DirPos = 3;
  Press(PageForward);
  EXPECT_EQ(ThisConfig.DirPos, 3);
  Press(PageBack);
  EXPECT_EQ(ThisConfig.DirPos, 0);
}

// --- Names from the card never reach the shell unchecked -------------------------------

TEST(IsSafeFileName, AcceptsPlainWords) {
  EXPECT_TRUE(IsSafeFileName("IMG_0001.jpg"));
  EXPECT_TRUE(IsSafeFileName("2014-01-02_10:30:00.h264"));
  EXPECT_TRUE(IsSafeFileName("a+b,c@d%e=f.jpg"));
  EXPECT_TRUE(IsSafeFileName(".jpg"));
  EXPECT_TRUE(IsSafeFileName("x-y.jpg"));
}

TEST(IsSafeFileName, RejectsShellSyntaxAndOddBytes) {
  const char* const Unsafe = "'\"$`;&|<>() \t\n*?[]{}~!#\\^/";
  for (const char* At = Unsafe; *At != 0; ++At) {
    std::string Name = std::string("a") + *At + "b.jpg";
    EXPECT_FALSE(IsSafeFileName(Name.c_str())) << "character code " << int{*At};
  }
  EXPECT_FALSE(IsSafeFileName("caf\xc3\xa9.jpg"));
  EXPECT_FALSE(IsSafeFileName("\x7f.jpg"));
  EXPECT_FALSE(IsSafeFileName("\x01.jpg"));
}

TEST(IsSafeFileName, RejectsOptionsAndNothing) {
  EXPECT_FALSE(IsSafeFileName("-rf.jpg"));
  EXPECT_FALSE(IsSafeFileName("--help.jpg"));
  EXPECT_FALSE(IsSafeFileName(""));
  EXPECT_FALSE(IsSafeFileName(nullptr));
}

TEST_F(PlaybackTest, AnyListedNamePlaysThroughAPlainLinkAndNeverReachesTheShell) {
  const std::vector<std::string> Names = {"x;touch pwned.jpg",  "$(touch pwned).jpg",
                                          "`touch pwned`.h264", "-pwned.jpg",
                                          "it's \"a b\".jpg",   "caf\xc3\xa9.jpg"};
  for (const std::string& Name : Names) MakeFile(Name);
  OpenPlayList();
  ASSERT_EQ(Listed().size(), Names.size());
  for (const char* Quote : {"", "\""}) {
    std::snprintf(ThisConfig.Play, TextSize, "omxplayer %s[FILENAME]%s &", Quote, Quote);
    for (int Pos = 0; Pos < static_cast<int>(Names.size()); ++Pos) {
      const std::string Name = ThisConfig.DirList[Pos];
      SCOPED_TRACE(Name);
      world().Commands.clear();
      ThisConfig.DirPos = Pos;
      Press(Enter);
      ASSERT_EQ(world().Commands.size(), 2u);
      const std::string Prefix = std::string("omxplayer ") + Quote;
      const std::string Suffix = std::string(Quote) + " &";
      const std::string& Play = world().Commands[1];
      ASSERT_EQ(Play.rfind(Prefix, 0), 0u) << Play;
      const std::string Link =
          Play.substr(Prefix.size(), Play.size() - Prefix.size() - Suffix.size());
      EXPECT_TRUE(IsPlainShellWord(Link, "/")) << Link;
      EXPECT_EQ(Link.substr(Link.find('.')), Name.substr(Name.find('.'))) << "suffix kept";
      EXPECT_EQ(std::filesystem::canonical(Link), std::filesystem::canonical(Dir + "/" + Name));
      Press(Up);  // stops the player; the link goes with it
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link)));
    }
  }
  EXPECT_FALSE(AnyCommandMentions("pwned"));
}

TEST_F(PlaybackTest, EnterStillStopsARunningPlayerOnAnUnsafeName) {
  MakeFile("a b.jpg");
  OpenPlayList();
  world().DefaultFirstLine = PlayingAnswer;
  Press(Enter);
  EXPECT_EQ(world().Commands, (std::vector<std::string>{PlayerQueryCommand, KillPlayerCommand}));
  EXPECT_EQ(Refresh, FlagSet);
}

}  // namespace
