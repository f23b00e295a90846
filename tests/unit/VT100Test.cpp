// Terminal-size query and its reply parser.
#include <string>

#include "TestSupport.h"
#include "keys/KeyInput.h"
#include "vt100/VT100.h"

namespace {

const std::string QueryBytes = "\x1b[255B\x1b[255C\x1b[6n";
const std::string HomeBytes = "\x1b[H";

int ScriptedWidth = 0;
int ScriptedHeight = 0;

bool ScriptedSize(int* Width, int* Height) {
  if (ScriptedWidth == 0) return false;
  *Width = ScriptedWidth;
  *Height = ScriptedHeight;
  return true;
}

class SizeQueryTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    Platform.TerminalSize = ScriptedSize;
    ScriptedWidth = 0;
    ScriptedHeight = 0;
  }

  void Reply(const std::string& Bytes) {
    for (char Byte : Bytes) world().Input.push_back(static_cast<unsigned char>(Byte));
  }
  void Measure() { GetSizeVT100(&Width, &Height); }

  int Width = -1;
  int Height = -1;
};

TEST_F(SizeQueryTest, ReportFromAnEightyByTwentyFourTerminal) {
  Reply("\x1b[24;80R");
  Measure();
  EXPECT_EQ(Width, 80);
  EXPECT_EQ(Height, 24);
  EXPECT_EQ(world().Output, QueryBytes + HomeBytes);
}

TEST_F(SizeQueryTest, WideTerminalReportsTheCappedColumn) {
  Reply("\x1b[50;256R");
  Measure();
  EXPECT_EQ(Width, 256);
  EXPECT_EQ(Height, 50);
}

TEST_F(SizeQueryTest, BytesBeforeTheEscapeAreDropped) {
  Reply("q1\x1b[24;80R");
  Measure();
  EXPECT_EQ(Width, 80);
  EXPECT_EQ(Height, 24);
}

TEST_F(SizeQueryTest, CursorKeyTypedBeforeTheReportIsCollectedWithIt) {
  Reply("\x1bOA\x1b[30;100R");
  Measure();
  EXPECT_EQ(Width, 100);
  EXPECT_EQ(Height, 30);
}

TEST_F(SizeQueryTest, ReportIsReadWhenAKeyIsStillRemembered) {
  world().Input.push_back(27);
  GetKeys(std::string(KeyBufferSize, 0).data(), 0, 0);  // leaves escape as the last key
  Reply("\x1b[24;80R");
  Measure();
  EXPECT_EQ(Width, 80);
  EXPECT_EQ(Height, 24);
}

TEST_F(SizeQueryTest, ReplyGivingNoUsableSizeTakesTheKernelSize) {
  ScriptedWidth = 132;
  ScriptedHeight = 43;
  for (const char* Nonsense : {"\x1b"
                               "24;80R",
                               "\x1b[24R", "\x1b[0;0R", "\x1b[-7;-3R", "\x1b[abc;xyzR",
                               "\x1b[99999;99999R", "\x1b[257;80R", "\x1b[24;257R"}) {
    Reply(Nonsense);
    Measure();
    EXPECT_EQ(Width, 132) << Nonsense + 1;
    EXPECT_EQ(Height, 43) << Nonsense + 1;
  }
  Reply("\x1b[1;256R");  // the smallest and largest sizes a report can give
  Measure();
  EXPECT_EQ(Width, 256);
  EXPECT_EQ(Height, 1);
}

TEST_F(SizeQueryTest, NoReplyTakesTheKernelSize) {
  ScriptedWidth = 132;
  ScriptedHeight = 43;
  Measure();
  EXPECT_EQ(Width, 132);
  EXPECT_EQ(Height, 43);
  EXPECT_EQ(world().Output, QueryBytes + HomeBytes);
}

TEST_F(SizeQueryTest, KernelSizeIsCappedLikeAReport) {
  ScriptedWidth = 300;
  ScriptedHeight = 400;
  Measure();
  EXPECT_EQ(Width, 256);
  EXPECT_EQ(Height, 256);
}

TEST_F(SizeQueryTest, NoReplyAndNoKernelSizeAssumesEightyByTwentyFour) {
  Measure();
  EXPECT_EQ(Width, 80);
  EXPECT_EQ(Height, 24);
}

TEST_F(SizeQueryTest, ReplyCutShortOfTheFinalLetterTakesTheFallback) {
  ScriptedWidth = 100;
  ScriptedHeight = 40;
  Reply("\x1b[24;80");
  Measure();
  EXPECT_EQ(Width, 100);
  EXPECT_EQ(Height, 40);
}

TEST(GetValueVT100, ReadsTheNumberAfterTheFirstOccurrence) {
  EXPECT_EQ(GetValueVT100("\x1b[24;80R", '['), 24);
  EXPECT_EQ(GetValueVT100("\x1b[24;80R", ';'), 80);
  EXPECT_EQ(GetValueVT100("a;1;2", ';'), 1);
}

TEST(GetValueVT100, MissingCharacterOrDigitsGiveZero) {
  EXPECT_EQ(GetValueVT100("\x1b"
                          "24;80R",
                          '['),
            0);
  EXPECT_EQ(GetValueVT100("\x1b[x;80R", '['), 0);
  EXPECT_EQ(GetValueVT100("", '['), 0);
  EXPECT_EQ(GetValueVT100("[5", 0), 0);
  EXPECT_EQ(GetValueVT100(nullptr, '['), 0);
}

TEST(GetValueVT100, ReadsLikeAtoi) {
  EXPECT_EQ(GetValueVT100("[  -7x", '['), -7);
  EXPECT_EQ(GetValueVT100("[+12", '['), 12);
}

TEST(GetValueVT100, HugeNumberIsHeldAtTheIntLimit) {
  EXPECT_EQ(GetValueVT100("[99999999999999999999", '['), 2147483647);
  EXPECT_EQ(GetValueVT100("[-99999999999999999999", '['), -2147483647 - 1);
}

}  // namespace
