// The stop commands and process queries: the built-in commands byte for byte, the same
// shapes over configured process names, and which names may reach the shell.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Shell.h"

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
