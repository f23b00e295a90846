// Tests of the GPIO and mini-UART register access: field arithmetic on a plain register
// page, and the exact order and count of accesses through a recording bus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "rpi_gpio/RPi_GPIO.h"
#include "rpi_gpio/RegisterOps.h"

namespace {

using Log = std::vector<std::string>;

std::string Hex(std::uint32_t Value) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "%X", Value);
  return Text;
}

// A register bus that appends every access to a shared log ("G R 34", "G W 94=2",
// "G wait") and answers reads from a script first, then from the last value written.
class RecordingBus {
 public:
  RecordingBus(std::string Name, Log& Entries) : Name_(std::move(Name)), Log_(Entries) {}

  std::uint32_t Read(std::uint32_t Offset) {
    Log_.push_back(Name_ + " R " + Hex(Offset));
    std::deque<std::uint32_t>& Script = Scripted[Offset];
    if (Script.empty()) return Registers[Offset];
    const std::uint32_t Value = Script.front();
    Script.pop_front();
    return Value;
  }
  void Write(std::uint32_t Offset, std::uint32_t Value) {
    Log_.push_back(Name_ + " W " + Hex(Offset) + "=" + Hex(Value));
    Registers[Offset] = Value;
  }
  void Wait() { Log_.push_back(Name_ + " wait"); }

  std::map<std::uint32_t, std::uint32_t> Registers;
  std::map<std::uint32_t, std::deque<std::uint32_t>> Scripted;

 private:
  std::string Name_;
  Log& Log_;
};

// A GPIO page as plain memory: 1024 words, word index = byte offset / 4.
class RegisterPageTest : public ::testing::Test {
 protected:
  std::uint32_t Page[1024] = {};
  std::uint32_t AuxPage[1024] = {};
  RegisterBase Base() { return Page; }
  RegisterBase Aux() { return AuxPage; }
  std::uint32_t& Word(std::uint32_t Offset) { return Page[Offset / 4]; }
};

TEST_F(RegisterPageTest, FunctionFieldsSitWherePinNumbersSay) {
  for (std::uint32_t& W : Page) W = 0x3FFFFFFF;  // every field 111
  const std::uint32_t Pins[] = {9, 10, 53};
  GPIO_MakeOutput(Base(), Pins, 3);
  EXPECT_EQ(Word(0x00), (0x3FFFFFFFu & ~(7u << 27)) | (1u << 27));
  EXPECT_EQ(Word(0x04), (0x3FFFFFFFu & ~7u) | 1u);
  EXPECT_EQ(Word(0x14), (0x3FFFFFFFu & ~(7u << 9)) | (1u << 9));

  GPIO_MakeInput(Base(), Pins, 3);
  EXPECT_EQ(Word(0x00), 0x3FFFFFFFu & ~(7u << 27));
  EXPECT_EQ(Word(0x04), 0x3FFFFFFFu & ~7u);
  EXPECT_EQ(Word(0x14), 0x3FFFFFFFu & ~(7u << 9));
}

TEST_F(RegisterPageTest, PinsWithoutFieldChangeNothing) {
  for (std::uint32_t I = 0; I < 1024; ++I) Page[I] = I * 2654435761u;
  std::vector<std::uint32_t> Before(Page, Page + 1024);
  const std::uint32_t Pins[] = {54, NoPin, 1000};
  GPIO_MakeOutput(Base(), Pins, 3);
  GPIO_MakeInput(Base(), Pins, 3);
  EXPECT_EQ(std::vector<std::uint32_t>(Page, Page + 1024), Before);
}

TEST_F(RegisterPageTest, SingleWritesUseThePinMask) {
  GPIO_SetPin(Base(), 0);
  EXPECT_EQ(Word(0x1C), 1u);
  GPIO_SetPin(Base(), 31);
  EXPECT_EQ(Word(0x1C), 0x80000000u);
  GPIO_SetPin(Base(), 40);
  EXPECT_EQ(Word(0x1C), 0u);
  GPIO_ClearPin(Base(), 17);
  EXPECT_EQ(Word(0x28), 0x20000u);
  GPIO_ClearPin(Base(), NoPin);
  EXPECT_EQ(Word(0x28), 0u);
}

TEST_F(RegisterPageTest, LevelReadsTheBitOfThePin) {
  Word(0x34) = 0x80000010u;
  EXPECT_EQ(GPIO_GetLevel(Base(), 4), 1);
  EXPECT_EQ(GPIO_GetLevel(Base(), 5), 0);
  EXPECT_EQ(GPIO_GetLevel(Base(), 31), 1);
  Word(0x34) = 0xFFFFFFFFu;
  EXPECT_EQ(GPIO_GetLevel(Base(), 40), 0);
  EXPECT_EQ(GPIO_GetLevel(Base(), NoPin), 0);
}

TEST_F(RegisterPageTest, PinInBothListsEndsAsOutput) {
  const std::uint32_t Pins[] = {22};
  ConfigGPIO(Base(), nullptr, Pins, 1, Pins, 1, 0);
  EXPECT_EQ((Word(0x08) >> 6) & 7u, 1u);
}

TEST_F(RegisterPageTest, UartSetUpWinsOverThePinListsAndProgramsTheAuxPage) {
  AuxPage[0x04 / 4] = 0x2;
  AuxPage[0x48 / 4] = 0xC1;
  const std::uint32_t Pins[] = {14, 15};
  ConfigGPIO(Base(), Aux(), Pins, 2, Pins, 2, 1);
  EXPECT_EQ((Word(0x04) >> 12) & 7u, 2u);
  EXPECT_EQ((Word(0x04) >> 15) & 7u, 2u);
  EXPECT_EQ(AuxPage[0x04 / 4], 0x3u);
  EXPECT_EQ(AuxPage[0x4C / 4], 3u);
  EXPECT_EQ(AuxPage[0x68 / 4], 1627u);
  EXPECT_EQ(AuxPage[0x48 / 4], 0xC7u);
  EXPECT_EQ(AuxPage[0x60 / 4], 7u);
}

TEST_F(RegisterPageTest, PullControlIsOffAfterwards) {
  const std::uint32_t Inputs[] = {4, 40};
  ConfigGPIO(Base(), nullptr, Inputs, 2, nullptr, 0, 0);
  EXPECT_EQ(Word(0x94), 0u);
  EXPECT_EQ(Word(0x98), 0u);
  EXPECT_EQ(Word(0x9C), 0u);
}

TEST(UnmappedBlockTest, OperationsOnNullBaseDoNothing) {
  const std::uint32_t Pins[] = {4};
  ConfigGPIO(nullptr, nullptr, Pins, 1, Pins, 1, 1);
  GPIO_MakeInput(nullptr, Pins, 1);
  GPIO_MakeOutput(nullptr, Pins, 1);
  GPIO_SetPin(nullptr, 4);
  GPIO_ClearPin(nullptr, 4);
  EXPECT_EQ(GPIO_GetLevel(nullptr, 4), 1);  // a released, pulled-up line
  AUX_UART_Transmit(nullptr, Pins, 1);
  EXPECT_EQ(AUX_UART_DataReady(nullptr), 0);
}

TEST(UnmappedBlockTest, UartSetUpIsSkippedWithoutAuxPage) {
  std::uint32_t Page[1024] = {};
  ConfigGPIO(Page, nullptr, nullptr, 0, nullptr, 0, 1);
  EXPECT_EQ(Page[0x04 / 4], 0u);  // pins 14 and 15 untouched
}

class RegisterOrderTest : public ::testing::Test {
 protected:
  Log Entries;
  RecordingBus Gpio{"G", Entries};
  RecordingBus Aux{"A", Entries};

  void Config(std::vector<std::uint32_t> Inputs, std::vector<std::uint32_t> Outputs,
              bool Uart = false) {
    gpio_regs::ConfigPins(Gpio, Aux, Inputs.data(), static_cast<int>(Inputs.size()), Outputs.data(),
                          static_cast<int>(Outputs.size()), Uart);
  }
};

const Log PullPreamble = {"G R 34", "G W 94=2", "G wait"};
const Log PullEpilogue = {"G wait", "G W 94=0", "G W 98=0", "G W 9C=0"};

Log Join(std::initializer_list<Log> Parts) {
  Log All;
  for (const Log& Part : Parts) All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

TEST_F(RegisterOrderTest, EmptyListsStillRunThePullSequence) {
  Config({}, {});
  EXPECT_EQ(Entries, Join({PullPreamble, PullEpilogue}));
}

TEST_F(RegisterOrderTest, NegativeCountsProcessNoEntry) {
  const std::uint32_t Pins[] = {4};
  gpio_regs::ConfigPins(Gpio, Aux, Pins, -1, Pins, -5, false);
  EXPECT_EQ(Entries, Join({PullPreamble, PullEpilogue}));
}

TEST_F(RegisterOrderTest, InputClockWordsAreWrittenOneAtATime) {
  Gpio.Registers[0x04] = 0x00E00000;  // pin 17 field 111
  Config({4, 17}, {});
  EXPECT_EQ(Entries, Join({PullPreamble,
                           {"G R 0", "G W 0=0", "G W 98=10", "G wait", "G R 4", "G W 4=0",
                            "G W 98=20000", "G wait"},
                           PullEpilogue}));
}

TEST_F(RegisterOrderTest, InputClockBankFollowsPinNumber) {
  Config({31, 32, NoPin, 54}, {});
  EXPECT_EQ(Entries, Join({PullPreamble,
                           {"G R C", "G W C=0", "G W 98=80000000", "G wait", "G R C", "G W C=0",
                            "G W 9C=1", "G wait"},
                           PullEpilogue}));
}

TEST_F(RegisterOrderTest, OutputsTakeTwoFunctionWritesAndNoPullClock) {
  Config({}, {5, 40, NoPin});
  EXPECT_EQ(Entries, Join({PullPreamble,
                           {"G R 0", "G W 0=0", "G R 0", "G W 0=8000", "G W 98=0", "G R 10",
                            "G W 10=0", "G R 10", "G W 10=1", "G W 9C=0"},
                           PullEpilogue}));
}

TEST_F(RegisterOrderTest, UartSetUpFollowsThePullSequence) {
  Gpio.Registers[0x04] = 0x3F000;
  Aux.Registers[0x48] = 0xC0;
  Config({}, {}, true);
  EXPECT_EQ(Entries, Join({PullPreamble,
                           PullEpilogue,
                           {"G R 4", "G W 4=38000", "G R 4", "G W 4=3A000", "G R 4", "G W 4=2000",
                            "G R 4", "G W 4=12000", "A R 4", "A W 4=1", "A W 4C=3", "A W 68=65B",
                            "A R 48", "A W 48=C6", "A W 60=7"}}));
}

TEST_F(RegisterOrderTest, MakeInputAndOutputSkipThePullSequence) {
  const std::uint32_t Pins[] = {NoPin, 2};
  gpio_regs::MakeInputs(Gpio, Pins, 2);
  EXPECT_EQ(Entries, (Log{"G R 0", "G W 0=0", "G wait"}));
  Entries.clear();
  gpio_regs::MakeOutputs(Gpio, Pins, 2);
  EXPECT_EQ(Entries, (Log{"G R 0", "G W 0=0", "G R 0", "G W 0=40", "G wait"}));
}

TEST_F(RegisterOrderTest, SinglePinOperationsAreOneAccessEach) {
  gpio_regs::SetPin(Gpio, 3);
  gpio_regs::ClearPin(Gpio, 3);
  Gpio.Scripted[0x34] = {0x8, 0x0};
  EXPECT_EQ(gpio_regs::GetLevel(Gpio, 3), 1);
  EXPECT_EQ(gpio_regs::GetLevel(Gpio, 3), 0);  // read afresh every time
  EXPECT_EQ(Entries, (Log{"G W 1C=8", "G W 28=8", "G R 34", "G R 34"}));
}

class MiniUartTest : public RegisterOrderTest {
 protected:
  void SetUp() override { ResetRing(); }
  void TearDown() override { ResetRing(); }
  static void ResetRing() {
    UartBuffPos = 0;
    UartBuffReadPos = 0;
  }
  // Scripts `Bytes` as waiting in the receive FIFO.
  void QueueReceived(const std::vector<std::uint32_t>& Bytes) {
    Aux.Scripted[0x64].push_back(0);  // the throw-away read
    for (std::uint32_t Byte : Bytes) {
      Aux.Scripted[0x64].push_back(1);
      Aux.Scripted[0x40].push_back(Byte);
    }
    Aux.Scripted[0x64].push_back(0);
  }
};

TEST_F(MiniUartTest, TransmitWritesEachValueAfterOneStatusReadWhenThereIsRoom) {
  const std::uint32_t Data[] = {0x41, 0x142, 0x43};
  gpio_regs::UartTransmit(Aux, Data, 3);
  EXPECT_EQ(Entries, (Log{"A R 64", "A W 40=41", "A R 64", "A W 40=142", "A R 64", "A W 40=43"}));
}

TEST_F(MiniUartTest, TransmitWaitsWhileTheFifoIsFull) {
  Aux.Scripted[0x64] = {0x21, 0x20, 0x01};
  const std::uint32_t Data[] = {0x55};
  gpio_regs::UartTransmit(Aux, Data, 1);
  EXPECT_EQ(Entries, (Log{"A R 64", "A R 64", "A R 64", "A W 40=55"}));
}

TEST_F(MiniUartTest, TransmitWithNoCountTouchesNothing) {
  const std::uint32_t Data[] = {1};
  gpio_regs::UartTransmit(Aux, Data, 0);
  gpio_regs::UartTransmit(Aux, Data, -3);
  EXPECT_TRUE(Entries.empty());
}

TEST_F(MiniUartTest, DataReadyUsesTheSecondStatusRead) {
  Aux.Scripted[0x64] = {0x01, 0x20, 0x00, 0x21};
  EXPECT_EQ(gpio_regs::UartDataReady(Aux), 0);
  EXPECT_EQ(gpio_regs::UartDataReady(Aux), 1);
  EXPECT_EQ(Entries, (Log{"A R 64", "A R 64", "A R 64", "A R 64"}));
}

TEST_F(MiniUartTest, ReceiveWithEmptyFifoReadsStatusTwice) {
  QueueReceived({});
  gpio_regs::UartReceive(Aux);
  EXPECT_EQ(Entries, (Log{"A R 64", "A R 64"}));
  EXPECT_EQ(AUX_UART_GetDataSize(), 0);
  EXPECT_EQ(UartBuffPos, 0);
}

TEST_F(MiniUartTest, ReceivedBytesComeOutInArrivalOrder) {
  std::vector<std::uint32_t> Bytes;
  for (std::uint32_t I = 0; I < 10; ++I) Bytes.push_back(0x100 + I * 17);  // low 8 bits kept
  QueueReceived(Bytes);
  gpio_regs::UartReceive(Aux);
  ASSERT_EQ(AUX_UART_GetDataSize(), 10);
  for (std::uint32_t Byte : Bytes) EXPECT_EQ(AUX_UART_GetData(), static_cast<int>(Byte & 0xFF));
  EXPECT_EQ(AUX_UART_GetDataSize(), 0);
}

TEST_F(MiniUartTest, SizeCountsAcrossTheWrap) {
  UartBuffPos = 5;
  UartBuffReadPos = 4096 - 6;
  EXPECT_EQ(AUX_UART_GetDataSize(), 12);
}

TEST_F(MiniUartTest, IndexesWrapAfterTheLastSlot) {
  UartBuffPos = 4096;
  UartBuffReadPos = 4096;
  QueueReceived({7, 8});
  gpio_regs::UartReceive(Aux);
  EXPECT_EQ(UartBuffPos, 1);
  EXPECT_EQ(AUX_UART_GetDataSize(), 2);
  EXPECT_EQ(AUX_UART_GetData(), 7);
  EXPECT_EQ(UartBuffReadPos, 0);
  EXPECT_EQ(AUX_UART_GetData(), 8);
  EXPECT_EQ(AUX_UART_GetDataSize(), 0);
}

TEST_F(MiniUartTest, FullTurnOfTheRingReadsAsEmpty) {
  QueueReceived(std::vector<std::uint32_t>(4097, 0xAA));
  gpio_regs::UartReceive(Aux);
  EXPECT_EQ(UartBuffPos, UartBuffReadPos);
  EXPECT_EQ(AUX_UART_GetDataSize(), 0);
}

TEST_F(MiniUartTest, TakingFromEmptyRingKeepsItEmpty) {
  EXPECT_EQ(AUX_UART_GetData(), 0);
  EXPECT_EQ(AUX_UART_GetDataSize(), 0);
  EXPECT_EQ(UartBuffReadPos, 0);
}

// A temporary regular file of one page, removed at the end of the test.
class MapGpioMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/harrowlight-map-XXXXXX";
    const int File = mkstemp(Template);
    ASSERT_GE(File, 0);
    Path = Template;
    std::vector<std::uint32_t> Words(1024);
    for (std::uint32_t I = 0; I < 1024; ++I) Words[I] = 0xA5000000u + I;
    ASSERT_EQ(write(File, Words.data(), 4096), 4096);
    close(File);
  }
  void TearDown() override { unlink(Path.c_str()); }
  std::string Path;
};

TEST_F(MapGpioMemoryTest, MapsThePageOfTheFileAtAnAlignedAddress) {
  const int File = open(Path.c_str(), O_RDWR);
  ASSERT_GE(File, 0);
  RegisterBase Base = MapGpioMemory(File, 0);
  ASSERT_NE(Base, nullptr);
  // Aligned for cores whose caches alias, which need 16 KiB, not only a page.
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(Base) % 16384, 0u);
  EXPECT_EQ(Base[0x34 / 4], 0xA500000Du);
  EXPECT_EQ(Base[1023], 0xA50003FFu);

  Base[0x1C / 4] = 0x12345678u;  // shared: the write reaches the file
  std::uint32_t Stored = 0;
  ASSERT_EQ(pread(File, &Stored, sizeof Stored, 0x1C), static_cast<ssize_t>(sizeof Stored));
  EXPECT_EQ(Stored, 0x12345678u);
  close(File);
}

TEST_F(MapGpioMemoryTest, RefusedMappingPrintsMinusOneAndGivesNull) {
  const int File = open(Path.c_str(), O_RDONLY);  // cannot back a writable shared map
  ASSERT_GE(File, 0);
  ::testing::internal::CaptureStdout();
  RegisterBase Base = MapGpioMemory(File, 0);
  const std::string Output = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(Base, nullptr);
  EXPECT_EQ(Output, "Failed to map memory -1\n");
  close(File);
}

TEST_F(MapGpioMemoryTest, BadDescriptorIsRefusedToo) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(MapGpioMemory(-1, 0), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed to map memory -1\n");
}

}  // namespace
