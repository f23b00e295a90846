// Key input: gathers the bytes pending on standard input, merges in the push buttons and
// damps a held key so it repeats only after a pause.
#include "keys/KeyInput.h"

#include "pins/Pins.h"
#include "platform/Platform.h"
#include "state/Globals.h"

// Cursor up, left, right, down, Enter, Space; buttons 7 and 8 have no key.
const std::int32_t GPIO_Key[ButtonKeyCount] = {
    0x00414F1B,  // ESC "O" "A"
    0x00444F1B,  // ESC "O" "D"
    0x00434F1B,  // ESC "O" "C"
    0x00424F1B,  // ESC "O" "B"
    0x0000000A,  // line feed
    0x00000020,  // blank
    -1,         -1,
};

namespace {

constexpr int KeyRestPeriod = 10;
constexpr int ButtonCodeBytes = 4;
// Room is always kept for the terminator and a button's code after the stored bytes.
constexpr int MaxStoredBytes = KeyBufferSize - 1 - ButtonCodeBytes;
// How long one wait for a pending byte lasts while a reply is awaited.
constexpr int WaitStepMs = 50;
// Buttons are read from the first level register, which covers pins 0 to 31.
constexpr std::uint32_t HighestButtonPin = 31;

unsigned char LastKey = 0;
std::int32_t KeyPeriod = KeyRestPeriod;

// A reply being awaited (the size query's) may take this long and this many bytes, keys
// typed meanwhile and the reply itself included, whatever arrives.
struct ReplyWait {
  std::int64_t StartMs = 0;
  int IdleMs = 0;  // time spent in waits that found no byte, counted in whole steps
  int BytesRead = 0;
};

// The run is ending, or the request never reached the terminal: no reply is worth waiting
// for then.
bool ReplyWaitIsOver(const ReplyWait& Wait) {
  return ExitRequested != 0 || OutputLost || Wait.BytesRead >= ReplyByteLimit ||
         Wait.IdleMs >= KeyWaitLimitMs || Platform.MonotonicMs() - Wait.StartMs >= KeyWaitLimitMs;
}

// Reads one pending byte, or, when a wait is allowed, waits in short steps for one until
// the wait is over. The idle time is counted in steps as well as on the clock, so input
// at end-of-file (readable, yet no byte) cannot keep it spinning for the whole limit.
bool NextByte(ReplyWait* Wait, unsigned char* Byte) {
  for (;;) {
    if (Wait != nullptr && ReplyWaitIsOver(*Wait)) return false;
    if (Platform.ReadInputByte(Byte) == 1) {
      if (Wait != nullptr) ++Wait->BytesRead;
      return true;
    }
    if (Wait == nullptr) return false;
    Platform.WaitForInput(WaitStepMs);
    Wait->IdleMs += WaitStepMs;
  }
}

// Drops bytes until FromChar arrives; false when it did not arrive in time.
bool SkipToFromChar(unsigned char FromChar, ReplyWait* Wait) {
  unsigned char Byte = 0;
  while (NextByte(Wait, &Byte)) {
    if (Byte == FromChar) return true;
  }
  return false;
}

// Stores bytes from position Count on: all that is pending (ToChar 0) or up to and
// including ToChar. Input that does not fit stays pending for the next call.
int CollectBytes(char* Buffer, int Count, unsigned char ToChar, ReplyWait* Wait) {
  unsigned char Byte = 0;
  while (Count < MaxStoredBytes && NextByte(ToChar != 0 ? Wait : nullptr, &Byte)) {
    Buffer[Count++] = static_cast<char>(Byte);
    if (ToChar != 0 && Byte == ToChar) break;
  }
  return Count;
}

void WriteKeyCode(char* Destination, std::int32_t Code) {
  std::uint32_t Bits = static_cast<std::uint32_t>(Code);
  for (int Index = 0; Index < ButtonCodeBytes; ++Index) {
    Destination[Index] = static_cast<char>((Bits >> (8 * Index)) & 0xFFu);
  }
}

// Writes the code of every pressed button at Count, so the highest pressed one wins.
// Buttons without a key code and pins the level register cannot show are skipped.
void MergeButtons(char* Buffer, int Count) {
  for (int Index = 0; Index < ButtonKeyCount; ++Index) {
    std::uint32_t Pin = static_cast<std::uint32_t>(ThisConfig.Switch[Index]);
    if (Pin > HighestButtonPin || GPIO_Key[Index] == -1) continue;
    const int Level = ReadPin(Pin);
    if (Level == 0) WriteKeyCode(Buffer + Count, GPIO_Key[Index]);
  }
}

// A held key passes once, is dropped on the nine calls after, then passes every call.
void DampRepeat(char* Buffer) {
  unsigned char First = static_cast<unsigned char>(Buffer[0]);
  if (First == 0) {
    LastKey = 0;
    KeyPeriod = KeyRestPeriod;
  } else if (First == LastKey) {
    --KeyPeriod;
    if (KeyPeriod > 0) {
      Buffer[0] = 0;
    } else {
      LastKey = 0;
      KeyPeriod = 1;
    }
  } else {
    LastKey = First;
  }
}

}  // namespace

int GetKeys(char* Buffer, char FromChar, char ToChar) {
  int Count = 0;
  ReplyWait Wait;
  Wait.StartMs = Platform.MonotonicMs();
  unsigned char From = static_cast<unsigned char>(FromChar);
  bool Started = true;
  if (From != 0) {
    Started = SkipToFromChar(From, &Wait);
    if (Started) Buffer[Count++] = FromChar;
  }
  if (Started) Count = CollectBytes(Buffer, Count, static_cast<unsigned char>(ToChar), &Wait);
  Buffer[Count] = 0;
  MergeButtons(Buffer, Count);
  DampRepeat(Buffer);
  return Count;
}

void ResetKeyRepeat() {
  LastKey = 0;
  KeyPeriod = KeyRestPeriod;
}
