#include "app/Playback.h"
int DirSelect(const struct dirent*) { return 0; }
void OpenPlayList() {}
void HandleListKeys(char*) {}
bool IsSafeFileName(const char*) { return false; }
