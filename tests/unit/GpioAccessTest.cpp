// Tests of recognising a BCM2835 from recorded machine descriptions, and of refusing to
// map the GPIO page anywhere else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "app/GpioAccess.h"

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

class OpenGpioTest : public testsupport::HarrowlightTest {};

TEST_F(OpenGpioTest, MachineOtherThanBcm2835GetsNoGpioPage) {
  if (RunningOnBcm2835()) GTEST_SKIP() << "this machine is a BCM2835";
  int MemFile = 42;
  EXPECT_EQ(OpenGpio(&MemFile), nullptr);
  EXPECT_EQ(MemFile, -1);
  EXPECT_EQ(world().Output, "Failed to open memory\n");
}

}  // namespace
