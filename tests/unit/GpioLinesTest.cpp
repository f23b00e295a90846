// The kernel's GPIO lines against scripted chips: chip search, requests and their bias,
// refused lines, values, release, and the start-up reports on the error lines.
#include <linux/gpio.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Config.h"
#include "app/Display.h"
#include "app/MainLoop.h"
#include "app/SavedState.h"
#include "errors/ErrorLines.h"
#include "keys/KeyInput.h"
#include "pins/GpioLines.h"

namespace {

constexpr int FirstLineFile = 100;

struct FakeChip {
  std::string Path;
  std::string Label;  // up to 32 bytes; 32 leaves no terminator
  std::uint32_t Lines = 54;
  int OpenError = 0;
  bool InfoFails = false;  // opens, but does not say what it is
};

struct Requested {
  std::uint32_t Pin;
  std::uint64_t Flags;
  std::uint64_t OutputBits;  // the initial values of an output request
  std::string Consumer;
};

// The scripted chips and everything done to them.
struct ChipWorld {
  std::vector<FakeChip> Chips;
  std::set<std::uint32_t> Busy;
  bool RequestWithoutHandle = false;
  bool ReadsFail = false;
  std::vector<Requested> Requests;
  std::map<int, std::uint32_t> PinOfFile;
  std::map<std::uint32_t, int> Level;
  std::vector<std::pair<std::uint32_t, int>> Writes;
  std::vector<int> Open;  // open chip and line descriptors
};

ChipWorld& Fake() {
  static ChipWorld Instance;
  return Instance;
}

std::vector<std::string> FakeList() {
  std::vector<std::string> Paths;
  for (const FakeChip& Chip : Fake().Chips) Paths.push_back(Chip.Path);
  return Paths;
}

int FakeOpen(const char* Path) {
  for (std::size_t I = 0; I < Fake().Chips.size(); ++I) {
    const FakeChip& Chip = Fake().Chips[I];
    if (Chip.Path != Path) continue;
    if (Chip.OpenError != 0) {
      errno = Chip.OpenError;
      return -1;
    }
    Fake().Open.push_back(static_cast<int>(I));
    return static_cast<int>(I);
  }
  errno = ENOENT;
  return -1;
}

int LineRequest(gpio_v2_line_request* Request) {
  ChipWorld& W = Fake();
  const std::uint32_t Pin = Request->offsets[0];
  W.Requests.push_back(Requested{
      Pin, Request->config.flags,
      Request->config.num_attrs > 0 ? Request->config.attrs[0].attr.values : 0, Request->consumer});
  if (W.Busy.count(Pin) != 0) {
    errno = EBUSY;
    return -1;
  }
  if (W.RequestWithoutHandle) return 0;
  Request->fd = FirstLineFile + static_cast<int>(W.PinOfFile.size());
  W.PinOfFile[Request->fd] = Pin;
  W.Open.push_back(Request->fd);
  return 0;
}

int FakeControl(int File, unsigned long Request, void* Argument) {
  ChipWorld& W = Fake();
  if (Request == GPIO_GET_CHIPINFO_IOCTL) {
    auto* Info = static_cast<gpiochip_info*>(Argument);
    const FakeChip& Chip = W.Chips[static_cast<std::size_t>(File)];
    if (Chip.InfoFails) {
      errno = EIO;
      return -1;
    }
    std::memcpy(Info->label, Chip.Label.data(), std::min(Chip.Label.size(), sizeof Info->label));
    Info->lines = Chip.Lines;
    return 0;
  }
  if (Request == GPIO_V2_GET_LINE_IOCTL) {
    return LineRequest(static_cast<gpio_v2_line_request*>(Argument));
  }
  auto* Values = static_cast<gpio_v2_line_values*>(Argument);
  const std::uint32_t Pin = W.PinOfFile.at(File);
  if (Request == GPIO_V2_LINE_SET_VALUES_IOCTL) {
    W.Writes.emplace_back(Pin, static_cast<int>(Values->bits & Values->mask));
    return 0;
  }
  if (W.ReadsFail) {
    errno = EIO;
    return -1;
  }
  Values->bits = W.Level.count(Pin) != 0 ? static_cast<std::uint64_t>(W.Level[Pin]) : 1;
  return 0;
}

void FakeClose(int File) {
  auto& Open = Fake().Open;
  const auto Found = std::find(Open.begin(), Open.end(), File);
  ASSERT_NE(Found, Open.end()) << "closed twice or never opened: " << File;
  Open.erase(Found);
}

class GpioLinesTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    Fake() = ChipWorld{};
    Platform.ListGpioChips = FakeList;
    Platform.OpenDevice = FakeOpen;
    Platform.ControlDevice = FakeControl;
    Platform.CloseDevice = FakeClose;
  }

  bool OpenWith(const char* Choice, std::vector<std::uint32_t> Inputs,
                std::vector<std::uint32_t> Outputs) {
    return OpenGpioLines(Choice, Inputs.data(), static_cast<int>(Inputs.size()), Outputs.data(),
                         static_cast<int>(Outputs.size()));
  }
  std::vector<std::uint32_t> RequestedPins() const {
    std::vector<std::uint32_t> Pins;
    for (const Requested& R : Fake().Requests) Pins.push_back(R.Pin);
    return Pins;
  }
};

TEST_F(GpioLinesTest, ChipIsFoundByPiLabelOrByTheConfiguredPathOrLabel) {
  struct Case {
    const char* Choice;
    std::vector<FakeChip> Chips;
    bool Opened;
    std::uint32_t LinesOfChosen;
    std::string Output;
  };
  // Chips told apart by their line counts; a Mute one opens but cannot say what it is.
  const FakeChip Mockup{"/dev/gpiochip0", "gpio-mockup", 8};
  const FakeChip Pi4{"/dev/gpiochip1", "pinctrl-bcm2711", 58};
  const FakeChip Pi5{"/dev/gpiochip0", "pinctrl-rp1", 54};
  const FakeChip Brcmstb{"/dev/gpiochip10", "brcmstb", 32};
  const FakeChip Zero{"/dev/gpiochip0", "pinctrl-bcm2835", 54};
  const FakeChip Locked{"/dev/gpiochip0", "pinctrl-bcm2835", 54, EACCES};
  const FakeChip Mute{"/dev/gpiochip0", "pinctrl-bcm2835", 54, 0, true};
  const FakeChip Unterminated{"/dev/gpiochip0", std::string(32, 'x'), 54};
  const FakeChip Mock{"/dev/gpiochip1", "mock", 40};
  const FakeChip Zero53{"/dev/gpiochip1", "pinctrl-bcm2835", 53};
  const Case Cases[] = {
      {"", {}, false, 0, ""},
      {"", {Mockup, Pi4}, true, 58, ""},
      {"", {Pi5, Brcmstb}, true, 54, ""},
      {"", {Locked}, false, 0, "GPIO chip /dev/gpiochip0: Permission denied\n"},
      {"", {Unterminated}, false, 0, ""},
      {"", {Mute, Zero53}, true, 53, ""},
      {"/dev/gpiochip1", {Zero, Mock}, true, 40, ""},
      {"/dev/gpiochip7", {}, false, 0, "GPIO chip /dev/gpiochip7: No such file or directory\n"},
      {"mock", {Zero, Mock}, true, 40, ""},
      {"pinctrl-rp1", {Zero}, false, 0, "GPIO chip pinctrl-rp1: not found\n"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(std::string("choice '") + C.Choice + "', " + std::to_string(C.Chips.size()) +
                 " chip(s)");
    SetUp();
    Fake().Chips = C.Chips;
    EXPECT_EQ(OpenWith(C.Choice, {}, {C.LinesOfChosen - 1}), C.Opened);
    EXPECT_EQ(GpioLinesOpen(), C.Opened);
    EXPECT_EQ(world().Output, C.Output);
    if (C.Opened) {
      EXPECT_EQ(RequestedPins(), std::vector<std::uint32_t>{C.LinesOfChosen - 1});
    }
    // Only the line request stays open: every chip searched is closed again.
    EXPECT_EQ(Fake().Open.size(), C.Opened ? 1u : 0u);
    CloseGpioLines();
  }
}

TEST_F(GpioLinesTest, InputsArePulledUpAndOutputsDrivenHighOnePinPerRequest) {
  Fake().Chips = {{"/dev/gpiochip0", "pinctrl-bcm2835"}};
  ASSERT_TRUE(OpenWith("", {5, NoPin, 6, 18, 5}, {16, 18, NoPin, 16}));
  // The pin listed both ways is an output only; no pin is asked for twice.
  EXPECT_EQ(RequestedPins(), (std::vector<std::uint32_t>{5, 6, 16, 18}));
  const std::uint64_t In = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
  for (const Requested& R : Fake().Requests) {
    SCOPED_TRACE(R.Pin);
    EXPECT_EQ(R.Consumer, "harrowlight");
    const bool Output = R.Pin == 16 || R.Pin == 18;
    EXPECT_EQ(R.Flags, Output ? std::uint64_t{GPIO_V2_LINE_FLAG_OUTPUT} : In);
    EXPECT_EQ(R.OutputBits, Output ? 1u : 0u);
  }
  EXPECT_EQ(world().Output, "");
}

TEST_F(GpioLinesTest, RefusedLinesAreReportedByPinAndTheOthersStillWork) {
  Fake().Chips = {{"/dev/gpiochip0", "pinctrl-bcm2835"}};
  Fake().Busy = {17};
  ASSERT_TRUE(OpenWith("", {17, 5}, {54, 16}));
  EXPECT_EQ(world().Output,
            "GPIO 17: in use by another program or a driver\n"
            "GPIO 54: not on pinctrl-bcm2835 (lines 0-53)\n");
  Fake().Level[5] = 0;
  EXPECT_EQ(GpioLineLevel(5), 0);
  EXPECT_EQ(GpioLineLevel(17), 1) << "a line not held must not read as a pressed button";
  SetGpioLine(16, 0);
  SetGpioLine(17, 0);
  SetGpioLine(54, 1);
  EXPECT_EQ(Fake().Writes, (std::vector<std::pair<std::uint32_t, int>>{{16, 0}}));

  // A request that answers without a handle leaves the pin out as well.
  SetUp();
  Fake().Chips = {{"/dev/gpiochip0", "pinctrl-bcm2835"}};
  Fake().RequestWithoutHandle = true;
  ASSERT_TRUE(OpenWith("", {5}, {}));
  EXPECT_EQ(world().Output, "GPIO 5: Input/output error\n");
}

TEST_F(GpioLinesTest, ValuesGoThroughTheRequestsAndFailedReadsCountAsReleased) {
  Fake().Chips = {{"/dev/gpiochip0", "pinctrl-bcm2835"}};
  ASSERT_TRUE(OpenWith("", {22}, {16}));
  SetGpioLine(16, 1);
  SetGpioLine(16, 0);
  EXPECT_EQ(Fake().Writes, (std::vector<std::pair<std::uint32_t, int>>{{16, 1}, {16, 0}}));
  Fake().Level[22] = 0;
  EXPECT_EQ(GpioLineLevel(22), 0);
  Fake().ReadsFail = true;
  EXPECT_EQ(GpioLineLevel(22), 1);
  CloseGpioLines();
  EXPECT_TRUE(Fake().Open.empty());
  EXPECT_FALSE(GpioLinesOpen());
}

// Without a register page the configuration's pins, its outputs and buttons go through
// the lines of the chip the configuration names.
TEST_F(GpioLinesTest, ConfigurationDrivesOutputsAndReadsButtonsThroughTheLines) {
  Fake().Chips = {{"/dev/gpiochip0", "pinctrl-bcm2835"}, {"/dev/gpiochip1", "other", 32}};
  testsupport::ScratchDirectory Dir("gpiolines");
  const std::string Ini = Dir.File("Harrowlight.ini");
  std::FILE* File = std::fopen(Ini.c_str(), "w");
  ASSERT_NE(File, nullptr);
  std::fputs("GPIO_CHIP = other\nSWITCH_6=31\nOUT_SWITCH_1=16\nGPIO_LED=0\n", File);
  std::fclose(File);
  ReadConfig(Ini.c_str());
  EXPECT_STREQ(ThisConfig.GpioChip, "other");
  EXPECT_EQ(RequestedPins(), (std::vector<std::uint32_t>{31, 16}));
  ClearOutSwitch(ThisConfig.GPIO_LED);
  EXPECT_EQ(Fake().Writes, (std::vector<std::pair<std::uint32_t, int>>{{16, 0}}));
  Fake().Level[31] = 0;
  char Keys[KeyBufferSize] = {};
  GetKeys(Keys, 0, 0);
  EXPECT_STREQ(Keys, " ");
}

class StartUpReportTest : public testsupport::HarrowlightTest {};

TEST_F(StartUpReportTest, ReportsFollowEveryRedrawUntilTheFirstKey) {
  DisplayWidth = 21;  // the first report's length: the second is filled with blanks
  DisplayHeight = 3;
  ReportAtStartUp("Failed to open memory\n");
  ReportAtStartUp("GPIO %u: gone\n", 5u);
  KeepErrorLine("third, beyond the last free line");
  EXPECT_EQ(world().Output, "Failed to open memory\nGPIO 5: gone\n");

  const std::string Redraw = ComposeDisplay(1, 1, ThisConfig, ThisConfigSave);
  for (int Round = 0; Round < 2; ++Round) {
    world().Output.clear();
    UpdateDisplay(1, 1, &ThisConfig, &ThisConfigSave);
    EXPECT_EQ(world().Output, Redraw +
                                  "\x1b[1;1f\x1b"
                                  "7\x1b[1m\x1b[37m\x1b[41mFailed to open memory\n\x1b"
                                  "8"
                                  "\x1b[2;1f\x1b"
                                  "7\x1b[1m\x1b[37m\x1b[41mGPIO 5: gone         \n\x1b"
                                  "8"
                                  "\x1b[H");
  }
  Refresh = 0;
  LoopIteration();
  EXPECT_EQ(KeptErrorLines().size(), 3u) << "an iteration without a key keeps them";
  world().Input = {'x'};
  LoopIteration();
  EXPECT_TRUE(KeptErrorLines().empty());
  EXPECT_NE(Refresh, 0) << "the screen is redrawn without the reports";
}

TEST_F(StartUpReportTest, MissingStateFileIsTheFirstRunAndOnlyOtherFailuresAreKept) {
  testsupport::ScratchDirectory Dir("startup");
  LoadConfigBinary(Dir.File("CONFIG.DAT").c_str());
  EXPECT_TRUE(KeptErrorLines().empty());
  std::fclose(std::fopen(Dir.File("plain").c_str(), "w"));
  LoadConfigBinary(Dir.File("plain/CONFIG.DAT").c_str());
  EXPECT_FALSE(KeptErrorLines().empty());
}

}  // namespace
