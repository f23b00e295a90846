// The GPIO and mini-UART register sequences, written once over a "register bus" type.
//
// A bus offers Read(Offset) and Write(Offset, Value), each exactly one 32-bit access at a
// byte offset from the start of its page, and Wait(), the 200-iteration busy-wait. The
// module instantiates these templates with VolatileBus over a mapped page; tests use a bus
// that records every access, so the order and count of accesses can be checked.
#pragma once

#include <cstdint>

#include "rpi_gpio/RPi_GPIO.h"

namespace gpio_regs {

// GPIO page (byte offsets).
constexpr std::uint32_t GPFSEL0 = 0x00;
constexpr std::uint32_t GPFSEL1 = 0x04;
constexpr std::uint32_t GPSET0 = 0x1C;
constexpr std::uint32_t GPCLR0 = 0x28;
constexpr std::uint32_t GPLEV0 = 0x34;
constexpr std::uint32_t GPPUD = 0x94;
constexpr std::uint32_t GPPUDCLK0 = 0x98;
constexpr std::uint32_t GPPUDCLK1 = 0x9C;

// Auxiliary page (byte offsets).
constexpr std::uint32_t AUX_ENABLES = 0x04;
constexpr std::uint32_t AUX_MU_IO_REG = 0x40;
constexpr std::uint32_t AUX_MU_IIR_REG = 0x48;
constexpr std::uint32_t AUX_MU_LCR_REG = 0x4C;
constexpr std::uint32_t AUX_MU_CNTL_REG = 0x60;
constexpr std::uint32_t AUX_MU_STAT_REG = 0x64;
constexpr std::uint32_t AUX_MU_BAUD_REG = 0x68;

constexpr std::uint32_t PullUp = 2;
constexpr std::uint32_t PullOff = 0;
constexpr std::uint32_t HighestPin = 53;
constexpr std::uint32_t HighestBankZeroPin = 31;

constexpr std::uint32_t StatusSymbolAvailable = 0x01;
constexpr std::uint32_t StatusTransmitFull = 0x20;
constexpr std::uint32_t MiniUartBaudDivisor = 1627;

// Counted delay with no system call. The counter is volatile so the loop is kept even
// though it computes nothing: the delay is its only effect.
inline void BusyWait() {
  for (volatile int Count = 0; Count < 200; Count = Count + 1) {
  }
}

// The bus of a mapped page: every access is one volatile 32-bit load or store.
class VolatileBus {
 public:
  explicit VolatileBus(RegisterBase Base) : Base_(Base) {}
  std::uint32_t Read(std::uint32_t Offset) const { return Base_[Offset / 4]; }
  void Write(std::uint32_t Offset, std::uint32_t Value) const { Base_[Offset / 4] = Value; }
  void Wait() const { BusyWait(); }

 private:
  RegisterBase Base_;
};

// 1 << Pin for pins 0-31, 0 for every other number (0xFFFFFFFF included).
inline std::uint32_t PinMask(std::uint32_t Pin) {
  return Pin <= HighestBankZeroPin ? (1u << Pin) : 0u;
}

inline std::uint32_t FunctionSelectOffset(std::uint32_t Pin) {
  return 4 * (Pin / 10);
}
inline std::uint32_t FunctionShift(std::uint32_t Pin) {
  return 3 * (Pin % 10);
}

// A pin's three function bits, and the function codes the program uses.
constexpr std::uint32_t FunctionMask = 7u;
constexpr std::uint32_t FunctionOutput = 1u;
constexpr std::uint32_t FunctionAlt5 = 2u;

// The mini-UART's transmit and receive pins.
constexpr std::uint32_t MiniUartTxPin = 14;
constexpr std::uint32_t MiniUartRxPin = 15;

template <class Bus>
void AndRegister(Bus& B, std::uint32_t Offset, std::uint32_t Mask) {
  const std::uint32_t Value = B.Read(Offset);
  B.Write(Offset, Value & Mask);
}

template <class Bus>
void OrRegister(Bus& B, std::uint32_t Offset, std::uint32_t Bits) {
  const std::uint32_t Value = B.Read(Offset);
  B.Write(Offset, Value | Bits);
}

// Function 000 (input): one read-modify-write of the pin's GPFSEL register. Pins above 53
// have no field and are passed over.
template <class Bus>
void MakePinInput(Bus& B, std::uint32_t Pin) {
  if (Pin > HighestPin) return;
  AndRegister(B, FunctionSelectOffset(Pin), ~(FunctionMask << FunctionShift(Pin)));
}

// Function 001 (output): the input step first, then a second read-modify-write that sets
// the low bit of the field, so the pin is briefly an input on its way.
template <class Bus>
void MakePinOutput(Bus& B, std::uint32_t Pin) {
  if (Pin > HighestPin) return;
  MakePinInput(B, Pin);
  OrRegister(B, FunctionSelectOffset(Pin), FunctionOutput << FunctionShift(Pin));
}

// Writes one whole pull-clock word for Pin (bit Pin of GPPUDCLK0 or bit Pin-32 of
// GPPUDCLK1; nothing for pins above 53). Returns whether a word was written.
template <class Bus>
bool WritePullClock(Bus& B, std::uint32_t Pin, bool ClockOn) {
  if (Pin <= HighestBankZeroPin) {
    B.Write(GPPUDCLK0, ClockOn ? (1u << Pin) : 0u);
    return true;
  }
  if (Pin <= HighestPin) {
    B.Write(GPPUDCLK1, ClockOn ? (1u << (Pin - 32)) : 0u);
    return true;
  }
  return false;
}

// Pins 14 and 15 to alternate function 5, then the mini-UART on: 8-bit, divisor 1627,
// both FIFOs cleared, receiver and transmitter with RTS flow control on.
template <class GpioBus, class AuxBus>
void SetUpMiniUart(GpioBus& G, AuxBus& A) {
  for (std::uint32_t Pin : {MiniUartTxPin, MiniUartRxPin}) {
    AndRegister(G, FunctionSelectOffset(Pin), ~(FunctionMask << FunctionShift(Pin)));
    OrRegister(G, FunctionSelectOffset(Pin), FunctionAlt5 << FunctionShift(Pin));
  }
  OrRegister(A, AUX_ENABLES, 1u);
  A.Write(AUX_MU_LCR_REG, 3u);
  A.Write(AUX_MU_BAUD_REG, MiniUartBaudDivisor);
  OrRegister(A, AUX_MU_IIR_REG, 6u);
  A.Write(AUX_MU_CNTL_REG, 7u);
}

template <class GpioBus, class AuxBus>
void ConfigPins(GpioBus& G, AuxBus& A, const std::uint32_t* InputPins, int InputCount,
                const std::uint32_t* OutputPins, int OutputCount, bool ConfigUart) {
  static_cast<void>(G.Read(GPLEV0));  // throw-away first access to the block
  G.Write(GPPUD, PullUp);
  G.Wait();
  for (int I = 0; I < InputCount; ++I) {
    MakePinInput(G, InputPins[I]);
    // Each clock word is held for a full wait before the next pin's word replaces it, so
    // every input latches its pull-up, not only the last one.
    if (WritePullClock(G, InputPins[I], true)) G.Wait();
  }
  for (int I = 0; I < OutputCount; ++I) {
    MakePinOutput(G, OutputPins[I]);
    WritePullClock(G, OutputPins[I], false);
  }
  G.Wait();
  G.Write(GPPUD, PullOff);
  G.Write(GPPUDCLK0, 0u);
  G.Write(GPPUDCLK1, 0u);
  if (ConfigUart) SetUpMiniUart(G, A);
}

template <class Bus>
void MakeInputs(Bus& G, const std::uint32_t* Pins, int Count) {
  for (int I = 0; I < Count; ++I) MakePinInput(G, Pins[I]);
  G.Wait();
}

template <class Bus>
void MakeOutputs(Bus& G, const std::uint32_t* Pins, int Count) {
  for (int I = 0; I < Count; ++I) MakePinOutput(G, Pins[I]);
  G.Wait();
}

template <class Bus>
void SetPin(Bus& G, std::uint32_t Pin) {
  G.Write(GPSET0, PinMask(Pin));
}

template <class Bus>
void ClearPin(Bus& G, std::uint32_t Pin) {
  G.Write(GPCLR0, PinMask(Pin));
}

template <class Bus>
int GetLevel(Bus& G, std::uint32_t Pin) {
  return (G.Read(GPLEV0) & PinMask(Pin)) != 0 ? 1 : 0;
}

template <class Bus>
void UartTransmit(Bus& A, const std::uint32_t* Data, int Count) {
  for (int I = 0; I < Count; ++I) {
    while ((A.Read(AUX_MU_STAT_REG) & StatusTransmitFull) != 0) {
    }
    A.Write(AUX_MU_IO_REG, Data[I]);
  }
}

template <class Bus>
int UartDataReady(Bus& A) {
  static_cast<void>(A.Read(AUX_MU_STAT_REG));  // throw-away first access to the block
  return (A.Read(AUX_MU_STAT_REG) & StatusSymbolAvailable) != 0 ? 1 : 0;
}

// Moves every byte waiting in the receive FIFO into the ring; the write index wraps to 0
// after the last slot.
template <class Bus>
void UartReceive(Bus& A) {
  static_cast<void>(A.Read(AUX_MU_STAT_REG));  // throw-away first access to the block
  while ((A.Read(AUX_MU_STAT_REG) & StatusSymbolAvailable) != 0) {
    UartBuffer[UartBuffPos] = static_cast<unsigned char>(A.Read(AUX_MU_IO_REG) & 0xFFu);
    UartBuffPos = UartBuffPos + 1 > UartRingSize - 1 ? 0 : UartBuffPos + 1;
  }
}

}  // namespace gpio_regs
