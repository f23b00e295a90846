// The stop commands and process queries: the built-in commands byte for byte, the same
// shapes over configured process names, and which names may reach the shell.
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "app/Shell.h"
#include "errors/ErrorLines.h"

namespace {

class ShellTest : public testsupport::HarrowlightTest {
 protected:
  std::string QueryCamera() {
    char Answer[64] = "stale";
    QueryCameraTools(Answer, static_cast<int>(sizeof Answer));
    return Answer;
  }
  std::string QueryPlayerLine() {
    char Answer[64] = "stale";
    QueryPlayer(Answer, static_cast<int>(sizeof Answer));
    return Answer;
  }
};

TEST_F(ShellTest, WithoutConfiguredNamesTheBuiltInCommandsRun) {
  StopCameraTools();
  StopPlayer();
  QueryCameraTools(nullptr, 0);
  QueryPlayer(nullptr, 0);
  EXPECT_EQ(world().Commands,
            (std::vector<std::string>{
                "killall -9 raspistill 2> /dev/null", "killall -9 raspivid 2> /dev/null",
                "killall -9 omxplayer.bin 2> /dev/null", "ps h -o cmd -C raspistill -C raspivid",
                "ps h -o cmd -C omxplayer.bin"}));
}

TEST_F(ShellTest, QueriesHandBackTheFirstLineOrNothing) {
  world().FirstLineAnswers = {"rpicam-vid -t 0", ""};
  EXPECT_EQ(QueryCamera(), "rpicam-vid -t 0");
  EXPECT_EQ(QueryPlayerLine(), "");
}

TEST_F(ShellTest, ConfiguredCameraNamesAreStoppedAndQueriedInOrder) {
  StrCopy(ThisConfig.CameraProcess[0], "rpicam-still", ProcessNameSize);
  StrCopy(ThisConfig.CameraProcess[1], "rpicam-vid", ProcessNameSize);
  StrCopy(ThisConfig.CameraProcess[2], "libcamera-vid", ProcessNameSize);
  StopCameraTools();
  QueryCameraTools(nullptr, 0);
  EXPECT_EQ(world().Commands,
            (std::vector<std::string>{
                "killall -9 rpicam-still 2> /dev/null", "killall -9 rpicam-vid 2> /dev/null",
                "killall -9 libcamera-vid 2> /dev/null",
                "ps h -o cmd -C rpicam-still -C rpicam-vid -C libcamera-vid"}));
}

TEST_F(ShellTest, ConfiguredPlayerNameIsStoppedAndQueried) {
  StrCopy(ThisConfig.PlayerProcess, "vlc", ProcessNameSize);
  StopPlayer();
  QueryPlayer(nullptr, 0);
  StopCameraTools();
  EXPECT_EQ(world().Commands,
            (std::vector<std::string>{"killall -9 vlc 2> /dev/null", "ps h -o cmd -C vlc",
                                      KillStillCommand, KillVideoCommand}));
}

TEST(LookedUpCommandTest, TheFirstPlainWordUnlessTheShellReadsItOtherwise) {
  const std::pair<const char*, const char*> Cases[] = {
      {"raspistill -o x.jpg &", "raspistill"},
      {"  \t/usr/bin/rpicam-vid -t 0", "/usr/bin/rpicam-vid"},
      {"cvlc;true", "cvlc"},
      {"omxplayer>log", "omxplayer"},
      {"", ""},
      {"   ", ""},
      {"cd /tmp && raspivid", ""},  // the shell's own words are not looked up
      {"exec raspivid", ""},
      {"{ raspivid; }", ""},
      {"LIBCAMERA_LOG_LEVELS=0 rpicam-vid", ""},  // an assignment first
      {"\"raspi still\" -o x", ""},
      {"$HOME/tool", ""},
      {"~/tool", ""},
      {"(raspivid)", ""},
  };
  for (const auto& [Line, Word] : Cases) EXPECT_EQ(LookedUpCommand(Line), Word) << Line;
}

TEST_F(ShellTest, MissingCommandIsLookedUpOnceAndNamedOnTheErrorLine) {
  world().MissingCommands = {"rpicam-hello"};
  ReportMissingCommand("rpicam-hello -t 0 &", CameraToolMissingLabel);
  EXPECT_NE(world().Output.find("Camera tool not found: rpicam-hello."), std::string::npos);
  // While the error lines show it, it is not written again; after a key it comes back.
  world().Output.clear();
  ReportMissingCommand("rpicam-hello -t 0 -f &", CameraToolMissingLabel);
  EXPECT_EQ(world().Output, "");
  DismissErrorLines();
  ReportMissingCommand("rpicam-hello -t 0 &", CameraToolMissingLabel);
  EXPECT_NE(world().Output.find("rpicam-hello."), std::string::npos);
  // A command that is there says nothing; each name is asked about once.
  world().Output.clear();
  ReportMissingCommand("raspivid -t 0 &", CameraToolMissingLabel);
  ReportMissingCommand("raspivid &", CameraToolMissingLabel);
  EXPECT_EQ(world().Output, "");
  EXPECT_EQ(world().LookedUp, (std::vector<std::string>{"rpicam-hello", "raspivid"}));
  EXPECT_TRUE(world().Commands.empty()) << "no process is started for a lookup";
}

TEST(CommandFoundTest, SearchesPathAsTheShellDoes) {
  const PlatformHooks Production = ProductionPlatform();
  EXPECT_TRUE(Production.CommandFound("sh"));
  EXPECT_TRUE(Production.CommandFound("/bin/sh"));
  EXPECT_FALSE(Production.CommandFound("harrowlight-no-such-tool"));
  EXPECT_FALSE(Production.CommandFound("/bin"));  // a folder is no command
  const std::string Saved = std::getenv("PATH");
  setenv("PATH", "/nonexistent::/bin", 1);
  EXPECT_TRUE(Production.CommandFound("sh"));
  setenv("PATH", "/nonexistent", 1);
  EXPECT_FALSE(Production.CommandFound("sh"));
  setenv("PATH", Saved.c_str(), 1);
}

TEST(IsSafeProcessNameTest, AcceptsNamesTheToolsMatch) {
  for (const char* Name : {"raspistill", "omxplayer.bin", "rpicam-still", "mpv", "vlc", "a_b+c.d-e",
                           "X9", "abcdefghijklmno"}) {
    EXPECT_TRUE(IsSafeProcessName(Name)) << Name;
  }
}

TEST(IsSafeProcessNameTest, RefusesEmptyOverLongAndOptionLikeNames) {
  EXPECT_FALSE(IsSafeProcessName(""));
  EXPECT_FALSE(IsSafeProcessName("abcdefghijklmnop")) << "16 characters";
  EXPECT_FALSE(IsSafeProcessName("-9"));
  EXPECT_FALSE(IsSafeProcessName("--help"));
}

TEST(IsSafeProcessNameTest, RefusesAnythingTheShellWouldInterpret) {
  for (const char* Name : {"a b", "a;reboot", "$(x)", "`x`", "a|b", "a&", "a>b", "a/b", "a*", "a?",
                           "'a'", "\"a\"", "a\\b", "a\tb", "~a", "a=b"}) {
    EXPECT_FALSE(IsSafeProcessName(Name)) << Name;
  }
  EXPECT_FALSE(IsSafeProcessName(std::string("a\0b", 3)));
  EXPECT_FALSE(IsSafeProcessName("caf\xc3\xa9"));
}

}  // namespace
