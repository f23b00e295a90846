// Key input: bytes typed on standard input and the push buttons on GPIO pins.
#pragma once

#include <cstdint>

constexpr int KeyBufferSize = 4097;
constexpr int ButtonKeyCount = 8;

// Key code of each button, four bytes in memory order (little-endian); -1 is no key.
extern const std::int32_t GPIO_Key[ButtonKeyCount];

// Fills Buffer (KeyBufferSize bytes) with the bytes pending on standard input and the code
// of a pressed button, damping held keys. FromChar/ToChar (0 = unused) bound a reply such
// as the cursor-position report. Returns the count of bytes read from standard input.
int GetKeys(char* Buffer, char FromChar, char ToChar);

// How long GetKeys waits for FromChar/ToChar before giving up, in milliseconds of wall
// clock; it also gives up after ReplyByteLimit bytes, and when the run is to end.
constexpr int KeyWaitLimitMs = 1500;
constexpr int ReplyByteLimit = KeyBufferSize - 1;

// Puts the repeat suppression back to its rest state (part of ResetProgramState).
void ResetKeyRepeat();
