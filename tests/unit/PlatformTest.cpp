// The production hooks: standard input that is a pipe, not a terminal; a shell command that
// cannot run; a standard output whose reader has gone.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "platform/Platform.h"

namespace {

// Puts the read end of a fresh pipe on standard input for the life of the object.
class PipeOnStdin {
 public:
  PipeOnStdin() {
    Saved = dup(STDIN_FILENO);
    EXPECT_EQ(pipe(Ends), 0);
    dup2(Ends[0], STDIN_FILENO);
  }
  ~PipeOnStdin() {
    dup2(Saved, STDIN_FILENO);
    close(Saved);
    close(Ends[0]);
    if (Ends[1] >= 0) close(Ends[1]);
  }
  void Write(const char* Text, std::size_t Size) {
    ASSERT_EQ(write(Ends[1], Text, Size), static_cast<ssize_t>(Size));
  }
  void CloseWriter() {
    close(Ends[1]);
    Ends[1] = -1;
  }

 private:
  int Saved = -1;
  int Ends[2] = {-1, -1};
};

}  // namespace

TEST(ProductionInput, EmptyPipeGivesNoByteInsteadOfBlocking) {
  PipeOnStdin Input;
  unsigned char Byte = 0;
  EXPECT_EQ(ProductionPlatform().ReadInputByte(&Byte), 0);
}

TEST(ProductionInput, PipeBytesArriveOneByOne) {
  PipeOnStdin Input;
  Input.Write("ab", 2);
  unsigned char Byte = 0;
  ASSERT_EQ(ProductionPlatform().ReadInputByte(&Byte), 1);
  EXPECT_EQ(Byte, 'a');
  ASSERT_EQ(ProductionPlatform().ReadInputByte(&Byte), 1);
  EXPECT_EQ(Byte, 'b');
  EXPECT_EQ(ProductionPlatform().ReadInputByte(&Byte), 0);
}

TEST(ProductionInput, EndOfInputGivesNoByte) {
  PipeOnStdin Input;
  Input.CloseWriter();
  unsigned char Byte = 0;
  EXPECT_EQ(ProductionPlatform().ReadInputByte(&Byte), 0);
}

TEST(ProductionShell, CommandThatCannotRunIsToldFromOneWithoutOutput) {
  char Out[64] = "stale";
  EXPECT_FALSE(ProductionPlatform().ReadFirstLine("/nonexistent/ps 2>/dev/null", Out, 64));
  EXPECT_STREQ(Out, "");
  EXPECT_TRUE(ProductionPlatform().ReadFirstLine("exit 1", Out, 64));
  EXPECT_STREQ(Out, "");
  EXPECT_TRUE(ProductionPlatform().ReadFirstLine("echo running; exit 127", Out, 64));
  EXPECT_STREQ(Out, "running\n");
}

TEST(ProductionOutput, WriteToAPipeWithoutReaderMarksTheOutputLost) {
  int Ends[2];
  ASSERT_EQ(pipe(Ends), 0);
  close(Ends[0]);
  const int Saved = dup(STDOUT_FILENO);
  dup2(Ends[1], STDOUT_FILENO);
  struct sigaction Ignore {};
  struct sigaction Previous {};
  Ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &Ignore, &Previous);
  OutputLost = false;
  ProductionPlatform().WriteOutput("x", 1);
  const bool Lost = OutputLost;
  OutputLost = false;
  sigaction(SIGPIPE, &Previous, nullptr);
  dup2(Saved, STDOUT_FILENO);
  close(Saved);
  close(Ends[1]);
  EXPECT_TRUE(Lost);
}
