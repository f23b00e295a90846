// The readable console palette: every colour pair the screens ask for reaches 4.5:1 under
// it, and it is set and taken back only on a Linux virtual console.
#include <linux/kd.h>

#include <cmath>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "app/Display.h"
#include "vt100/ConsolePalette.h"

namespace {

// The kernel's default palette, in the colour-map order.
const ConsoleColourMap KernelPalette = {0,  0,  0,   170, 0,  0,   0,  170, 0,   170, 85,  0,
                                        0,  0,  170, 170, 0,  170, 0,  170, 170, 170, 170, 170,
                                        85, 85, 85,  255, 85, 85,  85, 255, 85,  255, 255, 85,
                                        85, 85, 255, 255, 85, 255, 85, 255, 255, 255, 255, 255};

using ColourPair = std::pair<int, int>;  // foreground, background

// The pairs the bytes draw visible characters in, as the Linux console shows them: SGR 0
// gives its default white on black, bold makes a foreground 0-7 its bright colour 8-15.
std::set<ColourPair> PairsDrawn(const std::string& Bytes) {
  std::set<ColourPair> Pairs;
  int Foreground = 7;
  int Background = 0;
  bool Bold = false;
  for (std::size_t At = 0; At < Bytes.size(); ++At) {
    if (Bytes[At] == '\x1b' && At + 1 < Bytes.size() && Bytes[At + 1] == '[') {
      const std::size_t Final = Bytes.find_first_of("mfHJ", At + 2);
      if (Bytes[Final] == 'm') {
        const int Value = std::atoi(Bytes.c_str() + At + 2);
        if (Value == 0) Foreground = 7, Background = 0, Bold = false;
        if (Value == 1) Bold = true;
        if (Value >= 30 && Value <= 37) Foreground = Value - 30;
        if (Value >= 40 && Value <= 47) Background = Value - 40;
      }
      At = Final;
    } else if (Bytes[At] == '\x1b') {
      ++At;  // ESC 7, ESC 8
    } else if (Bytes[At] > ' ') {
      Pairs.insert({Foreground + (Bold && Foreground < 8 ? 8 : 0), Background});
    }
  }
  return Pairs;
}

double Luminance(const ConsoleColourMap& Map, int Colour) {
  double Sum = 0;
  const double Weights[] = {0.2126, 0.7152, 0.0722};
  for (int Channel = 0; Channel < 3; ++Channel) {
    const double Value = Map[static_cast<std::size_t>(3 * Colour + Channel)] / 255.0;
    const double Linear = Value <= 0.04045 ? Value / 12.92 : std::pow((Value + 0.055) / 1.055, 2.4);
    Sum += Weights[Channel] * Linear;
  }
  return Sum;
}

double Contrast(const ConsoleColourMap& Map, ColourPair Pair) {
  const double A = Luminance(Map, Pair.first);
  const double B = Luminance(Map, Pair.second);
  return (std::max(A, B) + 0.05) / (std::min(A, B) + 0.05);
}

class ConsolePaletteTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    DisplayWidth = 40;
    DisplayHeight = 15;
    ThisConfig.BorderTop = 1;
    ThisConfig.BorderLeft = 1;
    ThisConfig.ItemWidth = 20;
    ThisConfig.ItemHeight = 2;
    for (int Menu = 0; Menu < 3; ++Menu) {
      ThisConfig.Menu[Menu][0] = testsupport::HeapText("MENU");
      ThisConfig.Menu[Menu][1] = testsupport::HeapText("ITEM");
      ThisConfigSave.MenuSelection[Menu] = 1;
    }
    ThisConfigSave.MenuItemPos = 1;
    ThisConfig.DirList[0] = testsupport::HeapText("a.jpg");
    ThisConfig.DirList[1] = testsupport::HeapText("b.jpg");
  }
};

struct ColourMapCalls {
  bool IsConsole = true;
  bool SetRefused = false;
  std::vector<ConsoleColourMap> Set;  // every PIO_CMAP, in order
};
ColourMapCalls Calls;

int FakeColourMap(int File, unsigned long Request, void* Argument) {
  EXPECT_EQ(File, 1) << "the palette of standard output";
  auto* Map = static_cast<ConsoleColourMap*>(Argument);
  if (!Calls.IsConsole) return -1;
  if (Request == GIO_CMAP) {
    *Map = KernelPalette;
    return 0;
  }
  EXPECT_EQ(Request, static_cast<unsigned long>(PIO_CMAP));
  if (Calls.SetRefused) return -1;
  Calls.Set.push_back(*Map);
  return 0;
}

TEST_F(ConsolePaletteTest, EveryPairTheScreensDrawReachesFourAndAHalfToOne) {
  std::string Bytes;
  for (int Mode : {ModeIdle, ModeRecording, ModePlayList}) {
    ThisConfigSave.Mode = Mode;
    Bytes += ComposeDisplay(1, 6, ThisConfig, ThisConfigSave);
  }
  DisplayError("Failed to start timer.");
  Bytes += testsupport::TheWorld().Output;

  // Titles and the list, items, the highlighted title and item, status and clock, errors.
  const std::set<ColourPair> Expected = {{15, 0}, {7, 0}, {8, 3}, {0, 3}, {9, 7}, {15, 1}};
  ASSERT_EQ(PairsDrawn(Bytes), Expected) << "a new pair needs its contrast checked";
  const ConsoleColourMap Readable = ReadablePaletteOver(KernelPalette);
  for (const ColourPair& Pair : Expected) {
    EXPECT_GE(Contrast(Readable, Pair), 4.5)
        << Pair.first << " on " << Pair.second << "; the kernel's palette gives "
        << Contrast(KernelPalette, Pair);
  }
  EXPECT_LT(Contrast(KernelPalette, {8, 3}), 1.5) << "the fault the palette mends";
}

TEST_F(ConsolePaletteTest, ColoursTheScreenDoesNotUseStayAsFound) {
  const ConsoleColourMap Readable = ReadablePaletteOver(KernelPalette);
  for (int Colour : {2, 4, 5, 6, 10, 11, 12, 13, 14}) {
    for (int Channel = 0; Channel < 3; ++Channel) {
      const auto At = static_cast<std::size_t>(3 * Colour + Channel);
      EXPECT_EQ(Readable[At], KernelPalette[At]) << "colour " << Colour;
    }
  }
}

TEST_F(ConsolePaletteTest, SetOnAConsoleAndTheFoundOneBackOnce) {
  Platform.ControlDevice = FakeColourMap;
  struct Case {
    bool IsConsole;
    bool SetRefused;
    std::size_t SetCalls;  // the readable palette, then the found one back
  };
  for (const Case& Run : {Case{true, false, 2}, Case{false, false, 0}, Case{true, true, 0}}) {
    Calls = ColourMapCalls{Run.IsConsole, Run.SetRefused, {}};
    EXPECT_EQ(UseReadablePalette(), Run.SetCalls != 0);
    RestoreConsolePalette();
    RestoreConsolePalette();
    ASSERT_EQ(Calls.Set.size(), Run.SetCalls) << "console " << Run.IsConsole;
    if (Run.SetCalls == 0) continue;
    EXPECT_EQ(Calls.Set[0], ReadablePaletteOver(KernelPalette));
    EXPECT_EQ(Calls.Set[1], KernelPalette);
  }
}

}  // namespace
