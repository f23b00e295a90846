#include "app/Config.h"
int InputPinCount = 0;
int OutputPinCount = 0;
void ReadConfig(const char*) {}
