// Screen drawing: whole redraws of the menu screen and the playback list, byte for byte,
// and the error line.
#include <algorithm>
#include <climits>
#include <string>

#include "TestSupport.h"
#include "app/Display.h"
#include "errors/ErrorLines.h"

namespace {

using testsupport::MenuLabels;

const std::string Begin = "\x1b[0m\x1b[2J";
const std::string End = "\x1b[H";
const std::string TitleOn = "\x1b[0m\x1b[1m\x1b[37m\x1b[40m";
const std::string ItemOn = "\x1b[0m\x1b[37m\x1b[40m";
const std::string Highlight = "\x1b[43m\x1b[30m";
const std::string StatusOn = "\x1b[0m\x1b[1m\x1b[31m\x1b[47m";
const std::string EntryOn = "\x1b[0m\x1b[1m\x1b[37m";
const std::string EntrySelected = "\x1b[1m\x1b[30m\x1b[43m";
const std::string Status16 = StatusOn + "\x1b[0;2f      SLEEP OFF \n";
const std::string Clock16 = "\x1b[23;2f2024-03-05 09:07\n";

int WriteCount = 0;

class DisplayTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    WriteCount = 0;
    Platform.WriteOutput = [](const char* Data, std::size_t Size) {
      ++WriteCount;
      testsupport::TheWorld().Output.append(Data, Size);
    };
    world().Clock = testsupport::LocalTime(2024, 3, 5, 9, 7, 41);
    DisplayWidth = 80;
    DisplayHeight = 24;
    ThisConfig.BorderTop = 1;
    ThisConfig.BorderLeft = 2;
    ThisConfig.ItemWidth = 16;
    ThisConfig.ItemHeight = 2;
    MenuLabels(0, {"ISO", "AUTO", "100", "200"});
    MenuLabels(1, {"EXPOSURE", "AUTO", "NIGHT"});
    MenuLabels(2, {"EXEC", "PHOTO", "VIDEO"});
    MenuLabels(3, {"POWER", "OFF", "SLEEP 5"});
    ThisConfigSave.MenuSelection[0] = 1;
    ThisConfigSave.MenuSelection[1] = 2;
    ThisConfigSave.MenuSelection[2] = 1;
    ThisConfigSave.MenuSelection[3] = 2;
  }

  void AddEntries(int Count) {
    for (int Entry = 0; Entry < Count; ++Entry) {
      std::string Name = "cap" + std::to_string(Entry) + ".jpg";
      ThisConfig.DirList[Entry] = testsupport::HeapText(Name.c_str());
    }
  }

  std::string Draw(int Rows) {
    world().Output.clear();
    WriteCount = 0;
    UpdateDisplay(1, Rows, &ThisConfig, &ThisConfigSave);
    return world().Output;
  }

  void Browse(int Menu, int Item) {
    ThisConfigSave.MenuPos = Menu;
    ThisConfigSave.MenuItemPos = Item;
  }

  void ShowList(int Position) {
    ThisConfigSave.Mode = ModePlayList;
    ThisConfig.DirPos = Position;
  }

  static bool Contains(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
  }
};

// The menu window.

TEST_F(DisplayTest, FirstMenuLeavesTheSlotsAboveItBlank) {
  Browse(0, 2);
  EXPECT_EQ(Draw(4), Begin +                                                    //
                         TitleOn + Highlight + "\x1b[5;2fISO             \n" +  //
                         ItemOn + Highlight + "\x1b[6;2f      100       \n" +   //
                         TitleOn + "\x1b[7;2fEXPOSURE        \n" +              //
                         ItemOn + "\x1b[8;2f     NIGHT      \n" +               //
                         Status16 + Clock16 + End);
}

TEST_F(DisplayTest, MiddleMenuHasNeighboursOnBothSides) {
  Browse(1, 1);
  EXPECT_EQ(Draw(4), Begin +                                                    //
                         TitleOn + "\x1b[3;2fISO             \n" +              //
                         ItemOn + "\x1b[4;2f      AUTO      \n" +               //
                         TitleOn + Highlight + "\x1b[5;2fEXPOSURE        \n" +  //
                         ItemOn + Highlight + "\x1b[6;2f      AUTO      \n" +   //
                         TitleOn + "\x1b[7;2fEXEC            \n" +              //
                         ItemOn + "\x1b[8;2f     PHOTO      \n" +               //
                         Status16 + Clock16 + End);
  const std::string WithHeightTwo = Draw(4);
  ThisConfig.ItemHeight = 0;  // missing from the configuration: a menu's two lines
  EXPECT_EQ(Draw(4), WithHeightTwo);
}

TEST_F(DisplayTest, LastMenuEndsTheWindowAtTheFirstMissingTitle) {
  Browse(3, 1);
  EXPECT_EQ(Draw(6), Begin +                                                    //
                         TitleOn + "\x1b[3;2fEXPOSURE        \n" +              //
                         ItemOn + "\x1b[4;2f     NIGHT      \n" +               //
                         TitleOn + "\x1b[5;2fEXEC            \n" +              //
                         ItemOn + "\x1b[6;2f     PHOTO      \n" +               //
                         TitleOn + Highlight + "\x1b[7;2fPOWER           \n" +  //
                         ItemOn + Highlight + "\x1b[8;2f      OFF       \n" +   //
                         Status16 + Clock16 + End);
}

TEST_F(DisplayTest, MissingTitleStopsEvenWhenLaterMenusExist) {
  std::free(ThisConfig.Menu[2][0]);
  ThisConfig.Menu[2][0] = nullptr;
  Browse(1, 1);
  std::string Screen = Draw(6);
  EXPECT_TRUE(Contains(Screen, "EXPOSURE"));
  EXPECT_FALSE(Contains(Screen, "POWER"));
}

TEST_F(DisplayTest, OneRowOrLessDrawsOnlyStatusAndClock) {
  Browse(1, 1);
  for (int Rows : {1, 0, -3}) {
    EXPECT_EQ(Draw(Rows), Begin + Status16 + Clock16 + End) << "Rows " << Rows;
  }
}

TEST_F(DisplayTest, TwoOrThreeRowsShowTheHighlightedMenuAlone) {
  Browse(1, 1);
  std::string Alone = Begin +                                                //
                      TitleOn + Highlight + "\x1b[3;2fEXPOSURE        \n" +  //
                      ItemOn + Highlight + "\x1b[4;2f      AUTO      \n" +   //
                      Status16 + Clock16 + End;
  EXPECT_EQ(Draw(2), Alone);
  EXPECT_EQ(Draw(3), Alone);
}

TEST_F(DisplayTest, FiveRowsShowTheSameThreeSlotsAsFour) {
  Browse(1, 1);
  EXPECT_EQ(Draw(5), Draw(4));
}

TEST_F(DisplayTest, HugeRowCountAndMenuPositionsFinishWithoutDrawingOutsideTheList) {
  Browse(INT_MAX, 1);
  EXPECT_EQ(Draw(INT_MAX), Begin + Status16 + Clock16 + End);
  Browse(INT_MIN, 1);
  EXPECT_EQ(Draw(INT_MAX), Begin + Status16 + Clock16 + End);
  Browse(0, 1);
  EXPECT_TRUE(Contains(Draw(INT_MAX), "POWER"));
}

// Titles and item lines.

TEST_F(DisplayTest, ItemLabelIsCentredWithTheOddBlankOnTheRight) {
  ThisConfig.ItemWidth = 10;
  MenuLabels(0, {"ISO", "AB", "ABC"});
  Browse(0, 1);
  EXPECT_TRUE(Contains(Draw(2), "\x1b[4;2f    AB    \n"));
  Browse(0, 2);
  EXPECT_TRUE(Contains(Draw(2), "\x1b[4;2f   ABC    \n"));
}

TEST_F(DisplayTest, TitleAsWideAsTheCellIsShownWholeAndALongerOneCut) {
  ThisConfig.ItemWidth = 10;
  MenuLabels(0, {"EXACTLYTEN", "A"});
  Browse(0, 1);
  EXPECT_TRUE(Contains(Draw(2), "\x1b[3;2fEXACTLYTEN\n"));
  MenuLabels(0, {"LONGERTITLE!"});
  EXPECT_TRUE(Contains(Draw(2), "\x1b[3;2fLONGERTITL\n"));
}

TEST_F(DisplayTest, LabelWiderThanTheCellIsCutWithoutCentring) {
  ThisConfig.ItemWidth = 10;
  MenuLabels(0, {"ISO", "VERYLONGLABEL", "TENLETTERS"});
  Browse(0, 1);
  EXPECT_TRUE(Contains(Draw(2), "\x1b[4;2fVERYLONGLA\n"));
  Browse(0, 2);
  EXPECT_TRUE(Contains(Draw(2), "\x1b[4;2fTENLETTERS\n"));
}

TEST_F(DisplayTest, ItemIndexOutsideTheItemsOrWithoutLabelShowsABlankLine) {
  ThisConfig.ItemWidth = 10;
  for (int Item : {0, -1, 64, 3, INT_MIN}) {
    Browse(1, Item);
    EXPECT_TRUE(Contains(Draw(2), "\x1b[4;2f          \n")) << "item " << Item;
  }
}

TEST_F(DisplayTest, CommittedItemIsShownForMenusOtherThanTheHighlighted) {
  ThisConfigSave.MenuSelection[0] = 99;
  Browse(1, 1);
  EXPECT_TRUE(Contains(Draw(4), ItemOn + "\x1b[4;2f                \n"));
}

TEST_F(DisplayTest, WidthsBeyondTheLineBufferAreHeldAtItsSize) {
  ThisConfig.ItemWidth = 5000;
  Browse(0, 1);
  std::string Screen = Draw(2);
  EXPECT_TRUE(Contains(Screen, "\x1b[3;2fISO" + std::string(4093, ' ') + "\n"));
  EXPECT_TRUE(Contains(
      Screen, "\x1b[4;2f" + std::string(2046, ' ') + "AUTO" + std::string(2046, ' ') + "\n"));
}

TEST_F(DisplayTest, NegativeWidthDrawsEmptyText) {
  ThisConfig.ItemWidth = -4;
  Browse(0, 1);
  EXPECT_EQ(Draw(2), Begin +                                    //
                         TitleOn + Highlight + "\x1b[3;2f\n" +  //
                         ItemOn + Highlight + "\x1b[4;2f\n" +   //
                         StatusOn + "\x1b[0;2f\n" +             //
                         "\x1b[23;2f\n" + End);
}

TEST_F(DisplayTest, PositionsAreWrittenAsUnsignedDecimals) {
  ThisConfig.BorderLeft = -1;
  Browse(0, 1);
  EXPECT_TRUE(Contains(Draw(2), "\x1b[3;4294967295f"));
}

// Status line.

TEST_F(DisplayTest, StatusLineWhileRecordingShowsRecAndSleepTime) {
  ThisConfig.ItemWidth = 20;
  ThisConfigSave.Mode = ModeRecording;
  ThisConfigSave.SleepPeriod = 5;
  EXPECT_TRUE(Contains(Draw(0), StatusOn + "\x1b[0;2fREC   SLEEP 5m      \n"));
}

TEST_F(DisplayTest, StatusLineInPreviewShowsNoRec) {
  ThisConfig.ItemWidth = 20;
  ThisConfigSave.Mode = ModePreview;
  EXPECT_TRUE(Contains(Draw(0), StatusOn + "\x1b[0;2f      SLEEP OFF     \n"));
  ThisConfigSave.SleepPeriod = 120;
  EXPECT_TRUE(Contains(Draw(0), StatusOn + "\x1b[0;2f      SLEEP 120m    \n"));
}

TEST_F(DisplayTest, UnknownModeDrawsTheMenuScreenWithoutRec) {
  ThisConfig.ItemWidth = 20;
  for (int Mode : {7, -1}) {
    ThisConfigSave.Mode = Mode;
    Browse(0, 1);
    std::string Screen = Draw(2);
    EXPECT_TRUE(Contains(Screen, "\x1b[0;2f      SLEEP OFF     \n")) << "Mode " << Mode;
    EXPECT_TRUE(Contains(Screen, "ISO")) << "Mode " << Mode;
  }
}

TEST_F(DisplayTest, NarrowStatusLineCutsItsTexts) {
  ThisConfig.ItemWidth = 2;
  ThisConfigSave.Mode = ModeRecording;
  EXPECT_TRUE(Contains(Draw(0), "\x1b[0;2fRE\n"));
  ThisConfig.ItemWidth = 10;
  EXPECT_TRUE(Contains(Draw(0), "\x1b[0;2fREC   SLEE\n"));
}

// Clock line: date and time, blanks to the cell width, no carriage return.

TEST_F(DisplayTest, ClockLineFollowsTheCellWidth) {
  struct Case {
    int Width;
    const char* Line;
  } Cases[] = {
      {10, "2024-03-05"},
      {16, "2024-03-05 09:07"},
      {17, "2024-03-05 09:07 "},
      {24, "2024-03-05 09:07        "},
  };
  for (const Case& Each : Cases) {
    ThisConfig.ItemWidth = Each.Width;
    std::string Screen = Draw(0);
    std::string Tail = "\x1b[23;2f" + std::string(Each.Line) + "\n\x1b[H";
    ASSERT_GE(Screen.size(), Tail.size());
    EXPECT_EQ(Screen.substr(Screen.size() - Tail.size()), Tail) << "width " << Each.Width;
  }
}

TEST_F(DisplayTest, ClockStandsOnTheLineAboveTheLast) {
  DisplayHeight = 10;
  EXPECT_TRUE(Contains(Draw(0), "\x1b[9;2f2024-03-05 09:07\n"));
}

// Playback list.

TEST_F(DisplayTest, ListKeepsTheChosenEntryOnItsRowAndLeavesRowsPastTheEndsBlank) {
  DisplayHeight = 6;
  DisplayWidth = 12;
  AddEntries(8);
  // The chosen entry stands on row 4; rows 1 to 5 show its neighbours where there are any.
  for (int Chosen : {0, 4, 7}) {
    ShowList(Chosen);
    std::string Expected = Begin;
    for (int Row = 1; Row <= 5; ++Row) {
      const int Entry = Chosen + Row - 4;
      if (Entry < 0 || Entry > 7) continue;
      Expected += (Entry == Chosen ? EntrySelected : EntryOn) + "\x1b[" + std::to_string(Row) +
                  ";1fcap" + std::to_string(Entry) + ".jpg    \n";
    }
    EXPECT_EQ(Draw(4), Expected + "\x1b[0m" + End) << "chosen entry " << Chosen;
  }
}

TEST_F(DisplayTest, EmptyListDrawsOnlyTheFrame) {
  ShowList(0);
  EXPECT_EQ(Draw(4), Begin + "\x1b[0m" + End);
}

TEST_F(DisplayTest, ListOnATwentyFourLineScreenNeverWritesTheLastLine) {
  DisplayWidth = 8;
  AddEntries(15);
  ShowList(0);
  std::string Screen = Draw(4);
  EXPECT_TRUE(Contains(Screen, EntrySelected + "\x1b[13;1fcap0.jpg\n"));
  EXPECT_TRUE(Contains(Screen, EntryOn + "\x1b[23;1fcap10.jp\n"));
  EXPECT_FALSE(Contains(Screen, "cap11"));
  EXPECT_FALSE(Contains(Screen, "\x1b[24;"));
}

TEST_F(DisplayTest, ListNamesAreCutAtTheScreenWidth) {
  DisplayHeight = 4;
  DisplayWidth = 12;
  ThisConfig.DirList[0] = testsupport::HeapText("averyverylongname.h264");
  ShowList(0);
  EXPECT_TRUE(Contains(Draw(4), "\x1b[3;1faveryverylon\n"));
  DisplayWidth = 10000;
  EXPECT_TRUE(Contains(Draw(4), "\x1b[3;1faveryverylongname.h264" + std::string(4074, ' ') + "\n"));
  DisplayWidth = -1;
  EXPECT_TRUE(Contains(Draw(4), "\x1b[3;1f\n"));
}

TEST_F(DisplayTest, ListShowsEveryControlCharacterOfANameAsAQuestionMark) {
  DisplayHeight = 4;
  DisplayWidth = 12;
  ShowList(0);
  const struct {
    const char* Name;
    const char* Shown;  // the row's text, cut or padded to 12 characters
  } Cases[] = {
      {"\x1b[2Jx.jpg", "?[2Jx.jpg   "},        // erase screen
      {"\x1b]0;pwn\x07.jpg", "?]0;pwn?.jpg"},  // retitle the terminal
      {"\x1b[?1lk.jpg", "?[?1lk.jpg  "},       // cursor keys to normal mode
      {"a\nb\r\t.jpg", "a?b??.jpg   "},        // line feed, return, tab
      {"a\x7f\x9b"
       "2J.jpg",
       "a??2J.jpg   "},  // DEL, lone C1 byte (CSI)
      {"a\xc2\x9b"
       "2J.jpg",
       "a?2J.jpg    "},                                       // C1 encoded in UTF-8
      {"\xc3\xa9t\xc3\xa9.jpg", "\xc3\xa9t\xc3\xa9.jpg   "},  // printable UTF-8 kept
      {"\xe2\x82\xac\xf0\x9f\x93\xb7.jpg", "\xe2\x82\xac\xf0\x9f\x93\xb7.jpg "},
      {"\xc0\x9b\xe2\x82.jpg", "\xc0?\xe2?.jpg    "},  // overlong and cut sequences
      {"\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b\x1b.jpg", "????????????"},
  };
  for (const auto& Case : Cases) {
    std::free(ThisConfig.DirList[0]);
    ThisConfig.DirList[0] = testsupport::HeapText(Case.Name);
    EXPECT_EQ(Draw(4), Begin + EntrySelected + "\x1b[3;1f" + Case.Shown + "\n\x1b[0m" + End)
        << Case.Shown;
    EXPECT_STREQ(ThisConfig.DirList[0], Case.Name);  // only the display changes
  }
}

TEST_F(DisplayTest, ListPositionsFarOutsideTheListDrawNothing) {
  AddEntries(3);
  for (int Position : {INT_MAX, INT_MIN}) {
    ShowList(Position);
    EXPECT_EQ(Draw(4), Begin + "\x1b[0m" + End) << "position " << Position;
  }
  DisplayHeight = INT_MAX;
  ShowList(0);
  EXPECT_TRUE(Contains(Draw(4), "cap2.jpg"));
}

// Output in one piece.

TEST_F(DisplayTest, EachRedrawIsOneWrite) {
  Browse(1, 1);
  std::string Screen = Draw(6);
  EXPECT_EQ(WriteCount, 1);
  EXPECT_EQ(Screen, ComposeDisplay(1, 6, ThisConfig, ThisConfigSave));
  AddEntries(3);
  ShowList(1);
  Draw(6);
  EXPECT_EQ(WriteCount, 1);
}

TEST_F(DisplayTest, ErrorLineIsBoldWhiteOnRedBetweenSaveAndRestore) {
  // Blanks fill the line to the screen's width, so nothing of the status line under a
  // shorter message stays ("Card full.P 5m").
  DisplayWidth = 24;
  DisplayError("Failed to start timer.");
  EXPECT_EQ(world().Output,
            "\x1b"
            "7\x1b[1m\x1b[37m\x1b[41mFailed to start timer.  \n\x1b"
            "8");
  EXPECT_EQ(WriteCount, 1);

  // Redraws show it again from line 1 in the menu's columns, wrapped to ITEM_WIDTH, in the
  // same single write, until it is dismissed; a message that repeats takes no second line.
  DisplayError("Failed to start timer.");
  const std::string Plain = ComposeDisplay(1, 4, ThisConfig, ThisConfigSave);
  EXPECT_EQ(Draw(4), Plain +
                         "\x1b[1;2f\x1b"
                         "7\x1b[1m\x1b[37m\x1b[41mFailed to start         \n\x1b"
                         "8"
                         "\x1b[2;2f\x1b"
                         "7\x1b[1m\x1b[37m\x1b[41mtimer.                  \n\x1b"
                         "8\x1b[H");
  EXPECT_EQ(WriteCount, 1);
  DismissErrorLines();
  EXPECT_EQ(Draw(4), Plain);
  // A message as wide as the screen or wider gets no blanks.
  DisplayWidth = 10;
  world().Output.clear();
  DisplayError("Card full.");
  EXPECT_NE(world().Output.find("Card full.\n"), std::string::npos);
}

// Where the error lines go: the cells each one writes, as (line, first column, text).
struct ErrorCell {
  int Line;
  int Column;
  std::string Text;
};
std::vector<ErrorCell> ErrorLinesIn(const std::string& Screen) {
  std::vector<ErrorCell> Cells;
  const std::string Opening =
      "\x1b"
      "7\x1b[1m\x1b[37m\x1b[41m";
  for (std::size_t At = Screen.find(Opening); At != std::string::npos;
       At = Screen.find(Opening, At + 1)) {
    const std::size_t Move = Screen.rfind("\x1b[", At - 1);
    ErrorCell Cell{std::atoi(Screen.c_str() + Move + 2), 0, ""};
    Cell.Column = std::atoi(Screen.c_str() + Screen.find(';', Move) + 1);
    const std::size_t Text = At + Opening.size();
    Cell.Text = Screen.substr(Text, Screen.find('\n', Text) - Text);
    Cells.push_back(Cell);
  }
  return Cells;
}

// The sample layouts of the three LCD sizes (8x16 font): the menu in columns 1 to
// ITEM_WIDTH, the small preview window from the next column on. Every error line stays in
// the menu's columns, whole words where they fit, and nothing is lost but what falls
// below the last line but one.
TEST_F(DisplayTest, ErrorLinesStayInTheMenuColumnsLeftOfThePreview) {
  struct Size {
    int Width, Height, ItemWidth;
  };
  const std::string Long = "Failed to open file: /var/lib/harrowlight/DCIM/IMG_20240305_1.jpg";
  for (const Size& Lcd : {Size{40, 15, 20}, Size{60, 20, 30}, Size{100, 30, 40}}) {
    DisplayWidth = Lcd.Width;
    DisplayHeight = Lcd.Height;
    ThisConfig.BorderLeft = 1;
    ThisConfig.ItemWidth = Lcd.ItemWidth;
    DismissErrorLines();
    KeepErrorLine("Failed to open memory");
    KeepErrorLine(Long.c_str());
    const std::vector<ErrorCell> Cells = ErrorLinesIn(Draw(6));
    std::string Shown;
    for (std::size_t Index = 0; Index < Cells.size(); ++Index) {
      EXPECT_EQ(Cells[Index].Line, static_cast<int>(Index) + 1);
      EXPECT_EQ(Cells[Index].Column, 1);
      const std::string& Text = Cells[Index].Text;
      EXPECT_LE(Text.find_last_not_of(' ') + 1, static_cast<std::size_t>(Lcd.ItemWidth)) << Text;
      Shown += Text;
    }
    std::string Wanted = "Failed to open memory" + Long;
    for (std::string* Text : {&Shown, &Wanted}) {
      Text->erase(std::remove(Text->begin(), Text->end(), ' '), Text->end());
    }
    EXPECT_EQ(Shown, Wanted) << Lcd.Width << " columns";
    const std::string First = Cells.front().Text;
    EXPECT_EQ(First.substr(0, First.find_last_not_of(' ') + 1),
              Lcd.ItemWidth < 21 ? "Failed to open" : "Failed to open memory");
  }
  // A word wider than the menu is cut at its width, never inside a UTF-8 character, and no
  // line reaches the last screen line.
  DisplayHeight = 4;
  ThisConfig.ItemWidth = 20;
  DismissErrorLines();
  KeepErrorLine("Failed to open memory");
  KeepErrorLine(
      "x\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9 "
      "and more");
  const std::vector<ErrorCell> Cells = ErrorLinesIn(Draw(6));
  ASSERT_EQ(Cells.size(), 3u);
  EXPECT_EQ(Cells[2].Text.substr(0, 20),
            "x\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9 ");
}

}  // namespace
