// Fuzz target: the key reader fed arbitrary bytes on standard input and arbitrary button
// levels and pins.
//
// Input: byte 0 chooses the reply bounds (0: none, 1: ESC and "R", 2: bytes 1 and 2,
// 3: none and byte 2), bytes 3-6 are the level register (little-endian), bytes 7-16 the
// button pins (signed), byte 17 the number of calls (1-8); the rest is standard input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "keys/KeyInput.h"
#include "state/Globals.h"

namespace {

constexpr std::size_t HeaderSize = 18;
constexpr std::size_t GpioWords = 1024;
constexpr std::size_t LevelWord = 0x34 / 4;  // GPLEV0
constexpr int ButtonCodeBytes = 4;
constexpr int MaxStoredBytes = KeyBufferSize - 1 - ButtonCodeBytes;

const std::uint8_t* Stream = nullptr;
std::size_t StreamSize = 0;
std::size_t StreamPos = 0;

int ReadScripted(unsigned char* Byte) {
  if (StreamPos >= StreamSize) return 0;
  *Byte = Stream[StreamPos++];
  return 1;
}

// The button whose code the text must end with: the highest-numbered pressed one that has
// a code and a pin the level register shows; -1 for none.
int WinningButton(std::uint32_t Levels) {
  int Winner = -1;
  for (int i = 0; i < ButtonKeyCount; ++i) {
    const std::uint32_t Pin = static_cast<std::uint32_t>(ThisConfig.Switch[i]);
    if (GPIO_Key[i] == -1 || Pin > 31) continue;
    if ((Levels & (1u << Pin)) == 0) Winner = i;
  }
  return Winner;
}

unsigned char CodeByte(int Button, int Index) {
  return static_cast<unsigned char>((static_cast<std::uint32_t>(GPIO_Key[Button]) >> (8 * Index)) &
                                    0xFFu);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  std::uint8_t Header[HeaderSize] = {};
  std::memcpy(Header, Data, Size < HeaderSize ? Size : HeaderSize);
  static const std::uint8_t NoBytes[1] = {0};
  Stream = Size > HeaderSize ? Data + HeaderSize : NoBytes;
  StreamSize = Size > HeaderSize ? Size - HeaderSize : 0;
  StreamPos = 0;

  Platform = fuzzsupport::QuietPlatform();
  Platform.ReadInputByte = ReadScripted;
  static std::uint32_t Registers[GpioWords];
  std::memset(Registers, 0, sizeof Registers);
  const std::uint32_t Levels =
      static_cast<std::uint32_t>(Header[3]) | static_cast<std::uint32_t>(Header[4]) << 8 |
      static_cast<std::uint32_t>(Header[5]) << 16 | static_cast<std::uint32_t>(Header[6]) << 24;
  Registers[LevelWord] = Levels;
  GPIO = Registers;
  for (int i = 0; i < SwitchCount; ++i) {
    ThisConfig.Switch[i] = static_cast<std::int8_t>(Header[7 + i]);
  }
  char From = 0;
  char To = 0;
  switch (Header[0] % 4) {
    case 1:
      From = 27, To = 'R';
      break;
    case 2:
      From = static_cast<char>(Header[1]), To = static_cast<char>(Header[2]);
      break;
    case 3:
      To = static_cast<char>(Header[2]);
      break;
    default:
      break;
  }
  const int Calls = Header[17] % 8 + 1;
  const int Winner = WinningButton(Levels);
  ResetKeyRepeat();

  // Exactly KeyBufferSize bytes on the heap, so a write past it is caught.
  std::unique_ptr<char[]> Buffer(new char[KeyBufferSize]);
  bool PreviousEmpty = true;
  for (int Call = 0; Call < Calls; ++Call) {
    std::memset(Buffer.get(), 0x5A, KeyBufferSize);
    const std::size_t Start = StreamPos;
    const int Count = GetKeys(Buffer.get(), From, To);
    const std::size_t Consumed = StreamPos - Start;

    // The stored bytes are the last ones read, in order; all bytes read before them were
    // skipped while looking for From.
    FUZZ_CHECK(Count >= 0 && Count <= MaxStoredBytes);
    FUZZ_CHECK(static_cast<std::size_t>(Count) <= Consumed);
    const std::uint8_t* Stored = Stream + StreamPos - Count;
    for (int k = 1; k < Count; ++k) FUZZ_CHECK(Buffer.get()[k] == static_cast<char>(Stored[k]));
    if (From != 0) {
      for (std::size_t k = Start; k < StreamPos - static_cast<std::size_t>(Count); ++k) {
        FUZZ_CHECK(Stream[k] != static_cast<std::uint8_t>(From));
      }
      if (Count > 0) FUZZ_CHECK(Stored[0] == static_cast<std::uint8_t>(From));
    } else {
      FUZZ_CHECK(static_cast<std::size_t>(Count) == Consumed);
    }
    // A reply ends at To unless the input ran out, the buffer filled or the bytes a
    // reply may take were used up.
    if (To != 0 && Count > 0 && StreamPos < StreamSize && Count < MaxStoredBytes &&
        Consumed < static_cast<std::size_t>(ReplyByteLimit)) {
      FUZZ_CHECK(Stored[Count - 1] == static_cast<std::uint8_t>(To));
    }

    // The text is terminated within the four bytes after the stored ones, and a pressed
    // button's code stands there.
    FUZZ_CHECK(std::memchr(Buffer.get() + Count, 0, ButtonCodeBytes) != nullptr);
    if (Winner >= 0) {
      for (int k = 1; k < ButtonCodeBytes; ++k) {
        FUZZ_CHECK(static_cast<unsigned char>(Buffer.get()[Count + k]) == CodeByte(Winner, k));
      }
    }

    // After a call that saw no key, the next key passes at once.
    unsigned char Raw = Count > 0 ? Stored[0] : (Winner >= 0 ? CodeByte(Winner, 0) : 0);
    if (PreviousEmpty && Raw != 0) FUZZ_CHECK(static_cast<unsigned char>(Buffer[0]) == Raw);
    PreviousEmpty = Raw == 0;
  }

  GPIO = nullptr;
  return 0;
}
