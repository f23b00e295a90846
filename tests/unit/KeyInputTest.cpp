// Key input: collection of pending bytes, button merging, repeat damping, reply waits.
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "keys/KeyInput.h"

namespace {

constexpr int LevelWord = 0x34 / 4;  // the first pin-level register

class KeyInputTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    for (auto& Word : Registers) Word = 0;
    Registers[LevelWord] = 0xFFFFFFFFu;  // every pin high: nothing pressed
    for (auto& Pin : ThisConfig.Switch) Pin = -1;
    Buffer.assign(KeyBufferSize, '\x7f');
  }

  void Type(const std::string& Bytes) {
    for (char Byte : Bytes) world().Input.push_back(static_cast<unsigned char>(Byte));
  }

  // Wires button Number (1-10) to Pin and maps the registers.
  void WireButton(int Number, int Pin) {
    ThisConfig.Switch[Number - 1] = Pin;
    GPIO = Registers;
  }
  void Press(int Pin) { Registers[LevelWord] &= ~(1u << Pin); }
  void Release(int Pin) { Registers[LevelWord] |= 1u << Pin; }

  int Read(char FromChar = 0, char ToChar = 0) { return GetKeys(Buffer.data(), FromChar, ToChar); }
  std::string Text() const { return std::string(Buffer.data()); }

  // Reads with Key pending on each call and reports whether it passed.
  bool Passes(const std::string& Key) {
    Type(Key);
    Read();
    return Buffer[0] != 0;
  }

  std::uint32_t Registers[1024];
  std::vector<char> Buffer;
};

TEST_F(KeyInputTest, NothingPendingGivesEmptyTextAndZero) {
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(Text(), "");
}

TEST_F(KeyInputTest, PendingBytesArriveAsOneTextInOrder) {
  Type("\x1bOB ");
  EXPECT_EQ(Read(), 4);
  EXPECT_EQ(Text(), "\x1bOB ");
  EXPECT_TRUE(world().Input.empty());
}

TEST_F(KeyInputTest, HeldKeyPassesOnceThenIsDampedForNineCalls) {
  std::string Outcomes;
  for (int Call = 1; Call <= 14; ++Call) Outcomes += Passes("x") ? 'P' : '-';
  EXPECT_EQ(Outcomes, "P---------PPPP");
}

TEST_F(KeyInputTest, DampedKeyKeepsCountAndRestOfText) {
  Passes("xy");
  Type("xy");
  EXPECT_EQ(Read(), 2);
  EXPECT_EQ(Buffer[0], 0);
  EXPECT_EQ(Buffer[1], 'y');
}

TEST_F(KeyInputTest, KeyPressedAgainAfterReleasePassesAtOnce) {
  EXPECT_TRUE(Passes("x"));
  EXPECT_FALSE(Passes("x"));
  EXPECT_FALSE(Passes("x"));
  Read();  // released: nothing arrived
  EXPECT_TRUE(Passes("x"));
  EXPECT_FALSE(Passes("x"));
}

TEST_F(KeyInputTest, DifferentKeyWhileHeldPassesAndTakesOverTheCountdown) {
  for (int Call = 0; Call < 4; ++Call) Passes("a");  // countdown now at 7
  std::string Outcomes;
  for (int Call = 0; Call < 9; ++Call) Outcomes += Passes("b") ? 'P' : '-';
  EXPECT_EQ(Outcomes, "P------PP");
}

TEST_F(KeyInputTest, ChangingBetweenCursorKeysCountsAsHoldingOneKey) {
  EXPECT_TRUE(Passes("\x1bOA"));
  EXPECT_FALSE(Passes("\x1bOB"));
}

TEST_F(KeyInputTest, PressedButtonGivesItsCodeAndCountsNoBytes) {
  WireButton(1, 4);
  Press(4);
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(Text(), "\x1bOA");
}

TEST_F(KeyInputTest, EveryKeyedButtonDeliversItsCode) {
  const char* Codes[] = {"\x1bOA", "\x1bOD", "\x1bOC", "\x1bOB", "\n", " "};
  for (int Number = 1; Number <= 6; ++Number) {
    WireButton(Number, 10 + Number);
    Press(10 + Number);
    ResetKeyRepeat();
    Read();
    EXPECT_EQ(Text(), Codes[Number - 1]) << "button " << Number;
    Release(10 + Number);
  }
}

TEST_F(KeyInputTest, ButtonCodeFollowsTypedBytesWhichDecideTheDamping) {
  WireButton(4, 7);
  Press(7);
  Type("x");
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(Text(), "x\x1bOB");
  Type("x");
  Read();
  EXPECT_EQ(Buffer[0], 0);  // same first byte: damped
  Read();                   // button alone: its escape is a different first byte
  EXPECT_EQ(Text(), "\x1bOB");
}

TEST_F(KeyInputTest, HighestPressedButtonWins) {
  WireButton(1, 2);
  WireButton(6, 3);
  Press(2);
  Press(3);
  Read();
  EXPECT_EQ(Text(), " ");
}

TEST_F(KeyInputTest, HeldButtonRepeatsAfterTenCalls) {
  WireButton(5, 9);
  Press(9);
  std::string Outcomes;
  for (int Call = 0; Call < 12; ++Call) {
    Read();
    Outcomes += Buffer[0] == '\n' ? 'P' : '-';
  }
  EXPECT_EQ(Outcomes, "P---------PP");
}

TEST_F(KeyInputTest, ButtonsSevenToTenDeliverNoKey) {
  for (int Number = 7; Number <= 10; ++Number) {
    WireButton(Number, Number);
    Press(Number);
  }
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(Text(), "");
  // A lower button still wins over them.
  WireButton(2, 20);
  Press(20);
  Read();
  EXPECT_EQ(Text(), "\x1bOD");
}

TEST_F(KeyInputTest, ButtonOnPinAboveThirtyOneIsIgnored) {
  WireButton(1, 40);
  WireButton(6, -5);
  Read();
  EXPECT_EQ(Text(), "");
}

TEST_F(KeyInputTest, NoButtonIsReadWithoutGpio) {
  WireButton(1, 4);
  Press(4);
  GPIO = nullptr;
  Read();
  EXPECT_EQ(Text(), "");
}

TEST_F(KeyInputTest, InputBeyondTheBufferStaysPendingForTheNextCall) {
  WireButton(6, 5);
  Press(5);
  Type(std::string(5000, 'k'));
  EXPECT_EQ(Read(), 4092);
  EXPECT_EQ(Buffer[4092], ' ');  // the button's code over the terminator
  EXPECT_EQ(Buffer[4093], 0);
  EXPECT_EQ(Buffer[4096], '\x7f');  // the last byte of the buffer is never touched
  EXPECT_EQ(world().Input.size(), 908u);
  EXPECT_EQ(Read(), 908);
  EXPECT_TRUE(world().Input.empty());
}

TEST_F(KeyInputTest, ReplyRunsFromFromCharThroughToChar) {
  Type("ab\x1b[24;80Rzz");
  EXPECT_EQ(Read(27, 'R'), 8);
  EXPECT_EQ(Text(), "\x1b[24;80R");
  EXPECT_EQ(world().Input.size(), 2u);  // bytes after the reply stay pending
}

TEST_F(KeyInputTest, ButtonCodeIsAppendedAfterTheReply) {
  WireButton(3, 6);
  Press(6);
  Type("\x1b[1;1R");
  EXPECT_EQ(Read(27, 'R'), 6);
  EXPECT_EQ(Text(), "\x1b[1;1R\x1bOC");
}

TEST_F(KeyInputTest, ReplyLeavesEscapeAsLastKey) {
  Type("\x1b[24;80R");
  Read(27, 'R');
  EXPECT_FALSE(Passes("\x1bOA"));
}

// Delivers the rest of a reply on the third wait, as a slow terminal would.
void DeliverLateReply(int Calls) {
  if (Calls == 3) {
    for (char Byte : std::string(";80R")) testsupport::TheWorld().Input.push_back(Byte);
  }
}

TEST_F(KeyInputTest, WaitsForAReplyThatArrivesLater) {
  Platform.WaitForInput = [](int) {
    DeliverLateReply(++testsupport::TheWorld().WaitCalls);
    return 1;
  };
  Type("\x1b[24");
  EXPECT_EQ(Read(27, 'R'), 8);
  EXPECT_EQ(Text(), "\x1b[24;80R");
  EXPECT_EQ(world().WaitCalls, 3);
}

TEST_F(KeyInputTest, WaitForFromCharGivesUpAfterTheLimit) {
  Type("junk");
  EXPECT_EQ(Read(27, 'R'), 0);
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(world().WaitCalls, KeyWaitLimitMs / 50);
}

TEST_F(KeyInputTest, WaitForToCharGivesUpWithWhatCame) {
  Type("\x1b[24;8");
  EXPECT_EQ(Read(27, 'R'), 6);
  EXPECT_EQ(Text(), "\x1b[24;8");
  EXPECT_EQ(world().WaitCalls, KeyWaitLimitMs / 50);
}

TEST_F(KeyInputTest, WaitGivesUpWhenInputStaysReadableButEmpty) {
  // End of input: the descriptor keeps polling readable while reads find nothing.
  Platform.WaitForInput = [](int) {
    ++testsupport::TheWorld().WaitCalls;
    return 1;
  };
  EXPECT_EQ(Read(27, 'R'), 0);
  EXPECT_EQ(world().WaitCalls, KeyWaitLimitMs / 50);
}

TEST_F(KeyInputTest, ReplyWaitEndsWhateverArrives) {
  // A stream without an escape (standard input from /dev/zero, a line held in break) is
  // read up to the byte limit and no further.
  Type(std::string(100000, '\0'));
  EXPECT_EQ(Read(27, 'R'), 0);
  EXPECT_EQ(world().Input.size(), 100000u - ReplyByteLimit);
  // A trickle, one byte per millisecond, ends at the time limit, before the byte limit.
  world().Input.clear();
  world().MsPerByte = 1;
  Type(std::string(3000, 'x'));
  EXPECT_EQ(Read(27, 'R'), 0);
  EXPECT_EQ(world().Input.size(), 3000u - static_cast<unsigned>(KeyWaitLimitMs));
  // A termination request ends the wait before anything is read.
  world().Input.clear();
  ExitRequested = 1;
  Type("\x1b[24;80R");
  EXPECT_EQ(Read(27, 'R'), 0);
  EXPECT_EQ(world().Input.size(), 8u);
}

TEST_F(KeyInputTest, OverlongReplyIsCutAtTheBufferWithoutToChar) {
  Type("\x1b" + std::string(5000, '9') + "R");
  EXPECT_EQ(Read(27, 'R'), 4092);
  EXPECT_EQ(Buffer[4092], 0);
  EXPECT_EQ(Buffer[4096], '\x7f');
}

}  // namespace
