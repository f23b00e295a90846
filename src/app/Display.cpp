#include "app/Display.h"
void UpdateDisplay(int, int, const ConfigStruct*, const ConfigSaveStruct*) {}
std::string ComposeDisplay(int, int, const ConfigStruct&, const ConfigSaveStruct&) { return {}; }
void DisplayError(const char*) {}
