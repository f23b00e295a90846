#include "app/KeyInput.h"
const std::int32_t GPIO_Key[ButtonKeyCount] = {};
int KeyWaitLimitMs = 1500;
int GetKeys(char* Buffer, char, char) { Buffer[0] = 0; return 0; }
void ResetKeyRepeat() {}
