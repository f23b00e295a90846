#include "app/MenuKeys.h"
void HandleMenuKeys(char*) {}
void RunPowerAction(const char*) {}
