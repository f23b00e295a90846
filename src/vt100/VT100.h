// Terminal-size query of a VT100-compatible terminal and its reply parser.
#pragma once

// Measures the terminal with the cursor-position report: cursor far down and right, ask
// for the position, read the reply. Falls back to the kernel's window size, else 80x24,
// when no complete reply arrives in time.
void GetSizeVT100(int* DisplayWidth, int* DisplayHeight);

// Returns the decimal number (read as atoi reads) that follows the first `StartChar` in
// `Buffer`, or 0 when `StartChar` does not occur.
int GetValueVT100(const char* Buffer, char StartChar);
