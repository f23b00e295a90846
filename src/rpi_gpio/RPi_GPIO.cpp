#include "rpi_gpio/RPi_GPIO.h"
unsigned char UartBuffer[UartRingSize];
int UartBuffPos = 0;
int UartBuffReadPos = 0;
RegisterBase MapGpioMemory(int, long) { return nullptr; }
void ConfigGPIO(RegisterBase, RegisterBase, const std::uint32_t*, int, const std::uint32_t*, int, int) {}
void GPIO_MakeInput(RegisterBase, const std::uint32_t*, int) {}
void GPIO_MakeOutput(RegisterBase, const std::uint32_t*, int) {}
void GPIO_SetPin(RegisterBase, std::uint32_t) {}
void GPIO_ClearPin(RegisterBase, std::uint32_t) {}
int GPIO_GetLevel(RegisterBase, std::uint32_t) { return 1; }
void AUX_UART_Transmit(RegisterBase, const std::uint32_t*, int) {}
int AUX_UART_DataReady(RegisterBase) { return 0; }
void AUX_UART_Receive(RegisterBase) {}
int AUX_UART_GetDataSize() { return 0; }
int AUX_UART_GetData() { return 0; }
