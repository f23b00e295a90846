// The playback list: recordings of the capture directory, played with the Play template.
#pragma once

#include <dirent.h>

// Scan filter: regular files whose name from its first dot is ".jpg" or ".h264".
int DirSelect(const struct dirent* DirEnt);

// Scans Directory into DirList (sorted, at most 512), DirPos 0, Mode 3.
void OpenPlayList();

// Handles one iteration's key text in Mode 3.
void HandleListKeys(char* Keys);

// True when Name can be handed to the shell as one plain word.
bool IsSafeFileName(const char* Name);
