// The failure messages kept for the error lines, and the start-up problems reported there.
#pragma once

#include <string>
#include <vector>

// A start-up problem the user must see. It goes to standard output at once, like every
// failure line, but the terminal reset that follows wipes it there; so it is also kept for
// the error lines. Formatted like printf; a trailing line feed is not kept.
void ReportAtStartUp(const char* Format, ...) __attribute__((format(printf, 1, 2)));

// Keeps a message for the error lines: every redraw shows the kept messages (from line 1,
// one a line, oldest first) until the next key, so the redraw that often follows a failure
// does not wipe it before it could be read. A message already kept is not kept twice.
void KeepErrorLine(const char* Message);

// The kept messages, oldest first; empty once dismissed.
const std::vector<std::string>& KeptErrorLines();

// Stops showing the kept messages (the user has pressed a key).
void DismissErrorLines();
