// Terminal-size query of a VT100-compatible terminal and its reply parser.
#pragma once

// Measures the terminal with the cursor-position report: cursor far down and right, ask
// for the position, read the reply. Falls back to the kernel's window size, else 80x24,
// when no complete reply arrives in time or the reply gives a size outside 1 to 256.
void GetSizeVT100(int* DisplayWidth, int* DisplayHeight);

// Returns the decimal number (read as atoi reads) that follows the first `StartChar` in
// `Buffer`, or 0 when `StartChar` does not occur.
int GetValueVT100(const char* Buffer, char StartChar);

// The size assumed when neither the terminal nor the kernel knows one.
constexpr int DefaultTerminalWidth = 80;
constexpr int DefaultTerminalHeight = 24;
// The cursor moves of the query stop at 255 lines/columns past the first, so a reply
// never reports more than this: a larger report is refused, a larger kernel size capped.
constexpr int LargestReportedSize = 256;
