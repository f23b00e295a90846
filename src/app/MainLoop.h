// Start-up, the tick-driven main loop and shutdown.
#pragma once

#include <string>

constexpr const char* VersionBanner = "Harrowlight V1.00 2013-12-29";

// The whole program: banner for any argument, else start-up, loop, shutdown. Returns 0.
int RunHarrowlight(int argc, char** argv);

// One main-loop iteration after the tick's work: redraw, keys, wake, dispatch by Mode.
void LoopIteration();

// Directory part of argv0 (cut at its last "/"); false when argv0 has no "/". An argv0
// directly below the root gives an empty directory.
bool ExecutableDirectory(const char* Argv0, std::string* Directory);

// Menu rows that fit a screen of DisplayHeight lines (the Rows of every redraw).
int MenuRowsFor(int DisplayHeight, int BorderTop, int ItemHeight);
