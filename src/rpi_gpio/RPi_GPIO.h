// Memory-mapped access to the BCM2835 GPIO block and the auxiliary mini-UART.
// The register sequences themselves live in RegisterOps.h; these functions run them on a
// mapped page. Every operation does nothing (reads as 0, or 1 for a pin level) on a null base.
#pragma once

#include <cstdint>

// Register base: the first 32-bit word of a mapped peripheral page. Every access through
// it is one volatile 32-bit load or store.
using RegisterBase = volatile std::uint32_t*;

// A pin list entry that names no pin.
constexpr std::uint32_t NoPin = 0xFFFFFFFFu;

// Physical address of the BCM2835 GPIO page.
constexpr long Bcm2835GpioBase = 0x20200000L;

// Maps one 4096-byte page of `File` at physical offset `BaseOffset` into a heap block.
// Returns the register base, or null (with a message on standard output) on failure.
RegisterBase MapGpioMemory(int File, long BaseOffset);

// Sets the input pins to input with pull-up and the output pins to output; with a non-zero
// `ConfigUART` also sets up the mini-UART on pins 14 and 15 through `AUX`.
void ConfigGPIO(RegisterBase GPIO, RegisterBase AUX, const std::uint32_t* GPIO_InputPins,
                int InputPinCount, const std::uint32_t* GPIO_OutputPins, int OutputPinCount,
                int ConfigUART);
void GPIO_MakeInput(RegisterBase GPIO, const std::uint32_t* GPIO_InputPins, int InputPinCount);
void GPIO_MakeOutput(RegisterBase GPIO, const std::uint32_t* GPIO_OutputPins, int OutputPinCount);

void GPIO_SetPin(RegisterBase GPIO, std::uint32_t Pin);
void GPIO_ClearPin(RegisterBase GPIO, std::uint32_t Pin);
int GPIO_GetLevel(RegisterBase GPIO, std::uint32_t Pin);

// Mini-UART receive ring: 4097 slots, empty when both indexes are equal.
constexpr int UartRingSize = 4097;
extern unsigned char UartBuffer[UartRingSize];
extern int UartBuffPos;
extern int UartBuffReadPos;

void AUX_UART_Transmit(RegisterBase AUX, const std::uint32_t* Data, int DataCount);
int AUX_UART_DataReady(RegisterBase AUX);
void AUX_UART_Receive(RegisterBase AUX);
int AUX_UART_GetDataSize();
int AUX_UART_GetData();
