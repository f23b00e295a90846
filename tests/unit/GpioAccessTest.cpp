// Tests of recognising the Raspberry Pi chips and their GPIO page from recorded machine
// descriptions, of choosing the device to map it through, and of refusing to map the page
// anywhere else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "pins/GpioAccess.h"

namespace {

using namespace std::string_literals;

// Device-tree compatible lists as the boards report them (NUL-separated, NUL-ended).
const std::string Pi1Compatible = "raspberrypi,model-b-plus\0brcm,bcm2835\0"s;
const std::string PiZeroCompatible = "raspberrypi,model-zero-w\0brcm,bcm2835\0"s;
const std::string Pi2Compatible = "raspberrypi,2-model-b\0brcm,bcm2836\0"s;
const std::string Pi3Compatible = "raspberrypi,3-model-b-plus\0brcm,bcm2837\0"s;
const std::string Pi4Compatible = "raspberrypi,4-model-b\0brcm,bcm2711\0"s;
const std::string Pi5Compatible = "raspberrypi,5-model-b\0brcm,bcm2712\0"s;

const std::string Pi1CpuInfo =
    "processor\t: 0\n"
    "model name\t: ARMv6-compatible processor rev 7 (v6l)\n"
    "BogoMIPS\t: 697.95\n"
    "Features\t: half thumb fastmult vfp edsp java tls \n"
    "CPU architecture: 7\n"
    "\n"
    "Hardware\t: BCM2835\n"
    "Revision\t: 0010\n";
const std::string Pi1OldKernelCpuInfo =
    "Processor\t: ARMv6-compatible processor rev 7 (v6l)\n"
    "BogoMIPS\t: 2.00\n"
    "Hardware\t: BCM2708\n"
    "Revision\t: 000e\n";
const std::string Pi2CpuInfo =
    "processor\t: 0\n"
    "model name\t: ARMv7 Processor rev 5 (v7l)\n"
    "processor\t: 1\n"
    "model name\t: ARMv7 Processor rev 5 (v7l)\n"
    "Hardware\t: BCM2835\n"
    "Revision\t: a01041\n";
const std::string Pi2OldKernelCpuInfo =
    "processor\t: 0\n"
    "model name\t: ARMv7 Processor rev 5 (v7l)\n"
    "Hardware\t: BCM2709\n";
const std::string PcCpuInfo =
    "processor\t: 0\n"
    "vendor_id\t: GenuineIntel\n"
    "model name\t: Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz\n"
    "flags\t\t: fpu vme de pse tsc msr pae\n";

TEST(IsBcm2835Test, DeviceTreeOfFirstChipIsRecognised) {
  EXPECT_TRUE(IsBcm2835(Pi1Compatible, ""));
  EXPECT_TRUE(IsBcm2835(PiZeroCompatible, PcCpuInfo));  // the device tree decides alone
  EXPECT_TRUE(IsBcm2835("brcm,bcm2708\0"s, ""));
}

TEST(IsBcm2835Test, DeviceTreeOfLaterChipsIsRefused) {
  for (const std::string& Compatible :
       {Pi2Compatible, Pi3Compatible, Pi4Compatible, Pi5Compatible}) {
    EXPECT_FALSE(IsBcm2835(Compatible, Pi1CpuInfo)) << Compatible;
  }
  // A later chip listed beside the first one still means a later board.
  EXPECT_FALSE(IsBcm2835("raspberrypi,2-model-b\0brcm,bcm2836\0brcm,bcm2835\0"s, ""));
  EXPECT_FALSE(IsBcm2835("brcm,bcm2709\0brcm,bcm2835\0"s, ""));
}

TEST(IsBcm2835Test, DeviceTreeNamesMustMatchWhole) {
  EXPECT_FALSE(IsBcm2835("brcm,bcm28350\0"s, ""));
  EXPECT_FALSE(IsBcm2835("xbrcm,bcm2835"s, ""));
  EXPECT_FALSE(IsBcm2835("vendor,other-board\0"s, Pi1CpuInfo));
}

TEST(IsBcm2835Test, CpuInfoDecidesWithoutDeviceTree) {
  EXPECT_TRUE(IsBcm2835("", Pi1CpuInfo));
  EXPECT_TRUE(IsBcm2835("", Pi1OldKernelCpuInfo));
  EXPECT_FALSE(IsBcm2835("", Pi2CpuInfo));
  EXPECT_FALSE(IsBcm2835("", Pi2OldKernelCpuInfo));
  EXPECT_FALSE(IsBcm2835("", PcCpuInfo));
}

TEST(IsBcm2835Test, CpuInfoNeedsTheHardwareLineItself) {
  EXPECT_FALSE(IsBcm2835("", "model name\t: ARMv6-compatible processor rev 7 (v6l)\n"));
  EXPECT_FALSE(IsBcm2835("", "Hardware\t: BCM2835\n"));
  EXPECT_FALSE(IsBcm2835("", "Features\t: BCM2708\nmodel name\t: ARMv6\n"));
  EXPECT_TRUE(IsBcm2835("", "Hardware : BCM2835\r\nProcessor : ARMv6 (v6l)\r\n"));
}

TEST(IsBcm2835Test, NothingKnownIsNotABcm2835) {
  EXPECT_FALSE(IsBcm2835("", ""));
}

TEST(ReadWholeFileTest, KeepsNulBytesAndGivesEmptyForMissingFile) {
  char Path[] = "/tmp/harrowlight-compatible-XXXXXX";
  const int File = mkstemp(Path);
  ASSERT_GE(File, 0);
  ASSERT_EQ(write(File, Pi1Compatible.data(), Pi1Compatible.size()),
            static_cast<ssize_t>(Pi1Compatible.size()));
  close(File);
  EXPECT_EQ(ReadWholeFile(Path), Pi1Compatible);
  unlink(Path);
  EXPECT_EQ(ReadWholeFile(Path), "");
}

// The bytes of a device tree's "ranges" property: big-endian 32-bit cells.
std::string RangesOf(std::initializer_list<std::uint32_t> Cells) {
  std::string Bytes;
  for (std::uint32_t Cell : Cells) {
    for (int Shift = 24; Shift >= 0; Shift -= 8) {
      Bytes.push_back(static_cast<char>((Cell >> Shift) & 0xFFu));
    }
  }
  return Bytes;
}

// /proc/device-tree/soc/ranges as each board reports it: the bus address 0x7E000000, the
// CPU's physical address (one cell, or two on the BCM2711 and BCM2712), the size, and
// further windows after it.
const std::string Pi1Ranges =
    RangesOf({0x7E000000, 0x20000000, 0x01000000, 0x40000000, 0x40000000, 0x00001000});
const std::string PiZeroRanges = RangesOf({0x7E000000, 0x20000000, 0x02000000});
const std::string Pi2Ranges =
    RangesOf({0x7E000000, 0x3F000000, 0x01000000, 0x40000000, 0x40000000, 0x00001000});
const std::string Pi3Ranges = Pi2Ranges;
const std::string Pi4Ranges =
    RangesOf({0x7E000000, 0x0, 0xFE000000, 0x01800000, 0x7C000000, 0x0, 0xFC000000, 0x02000000});
const std::string Pi5Ranges = RangesOf({0x0, 0x10, 0x0, 0x80000000});

TEST(ChipFromCompatibleTest, EachBoardNamesItsChip) {
  EXPECT_EQ(ChipFromCompatible(Pi1Compatible), PiChip::Bcm2835);
  EXPECT_EQ(ChipFromCompatible(PiZeroCompatible), PiChip::Bcm2835);
  EXPECT_EQ(ChipFromCompatible(Pi2Compatible), PiChip::Bcm2836);
  EXPECT_EQ(ChipFromCompatible(Pi3Compatible), PiChip::Bcm2837);
  EXPECT_EQ(ChipFromCompatible(Pi4Compatible), PiChip::Bcm2711);
  EXPECT_EQ(ChipFromCompatible("raspberrypi,model-zero-2-w\0brcm,bcm2837\0"s), PiChip::Bcm2837);
}

TEST(ChipFromCompatibleTest, OlderKernelNamesAreKnown) {
  EXPECT_EQ(ChipFromCompatible("brcm,bcm2708\0"s), PiChip::Bcm2835);
  EXPECT_EQ(ChipFromCompatible("raspberrypi,2-model-b\0brcm,bcm2709\0"s), PiChip::Bcm2836);
  EXPECT_EQ(ChipFromCompatible("raspberrypi,3-model-b\0brcm,bcm2710\0"s), PiChip::Bcm2837);
  EXPECT_EQ(ChipFromCompatible("raspberrypi,4-model-b\0brcm,bcm2838\0"s), PiChip::Bcm2711);
}

TEST(ChipFromCompatibleTest, NewestListedChipWins) {
  EXPECT_EQ(ChipFromCompatible("brcm,bcm2836\0brcm,bcm2835\0"s), PiChip::Bcm2836);
  EXPECT_EQ(ChipFromCompatible("brcm,bcm2835\0brcm,bcm2837\0"s), PiChip::Bcm2837);
  EXPECT_EQ(ChipFromCompatible("brcm,bcm2712\0brcm,bcm2711\0"s), PiChip::None);
}

TEST(ChipFromCompatibleTest, Pi5AndOtherMachinesAreNone) {
  EXPECT_EQ(ChipFromCompatible(Pi5Compatible), PiChip::None);
  EXPECT_EQ(ChipFromCompatible("vendor,other-board\0arm,cortex\0"s), PiChip::None);
  EXPECT_EQ(ChipFromCompatible("brcm,bcm28370\0"s), PiChip::None);
  EXPECT_EQ(ChipFromCompatible(""), PiChip::None);
}

TEST(PeripheralBaseFromRangesTest, OneCellParentAddressIsTheSecondWord) {
  EXPECT_EQ(PeripheralBaseFromRanges(Pi1Ranges), 0x20000000u);
  EXPECT_EQ(PeripheralBaseFromRanges(Pi3Ranges), 0x3F000000u);
}

TEST(PeripheralBaseFromRangesTest, ZeroSecondWordMeansTwoCellsAndTheThirdWordCounts) {
  EXPECT_EQ(PeripheralBaseFromRanges(Pi4Ranges), 0xFE000000u);
  EXPECT_EQ(PeripheralBaseFromRanges(RangesOf({0x7E000000, 0x0, 0x0})), 0u);
}

TEST(PeripheralBaseFromRangesTest, TruncatedOrMissingBytesGiveNoBase) {
  EXPECT_EQ(PeripheralBaseFromRanges(""), 0u);
  EXPECT_EQ(PeripheralBaseFromRanges(Pi1Ranges.substr(0, 7)), 0u);
  EXPECT_EQ(PeripheralBaseFromRanges(Pi1Ranges.substr(0, 8)), 0x20000000u);
  EXPECT_EQ(PeripheralBaseFromRanges(Pi4Ranges.substr(0, 11)), 0u);
  EXPECT_EQ(PeripheralBaseFromRanges(Pi4Ranges.substr(0, 12)), 0xFE000000u);
}

TEST(GpioPageAddressTest, EachPiModelGetsItsGpioPage) {
  EXPECT_EQ(GpioPageAddress(Pi1Compatible, Pi1CpuInfo, Pi1Ranges), 0x20200000u);
  EXPECT_EQ(GpioPageAddress(PiZeroCompatible, "", PiZeroRanges), 0x20200000u);
  EXPECT_EQ(GpioPageAddress(Pi2Compatible, Pi2CpuInfo, Pi2Ranges), 0x3F200000u);
  EXPECT_EQ(GpioPageAddress(Pi3Compatible, "", Pi3Ranges), 0x3F200000u);
  EXPECT_EQ(GpioPageAddress(Pi4Compatible, "", Pi4Ranges), 0xFE200000u);
}

TEST(GpioPageAddressTest, Pi5AndPcGetNoPage) {
  EXPECT_EQ(GpioPageAddress(Pi5Compatible, "", Pi5Ranges), 0u);
  EXPECT_EQ(GpioPageAddress("", PcCpuInfo, ""), 0u);
  EXPECT_EQ(GpioPageAddress("", "", ""), 0u);
  // A device tree of some other board, even with a familiar-looking base.
  EXPECT_EQ(GpioPageAddress("vendor,other-board\0"s, "", Pi1Ranges), 0u);
}

TEST(GpioPageAddressTest, OnlyTheFirstChipKeepsItsPageWithoutRanges) {
  EXPECT_EQ(GpioPageAddress(Pi1Compatible, "", ""), 0x20200000u);
  EXPECT_EQ(GpioPageAddress(PiZeroCompatible, "", PiZeroRanges.substr(0, 5)), 0x20200000u);
  EXPECT_EQ(GpioPageAddress(Pi3Compatible, "", ""), 0u);
  EXPECT_EQ(GpioPageAddress(Pi3Compatible, "", Pi3Ranges.substr(0, 6)), 0u);
  EXPECT_EQ(GpioPageAddress(Pi4Compatible, "", ""), 0u);
  EXPECT_EQ(GpioPageAddress(Pi4Compatible, "", Pi4Ranges.substr(0, 10)), 0u);
}

TEST(GpioPageAddressTest, BaseThatDoesNotFitTheChipGetsNoPage) {
  // A BCM2711 with its peripherals in the high (35-bit) window: parent address 0x4_7E000000.
  EXPECT_EQ(GpioPageAddress(Pi4Compatible, "", RangesOf({0x7E000000, 0x4, 0x7E000000, 0x01800000})),
            0u);
  EXPECT_EQ(GpioPageAddress(Pi3Compatible, "", Pi1Ranges), 0u);
  EXPECT_EQ(GpioPageAddress(Pi1Compatible, "", Pi4Ranges), 0u);
  EXPECT_EQ(GpioPageAddress(Pi4Compatible, "", Pi2Ranges), 0u);
}

TEST(GpioPageAddressTest, WithoutDeviceTreeOnlyTheFirstChipIsRecognised) {
  EXPECT_EQ(GpioPageAddress("", Pi1CpuInfo, ""), 0x20200000u);
  EXPECT_EQ(GpioPageAddress("", Pi1OldKernelCpuInfo, Pi4Ranges), 0x20200000u);
  EXPECT_EQ(GpioPageAddress("", Pi2CpuInfo, ""), 0u);
  EXPECT_EQ(GpioPageAddress("", Pi2OldKernelCpuInfo, Pi2Ranges), 0u);
}

// A scripted device opener: records the paths asked for and opens those listed.
struct ScriptedDevices {
  std::vector<std::string> Asked;
  std::vector<std::string> Openable;
};
ScriptedDevices Devices;

int OpenScripted(const char* Path) {
  Devices.Asked.emplace_back(Path);
  for (std::size_t I = 0; I < Devices.Openable.size(); ++I) {
    if (Devices.Openable[I] == Path) return 10 + static_cast<int>(I);
  }
  return -1;
}

class OpenGpioDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Devices = ScriptedDevices{};
    Platform.OpenDevice = OpenScripted;
  }
  void TearDown() override { Platform = ProductionPlatform(); }
};

TEST_F(OpenGpioDeviceTest, MemDeviceMapsThePhysicalAddress) {
  Devices.Openable = {"/dev/mem", "/dev/gpiomem"};
  const GpioDevice Device = OpenGpioDevice(0x3F200000u);
  EXPECT_EQ(Device.File, 10);
  EXPECT_EQ(Device.Offset, 0x3F200000L);
  EXPECT_EQ(Devices.Asked, std::vector<std::string>{"/dev/mem"});
}

TEST_F(OpenGpioDeviceTest, WithoutMemDeviceGpioMemMapsAtOffsetZero) {
  Devices.Openable = {"/dev/gpiomem"};
  const GpioDevice Device = OpenGpioDevice(0x20200000u);
  EXPECT_EQ(Device.File, 10);
  EXPECT_EQ(Device.Offset, 0L);
  EXPECT_EQ(Devices.Asked, (std::vector<std::string>{"/dev/mem", "/dev/gpiomem"}));
}

TEST_F(OpenGpioDeviceTest, NeitherDeviceOpensGivesNoFile) {
  EXPECT_EQ(OpenGpioDevice(0x20200000u).File, -1);
}

TEST_F(OpenGpioDeviceTest, AddressBeyondTheOffsetRangeIsReachedOnlyThroughGpioMem) {
  Devices.Openable = {"/dev/mem", "/dev/gpiomem"};
  const GpioDevice Device = OpenGpioDevice(0xFE200000u);
  if (sizeof(long) > 4) {
    EXPECT_EQ(static_cast<unsigned long>(Device.Offset), 0xFE200000ul);
    EXPECT_EQ(Devices.Asked, std::vector<std::string>{"/dev/mem"});
  } else {
    // A 32-bit long cannot carry the address as a map offset.
    EXPECT_EQ(Device.File, 11);
    EXPECT_EQ(Device.Offset, 0L);
    EXPECT_EQ(Devices.Asked, std::vector<std::string>{"/dev/gpiomem"});
  }
}

class OpenGpioTest : public testsupport::HarrowlightTest {};

TEST_F(OpenGpioTest, MachineWithoutKnownPiChipGetsNoGpioPage) {
  if (ThisMachineGpioPageAddress() != 0) GTEST_SKIP() << "this machine is a Raspberry Pi";
  int MemFile = 42;
  EXPECT_EQ(OpenGpio(&MemFile), nullptr);
  EXPECT_EQ(MemFile, -1);
  // The report waits until the kernel's GPIO lines have been tried as well.
  EXPECT_EQ(world().Output, "");
}

}  // namespace
