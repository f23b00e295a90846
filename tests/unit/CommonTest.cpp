// Tests of the in-place text helpers: trimming, placeholder replacement, bounded copies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/Common.h"

namespace {

// A text buffer of the program's usual size, with guard bytes on both sides so a write
// before or after it shows up.
struct GuardedText {
  static constexpr char Guard = '#';
  std::vector<char> Storage = std::vector<char>(TextSize + 32, Guard);
  char* Text() { return Storage.data() + 16; }
  void Set(const std::string& Value) { std::memcpy(Text(), Value.c_str(), Value.size() + 1); }
  bool GuardsIntact() const {
    for (std::size_t I = 0; I < 16; ++I) {
      if (Storage[I] != Guard || Storage[Storage.size() - 1 - I] != Guard) return false;
    }
    return true;
  }
};

TEST(StrTrimTest, CutsTrailingWhiteSpaceAndSkipsLeadingBlanksAndTabs) {
  char Line[] = " \t KEY=value \t\r\n";
  char* Result = StrTrim(Line);
  EXPECT_STREQ(Result, "KEY=value");
  EXPECT_EQ(Result, Line + 3);
}

TEST(StrTrimTest, KeepsLeadingCarriageReturnAndLineFeed) {
  char Line[] = "\r\n text";
  EXPECT_STREQ(StrTrim(Line), "\r\n text");
}

TEST(StrTrimTest, AllBlanksAndEmptyTextGiveEmptyText) {
  char Blanks[] = " \t \r\n";
  EXPECT_STREQ(StrTrim(Blanks), "");

  GuardedText Empty;
  Empty.Set("");
  char* Result = StrTrim(Empty.Text());
  EXPECT_EQ(Result, Empty.Text());
  EXPECT_STREQ(Result, "");
  EXPECT_TRUE(Empty.GuardsIntact());
}

TEST(StrTrimTest, InnerWhiteSpaceStays) {
  char Line[] = "a \t b";
  EXPECT_STREQ(StrTrim(Line), "a \t b");
}

// Each row: text, what to find, its replacement, the result.
struct ReplaceCase {
  const char* Text;
  const char* Find;
  const char* Replace;
  const char* Result;
};

TEST(StrReplaceTest, ReplacesEveryWholeCaseSensitiveMatchOnce) {
  const ReplaceCase Cases[] = {
      {"a`b`c`", "`", ",", "a,b,c,"},                                       // every occurrence
      {"raspistill -o [FILE]", "[FILENAME]", "x", "raspistill -o [FILE]"},  // no match
      {"[ID]a[ID][ID]b", "[ID]", "", "ab"},                                 // empty deletes
      {"[ID][ID]", "[ID]", "7", "77"},                                      // adjacent
      {"x[A]y", "[A]", "[A][A]", "x[A][A]y"},                               // not searched again
      {"[id] [ID]", "[ID]", "1", "[id] 1"},                                 // case-sensitive
      {"unchanged", "", "x", "unchanged"},                                  // empty find
  };
  for (const ReplaceCase& Case : Cases) {
    char Text[TextSize];
    std::strcpy(Text, Case.Text);
    EXPECT_EQ(StrReplace(Text, Case.Find, Case.Replace), Text) << Case.Text;
    EXPECT_STREQ(Text, Case.Result) << Case.Text;
  }
}

TEST(StrReplaceTest, ReplaceMayComeFromTheTextItself) {
  char Text[TextSize] = "ab";
  StrReplace(Text, "a", Text);
  EXPECT_STREQ(Text, "abb");
}

TEST(StrReplaceTest, LongResultIsCutAt4096WithinTheBuffer) {
  GuardedText Buffer;
  Buffer.Set(std::string(4000, 'x') + "[P]" + std::string(50, 'y'));
  StrReplace(Buffer.Text(), "[P]", std::string(100, 'r').c_str());
  const std::string Result(Buffer.Text());
  ASSERT_EQ(Result.size(), 4096u);
  EXPECT_EQ(Result, std::string(4000, 'x') + std::string(96, 'r'));
  EXPECT_TRUE(Buffer.GuardsIntact());
}

TEST(StrReplaceTest, ResultOfExactly4096CharactersIsKeptWhole) {
  GuardedText Buffer;
  Buffer.Set(std::string(4095, 'x') + "#");
  StrReplace(Buffer.Text(), "#", "ab");
  EXPECT_EQ(std::string(Buffer.Text()), std::string(4095, 'x') + "a");

  Buffer.Set(std::string(4094, 'x') + "#");
  StrReplace(Buffer.Text(), "#", "ab");
  EXPECT_EQ(std::string(Buffer.Text()), std::string(4094, 'x') + "ab");
  EXPECT_TRUE(Buffer.GuardsIntact());
}

TEST(StrCopyTest, CopiesWholeTextThatFits) {
  char Dest[8] = "old";
  EXPECT_EQ(StrCopy(Dest, "new", sizeof Dest), Dest);
  EXPECT_STREQ(Dest, "new");
}

TEST(StrCopyTest, CutsLongTextAndTerminates) {
  char Dest[8];
  std::memset(Dest, 'z', sizeof Dest);
  StrCopy(Dest, "0123456789", 5);
  EXPECT_STREQ(Dest, "0123");
  EXPECT_EQ(Dest[5], 'z');
}

TEST(StrCopyTest, ZeroSizeWritesNothing) {
  char Dest[2] = {'q', 'q'};
  StrCopy(Dest, "abc", 0);
  EXPECT_EQ(Dest[0], 'q');
}

TEST(StrAppendTest, AppendsAndCutsToFit) {
  char Dest[8] = "abc";
  StrAppend(Dest, "de", sizeof Dest);
  EXPECT_STREQ(Dest, "abcde");
  StrAppend(Dest, "fghij", sizeof Dest);
  EXPECT_STREQ(Dest, "abcdefg");
  StrAppend(Dest, "x", sizeof Dest);
  EXPECT_STREQ(Dest, "abcdefg");
}

TEST(StrAppendTest, UnterminatedDestinationIsLeftAlone) {
  char Dest[4] = {'a', 'b', 'c', 'd'};
  StrAppend(Dest, "x", sizeof Dest);
  EXPECT_EQ(std::string(Dest, 4), "abcd");
}

}  // namespace
