// Start-up, the tick-driven main loop and shutdown.
#pragma once

#include <string>

constexpr const char* VersionBanner = "Harrowlight V1.00 2013-12-29";

// Set (to anything but "") by the service, which powers the system off itself when the
// program ends with PowerOffStatus.
constexpr const char* ServiceVariable = "HARROWLIGHT_SERVICE";

// The whole program: banner for any argument, else start-up, loop, shutdown. Returns the
// exit status: 0, or PowerOffStatus (3) after "SHUTDOWN".
int RunHarrowlight(int argc, char** argv);

// The line for standard error at the end of a run with exit status Status, given the value
// of ServiceVariable (null when unset): after "SHUTDOWN" outside the service it says that
// powering off is left to the caller; otherwise null (nothing to say).
const char* PowerOffNotice(int Status, const char* Service);

// Puts every program-wide record, flag, countdown and module state back to the values of
// a program that has not started: zeroed records without texts, no pins, no kept error
// lines, key repeat at rest, no stored record remembered. Start-up runs it before giving
// the flags their start values; the unit tests run it around each test.
void ResetProgramState();

// One main-loop iteration after the tick's work: redraw, keys, wake, dispatch by Mode.
void LoopIteration();

// Directory part of argv0 (cut at its last "/"); false when argv0 has no "/". An argv0
// directly below the root gives an empty directory.
bool ExecutableDirectory(const char* Argv0, std::string* Directory);

// Menu rows that fit a screen of DisplayHeight lines (the Rows of every redraw).
int MenuRowsFor(int DisplayHeight, int BorderTop, int ItemHeight);
