// Memory-mapped access to the BCM2835 GPIO block and the auxiliary mini-UART.
#include "rpi_gpio/RPi_GPIO.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "rpi_gpio/RegisterOps.h"

unsigned char UartBuffer[UartRingSize];
int UartBuffPos = 0;
int UartBuffReadPos = 0;

namespace {

constexpr std::uintptr_t PageSize = 4096;
// The mapping's address is aligned to 16 KiB, not just to a page: on ARM cores whose data
// cache can alias (SHMLBA is four pages there) the kernel refuses a shared mapping at a
// fixed address that is not, and the camera would run without its GPIO.
constexpr std::uintptr_t MapAlignment = 4 * PageSize;
// One byte less than the alignment plus a page: an aligned 4096-byte window always fits.
constexpr std::size_t MapBlockSize = MapAlignment + PageSize - 1;

// The heap blocks under the mappings. They are never released (the mapping lives until the
// process ends); keeping them here also tells leak checkers they are still in use. The list
// itself is never destroyed, so it still holds them when a leak check runs at exit.
std::vector<void*>& MapBlocks() {
  static auto* Blocks = new std::vector<void*>();
  return *Blocks;
}

void* FirstAlignedAddress(void* Block) {
  const auto Address = reinterpret_cast<std::uintptr_t>(Block);
  const std::uintptr_t Remainder = Address % MapAlignment;
  // The address is computed, not derived from a pointer: the mapping replaces what is there.
  return reinterpret_cast<void*>(  // NOLINT(performance-no-int-to-ptr)
      Remainder == 0 ? Address : Address + MapAlignment - Remainder);
}

}  // namespace

RegisterBase MapGpioMemory(int File, long BaseOffset) {
  void* Block = std::malloc(MapBlockSize);
  if (Block == nullptr) {
    std::printf("Failed to allocate memory map\n");
    std::fflush(stdout);
    return nullptr;
  }
  MapBlocks().push_back(Block);

  void* Map = mmap(FirstAlignedAddress(Block), PageSize, PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_FIXED, File, static_cast<off_t>(BaseOffset));
  if (Map == MAP_FAILED) {
    std::printf("Failed to map memory %d\n",
                static_cast<int>(reinterpret_cast<std::intptr_t>(Map)));
    std::fflush(stdout);
    return nullptr;
  }
  return static_cast<RegisterBase>(Map);
}

void ConfigGPIO(RegisterBase GPIO, RegisterBase AUX, const std::uint32_t* GPIO_InputPins,
                int InputPinCount, const std::uint32_t* GPIO_OutputPins, int OutputPinCount,
                int ConfigUART) {
  if (GPIO == nullptr) return;
  gpio_regs::VolatileBus Gpio(GPIO);
  gpio_regs::VolatileBus Aux(AUX);
  // Without a mapped auxiliary page the mini-UART set-up is left out entirely.
  gpio_regs::ConfigPins(Gpio, Aux, GPIO_InputPins, InputPinCount, GPIO_OutputPins, OutputPinCount,
                        ConfigUART != 0 && AUX != nullptr);
}

void GPIO_MakeInput(RegisterBase GPIO, const std::uint32_t* GPIO_InputPins, int InputPinCount) {
  if (GPIO == nullptr) return;
  gpio_regs::VolatileBus Gpio(GPIO);
  gpio_regs::MakeInputs(Gpio, GPIO_InputPins, InputPinCount);
}

void GPIO_MakeOutput(RegisterBase GPIO, const std::uint32_t* GPIO_OutputPins, int OutputPinCount) {
  if (GPIO == nullptr) return;
  gpio_regs::VolatileBus Gpio(GPIO);
  gpio_regs::MakeOutputs(Gpio, GPIO_OutputPins, OutputPinCount);
}

void GPIO_SetPin(RegisterBase GPIO, std::uint32_t Pin) {
  if (GPIO == nullptr) return;
  gpio_regs::VolatileBus Gpio(GPIO);
  gpio_regs::SetPin(Gpio, Pin);
}

void GPIO_ClearPin(RegisterBase GPIO, std::uint32_t Pin) {
  if (GPIO == nullptr) return;
  gpio_regs::VolatileBus Gpio(GPIO);
  gpio_regs::ClearPin(Gpio, Pin);
}

int GPIO_GetLevel(RegisterBase GPIO, std::uint32_t Pin) {
  if (GPIO == nullptr) return 1;  // no block: read as a released, pulled-up line
  gpio_regs::VolatileBus Gpio(GPIO);
  return gpio_regs::GetLevel(Gpio, Pin);
}

void AUX_UART_Transmit(RegisterBase AUX, const std::uint32_t* Data, int DataCount) {
  if (AUX == nullptr) return;
  gpio_regs::VolatileBus Aux(AUX);
  gpio_regs::UartTransmit(Aux, Data, DataCount);
}

int AUX_UART_DataReady(RegisterBase AUX) {
  if (AUX == nullptr) return 0;
  gpio_regs::VolatileBus Aux(AUX);
  return gpio_regs::UartDataReady(Aux);
}

void AUX_UART_Receive(RegisterBase AUX) {
  if (AUX == nullptr) return;
  gpio_regs::VolatileBus Aux(AUX);
  gpio_regs::UartReceive(Aux);
}

int AUX_UART_GetDataSize() {
  if (UartBuffReadPos <= UartBuffPos) return UartBuffPos - UartBuffReadPos;
  return UartBuffPos - UartBuffReadPos + UartRingSize;  // the writer has wrapped, the reader not
}

int AUX_UART_GetData() {
  // Taking from an empty ring would move the reader past the writer and make the ring
  // report 4096 stale bytes; an empty ring gives 0 and stays empty instead.
  if (UartBuffReadPos == UartBuffPos) return 0;
  const int Byte = UartBuffer[UartBuffReadPos];
  UartBuffReadPos = UartBuffReadPos + 1 > UartRingSize - 1 ? 0 : UartBuffReadPos + 1;
  return Byte;
}
