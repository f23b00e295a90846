// Reading the configuration file: defaults, line rules, menus, pin lists and pin set-up.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Config.h"
#include "app/Shell.h"

namespace {

// Word indexes of the GPIO registers the reader's pin set-up leaves traces in.
constexpr int GPFSEL0 = 0x00 / 4;
constexpr int GPFSEL1 = 0x04 / 4;
constexpr int GPFSEL2 = 0x08 / 4;
constexpr int GPSET0 = 0x1C / 4;

class ReadConfigTest : public testsupport::HarrowlightTest {
 protected:
  // Writes Text as the configuration file and reads it.
  void Read(const std::string& Text) {
    std::ofstream(Path, std::ios::binary) << Text;
    ReadConfig(Path.c_str());
  }

  static std::string MenuText(int Menu, int Entry) {
    const char* Text = ThisConfig.Menu[Menu][Entry];
    return Text == nullptr ? "(null)" : Text;
  }
  static std::string ValueText(int Menu, int Entry) {
    const char* Text = ThisConfig.MenuValue[Menu][Entry];
    return Text == nullptr ? "(null)" : Text;
  }

  testsupport::ScratchDirectory Scratch{"config"};
  const std::string& Directory = Scratch.Path();
  const std::string Path = Scratch.File("Harrowlight.ini");
  std::uint32_t Registers[1024] = {};
};

// ---- Defaults and a missing file ----

TEST_F(ReadConfigTest, MissingFileReportsItAndKeepsDefaults) {
  ThisConfig.ItemHeight = 5;
  ThisConfigSave.MenuSelection[7] = 9;
  GPIO = Registers;
  std::string Missing = Directory + "/absent.ini";

  ReadConfig(Missing.c_str());

  EXPECT_EQ(world().Output, "Failed to open file: " + Missing + "\n");
  EXPECT_EQ(ThisConfig.ItemHeight, 0);
  EXPECT_EQ(ThisConfig.CaptureMinFreeMiB, 16);
  EXPECT_EQ(ThisConfig.ConsolePalette, 1);
  EXPECT_EQ(ThisConfigSave.ID, 1);
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 1);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 1);
  for (int Selection : ThisConfigSave.MenuSelection) EXPECT_EQ(Selection, 1);
  for (int Pin : ThisConfig.Switch) EXPECT_EQ(Pin, -1);
  for (std::uint32_t Pin : GPIO_Input_Pin) EXPECT_EQ(Pin, NoPin);
  for (std::uint32_t Pin : GPIO_Output_Pin) EXPECT_EQ(Pin, NoPin);
  EXPECT_EQ(InputPinCount, 0);
  EXPECT_EQ(OutputPinCount, 0);
  for (std::uint32_t Word : Registers) EXPECT_EQ(Word, 0u) << "no pin work without a file";
}

TEST_F(ReadConfigTest, SecondReadStartsAgainFromDefaults) {
  Read("MENU_0=Title,One\nSWITCH_1=4\nITEM_HEIGHT=2\nID_START=50\n");
  ThisConfigSave.MenuSelection[0] = 3;

  Read("BORDER_TOP=1\n");

  EXPECT_EQ(ThisConfig.Menu[0][0], nullptr);
  EXPECT_EQ(ThisConfig.Menu[0][1], nullptr);
  EXPECT_EQ(ThisConfig.Switch[0], -1);
  EXPECT_EQ(GPIO_Input_Pin[0], NoPin);
  EXPECT_EQ(InputPinCount, 0);
  EXPECT_EQ(ThisConfig.ItemHeight, 0);
  EXPECT_EQ(ThisConfigSave.ID, 1);
  EXPECT_EQ(ThisConfigSave.MenuSelection[0], 1);
  EXPECT_EQ(ThisConfig.BorderTop, 1);
}

// ---- Line rules ----

TEST_F(ReadConfigTest, BlanksAroundKeyAndValueDoNotMatter) {
  Read("  BORDER_TOP \t=\t 3  \r\n\tDIRECTORY = /media/cam/ \r\nPREVIEW = raspivid x=y\n");
  EXPECT_EQ(ThisConfig.BorderTop, 3);
  EXPECT_STREQ(ThisConfig.Directory, "/media/cam/");
  EXPECT_STREQ(ThisConfig.Preview, "raspivid x=y") << "the key ends at the first '='";
}

TEST_F(ReadConfigTest, CommentsBlankLinesAndLinesWithoutEqualsAreSkipped) {
  Read("# BORDER_TOP=9\n   #ITEM_WIDTH=9\n\n   \nITEM_HEIGHT 4\nBORDER_LEFT=2\n");
  EXPECT_EQ(ThisConfig.BorderTop, 0);
  EXPECT_EQ(ThisConfig.ItemWidth, 0);
  EXPECT_EQ(ThisConfig.ItemHeight, 0);
  EXPECT_EQ(ThisConfig.BorderLeft, 2);
}

TEST_F(ReadConfigTest, KeysMatchWholeNotByPrefix) {
  Read("PREVIEW_SMALL=-p 0,0,320,240\nBORDER_TOPX=7\nborder_top=8\nPLAYER=x\n");
  EXPECT_STREQ(ThisConfig.PreviewSmall, "-p 0,0,320,240");
  EXPECT_STREQ(ThisConfig.Preview, "");
  EXPECT_STREQ(ThisConfig.Play, "");
  EXPECT_EQ(ThisConfig.BorderTop, 0);
}

TEST_F(ReadConfigTest, EveryTextKeyFillsItsOwnField) {
  Read(
      "PLAY=omxplayer [FILENAME]\nPREVIEW_SMALL=small\nPREVIEW_LARGE=large\n"
      "PREVIEW=raspistill -t 0\nDIRECTORY=/cap/\nFILENAME=IMG_[ID]\n");
  EXPECT_STREQ(ThisConfig.Play, "omxplayer [FILENAME]");
  EXPECT_STREQ(ThisConfig.PreviewSmall, "small");
  EXPECT_STREQ(ThisConfig.PreviewLarge, "large");
  EXPECT_STREQ(ThisConfig.Preview, "raspistill -t 0");
  EXPECT_STREQ(ThisConfig.Directory, "/cap/");
  EXPECT_STREQ(ThisConfig.Filename, "IMG_[ID]");
}

TEST_F(ReadConfigTest, NumbersAreReadLikeAtoiAndSaturate) {
  Read(
      "BORDER_TOP=12abc\nBORDER_LEFT=abc\nITEM_WIDTH=-3\nITEM_HEIGHT=+4\n"
      "GPIO_LED=99999999999\nGPIO_LCD=-99999999999\nID_START=1000\nCAPTURE_MIN_FREE_MB=0\n"
      "CONSOLE_PALETTE=0\n");
  EXPECT_EQ(ThisConfig.BorderTop, 12);
  EXPECT_EQ(ThisConfig.BorderLeft, 0);
  EXPECT_EQ(ThisConfig.ItemWidth, -3);
  EXPECT_EQ(ThisConfig.ItemHeight, 4);
  EXPECT_EQ(ThisConfig.GPIO_LED, INT_MAX);
  EXPECT_EQ(ThisConfig.GPIO_LCD, INT_MIN);
  EXPECT_EQ(ThisConfigSave.ID, 1000);
  EXPECT_EQ(ThisConfig.CaptureMinFreeMiB, 0);
  EXPECT_EQ(ThisConfig.ConsolePalette, 0);
}

TEST_F(ReadConfigTest, OverLongLineIsReadInPiecesAndTextIsCutToFit) {
  // The first piece is 8191 characters; the rest of the line is read as a line of its own.
  std::string Line = "PLAY=" + std::string(8191 - 5, 'a') + "ITEM_WIDTH=7\n";
  Read(Line);
  EXPECT_EQ(std::string(ThisConfig.Play), std::string(4096, 'a'));
  EXPECT_EQ(ThisConfig.ItemWidth, 7);
}

// ---- Menus ----

TEST_F(ReadConfigTest, MenuLineIsSplitAtCommasDroppingEmptyPieces) {
  Read("MENU_0=,Exposure,,auto, night,\nMENU_VALUE_0=-ex,auto,night\n");
  EXPECT_EQ(MenuText(0, 0), "Exposure");
  EXPECT_EQ(MenuText(0, 1), "auto");
  EXPECT_EQ(MenuText(0, 2), " night");
  EXPECT_EQ(MenuText(0, 3), "(null)");
  EXPECT_EQ(ValueText(0, 0), "-ex");
  EXPECT_EQ(ValueText(0, 2), "night");
  EXPECT_EQ(ValueText(0, 3), "(null)");
}

TEST_F(ReadConfigTest, MenuValueKeysAreNotTakenForMenuKeys) {
  Read("MENU_VALUE_1=EXEC\nMENU_1=Mode\n");
  EXPECT_EQ(MenuText(1, 0), "Mode");
  EXPECT_EQ(ValueText(1, 0), "EXEC");
  EXPECT_EQ(MenuText(0, 0), "(null)");
}

TEST_F(ReadConfigTest, LaterMenuLineReplacesFromTheFirstEntry) {
  Read("MENU_2=A,B,C,D\nMENU_2=X,Y\n");
  EXPECT_EQ(MenuText(2, 0), "X");
  EXPECT_EQ(MenuText(2, 1), "Y");
  EXPECT_EQ(MenuText(2, 2), "C");
  EXPECT_EQ(MenuText(2, 3), "D");
}

TEST_F(ReadConfigTest, MenuNumbersOutsideTheTableAreIgnored) {
  Read("MENU_64=Far\nMENU_-1=Before\nMENU_VALUE_99999999999=X\nMENU_63=Last\nMENU_=First\n");
  EXPECT_EQ(MenuText(63, 0), "Last");
  EXPECT_EQ(MenuText(0, 0), "First");  // no number reads as 0
  for (int Menu = 1; Menu < 63; ++Menu) EXPECT_EQ(MenuText(Menu, 0), "(null)");
  for (int Menu = 0; Menu < MenuCount; ++Menu) EXPECT_EQ(ValueText(Menu, 0), "(null)");
}

TEST_F(ReadConfigTest, PiecesBeyondSixtyFourEntriesAreDropped) {
  std::string Line = "MENU_5=Title";
  for (int Item = 1; Item <= 70; ++Item) Line += "," + std::to_string(Item);
  Read(Line + "\n");
  EXPECT_EQ(MenuText(5, 0), "Title");
  EXPECT_EQ(MenuText(5, 63), "63");
  EXPECT_EQ(MenuText(6, 0), "(null)");
}

// ---- Pins ----

TEST_F(ReadConfigTest, PinListsFollowFileOrderNotButtonNumbers) {
  Read("SWITCH_3=22\nSWITCH_1=4\nOUT_SWITCH_2=18\nOUT_SWITCH_1=17\n");
  EXPECT_EQ(ThisConfig.Switch[2], 22);
  EXPECT_EQ(ThisConfig.Switch[0], 4);
  EXPECT_EQ(ThisConfig.Switch[1], -1);
  EXPECT_EQ(GPIO_Input_Pin[0], 22u);
  EXPECT_EQ(GPIO_Input_Pin[1], 4u);
  EXPECT_EQ(GPIO_Input_Pin[2], NoPin);
  EXPECT_EQ(InputPinCount, 2);
  EXPECT_EQ(ThisConfig.OutSwitch[1], 18);
  EXPECT_EQ(ThisConfig.OutSwitch[0], 17);
  EXPECT_EQ(GPIO_Output_Pin[0], 18u);
  EXPECT_EQ(GPIO_Output_Pin[1], 17u);
  EXPECT_EQ(OutputPinCount, 2);
}

TEST_F(ReadConfigTest, LastLineCountsOnceWithOrWithoutLineFeed) {
  Read("SWITCH_1=4\n");
  EXPECT_EQ(InputPinCount, 1);
  Read("SWITCH_1=4\nSWITCH_2=5");
  EXPECT_EQ(InputPinCount, 2);
  EXPECT_EQ(GPIO_Input_Pin[1], 5u);
}

TEST_F(ReadConfigTest, PinLinesNamingNoSlotAreIgnoredWhole) {
  Read("SWITCH_0=4\nSWITCH_11=5\nSWITCH_=6\nOUT_SWITCH_0=7\nOUT_SWITCH_6=8\nSWITCH_10=9\n");
  EXPECT_EQ(ThisConfig.Switch[9], 9);
  EXPECT_EQ(InputPinCount, 1);
  EXPECT_EQ(GPIO_Input_Pin[0], 9u);
  EXPECT_EQ(OutputPinCount, 0);
  for (int Pin : ThisConfig.OutSwitch) EXPECT_EQ(Pin, 0);
}

TEST_F(ReadConfigTest, PinLinesBeyondTheListAreIgnored) {
  std::string Text;
  for (int Line = 0; Line < 26; ++Line) Text += "SWITCH_1=" + std::to_string(Line) + "\n";
  for (int Line = 0; Line < 26; ++Line) Text += "OUT_SWITCH_5=" + std::to_string(Line) + "\n";
  Read(Text);
  EXPECT_EQ(InputPinCount, PinListSize);
  EXPECT_EQ(OutputPinCount, PinListSize);
  EXPECT_EQ(GPIO_Input_Pin[24], 24u);
  EXPECT_EQ(GPIO_Output_Pin[24], 24u);
  // The slot keeps the last pin that made it into the list.
  EXPECT_EQ(ThisConfig.Switch[0], 24);
  EXPECT_EQ(ThisConfig.OutSwitch[4], 24);
}

TEST_F(ReadConfigTest, PinsAreSetUpAndOutputsDrivenHigh) {
  GPIO = Registers;
  Read("SWITCH_1=4\nOUT_SWITCH_1=17\nOUT_SWITCH_2=27\nOUT_SWITCH_3=5\n");
  EXPECT_EQ(Registers[GPFSEL0] & (7u << 12), 0u) << "pin 4 is an input";
  EXPECT_EQ(Registers[GPFSEL1] & (7u << 21), 1u << 21) << "pin 17 is an output";
  EXPECT_EQ(Registers[GPFSEL2] & (7u << 21), 1u << 21) << "pin 27 is an output";
  EXPECT_EQ(Registers[GPFSEL0] & (7u << 15), 1u << 15) << "pin 5 is an output";
  // GPSET0 keeps the last word written: the last listed output, not a write for an empty
  // list entry after it.
  EXPECT_EQ(Registers[GPSET0], 1u << 5);
}

TEST_F(ReadConfigTest, PinWorkIsSkippedWithoutGpioBlock) {
  Read("SWITCH_1=4\nOUT_SWITCH_1=17\n");
  EXPECT_EQ(OutputPinCount, 1);
  EXPECT_EQ(GPIO_Output_Pin[0], 17u);
}

// ---- Process names of the camera tools and the player ----

TEST_F(ReadConfigTest, ProcessNameKeysNameTheToolsToStopAndQuery) {
  Read("CAMERA_PROCESSES = rpicam-still \t rpicam-vid\nPLAYER_PROCESS = vlc\n");
  EXPECT_EQ(CameraQueryCommandText(), "ps h -o cmd -C rpicam-still -C rpicam-vid");
  EXPECT_EQ(PlayerQueryCommandText(), "ps h -o cmd -C vlc");
  StopCameraTools();
  EXPECT_EQ(world().Commands, (std::vector<std::string>{"killall -9 rpicam-still 2> /dev/null",
                                                        "killall -9 rpicam-vid 2> /dev/null"}));
}

TEST_F(ReadConfigTest, ProcessNameKeysLeaveTheOtherKeysAlone) {
  Read("PLAY=cvlc [FILENAME]\nPLAYER_PROCESS=vlc\nCAMERA_PROCESSES=rpicam-vid\nMENU_0=A,B\n");
  EXPECT_STREQ(ThisConfig.Play, "cvlc [FILENAME]");
  EXPECT_STREQ(ThisConfig.PlayerProcess, "vlc");
  EXPECT_STREQ(ThisConfig.CameraProcess[0], "rpicam-vid");
  EXPECT_STREQ(ThisConfig.CameraProcess[1], "");
  EXPECT_EQ(MenuText(0, 1), "B");
}

TEST_F(ReadConfigTest, FourCameraNamesAreTakenAndFiveRefused) {
  Read("CAMERA_PROCESSES=a b c d\n");
  EXPECT_EQ(CameraQueryCommandText(), "ps h -o cmd -C a -C b -C c -C d");
  Read("CAMERA_PROCESSES=a b c d e\n");
  EXPECT_EQ(CameraQueryCommandText(), CameraQueryCommand);
}

TEST_F(ReadConfigTest, LineWithAnUnsafeNameIsIgnoredWhole) {
  Read("CAMERA_PROCESSES=rpicam-vid x;reboot\nPLAYER_PROCESS=mpv player\n");
  EXPECT_EQ(CameraQueryCommandText(), CameraQueryCommand);
  EXPECT_EQ(PlayerQueryCommandText(), PlayerQueryCommand);
  Read(
      "CAMERA_PROCESSES=rpicam-vid\nCAMERA_PROCESSES=abcdefghijklmnop\nCAMERA_PROCESSES=\n"
      "PLAYER_PROCESS=mpv\nPLAYER_PROCESS=$(rm)\nPLAYER_PROCESS=\n");
  EXPECT_EQ(CameraQueryCommandText(), "ps h -o cmd -C rpicam-vid") << "the earlier line stays";
  EXPECT_EQ(PlayerQueryCommandText(), "ps h -o cmd -C mpv");
}

TEST_F(ReadConfigTest, LaterCameraLineReplacesTheWholeList) {
  Read("CAMERA_PROCESSES=a b c\nCAMERA_PROCESSES=d\n");
  EXPECT_EQ(CameraQueryCommandText(), "ps h -o cmd -C d");
}

TEST_F(ReadConfigTest, ProcessNamesReturnToTheBuiltInOnesOnEveryRead) {
  Read("CAMERA_PROCESSES=rpicam-still\nPLAYER_PROCESS=vlc\n");
  Read("BORDER_TOP=1\n");
  StopCameraTools();
  StopPlayer();
  EXPECT_EQ(world().Commands,
            (std::vector<std::string>{KillStillCommand, KillVideoCommand, KillPlayerCommand}));
  EXPECT_EQ(CameraQueryCommandText(), CameraQueryCommand);
  EXPECT_EQ(PlayerQueryCommandText(), PlayerQueryCommand);
}

}  // namespace
