#include "app/SavedState.h"
void LoadConfigBinary(const char*) {}
void SaveConfigBinary(const char*) {}
void EncodeState(const ConfigSaveStruct&, unsigned char (&)[StateFileSize]) {}
void DecodeState(const unsigned char*, std::size_t, ConfigSaveStruct&) {}
void ClampState(ConfigSaveStruct&) {}
