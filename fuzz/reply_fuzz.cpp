// Fuzz target: the cursor-position reply parser and the terminal-size query that reads it.
//
// Input: byte 0 chooses the case. 0: the rest is a text for the parser with byte 1 as the
// character to look for. 1: the rest is what the terminal sends after the size request.
// 2: bytes 1-4 give a line and a column (0-9999), the rest is noise sent before a
// well-formed report "ESC [ line ; column R"; only 1-256 is a usable size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "common/Common.h"
#include "keys/KeyInput.h"
#include "vt100/VT100.h"

namespace {

std::string Sent;
std::size_t SentPos = 0;

int ReadScripted(unsigned char* Byte) {
  if (SentPos >= Sent.size()) return 0;
  *Byte = static_cast<unsigned char>(Sent[SentPos++]);
  return 1;
}

bool NoKernelSize(int*, int*) {
  return false;
}

std::string Written;
void RecordOutput(const char* Data, std::size_t Size) {
  Written.append(Data, Size);
}

// What atoi gives, for texts whose number has at most nine digits (so it fits an int).
bool ShortNumber(const char* Text, int* Value) {
  const char* Cursor = Text;
  while (*Cursor == ' ' || (*Cursor >= '\t' && *Cursor <= '\r')) ++Cursor;
  if (*Cursor == '+' || *Cursor == '-') ++Cursor;
  std::size_t Digits = 0;
  while (Cursor[Digits] >= '0' && Cursor[Digits] <= '9') ++Digits;
  if (Digits > 9) return false;
  *Value = std::atoi(Text);
  return true;
}

void ParseText(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return;
  const char StartChar = static_cast<char>(Data[0]);
  const std::string Text(reinterpret_cast<const char*>(Data + 1), Size - 1);
  const int Value = GetValueVT100(Text.c_str(), StartChar);
  const char* Found = StartChar != 0 ? std::strchr(Text.c_str(), StartChar) : nullptr;
  int Expected = 0;
  if (Found == nullptr) {
    FUZZ_CHECK(Value == 0);
  } else if (ShortNumber(Found + 1, &Expected)) {
    FUZZ_CHECK(Value == Expected);
  }
}

void Query(const std::string& Reply, int* Width, int* Height) {
  Sent = Reply;
  SentPos = 0;
  Written.clear();
  GetSizeVT100(Width, Height);
  // Whatever the answer, the request went out whole and the cursor is sent home after.
  const std::string Request = "\x1b[255B\x1b[255C\x1b[6n";
  const std::string Home = "\x1b[H";
  FUZZ_CHECK(Written.compare(0, Request.size(), Request) == 0);
  FUZZ_CHECK(Written.size() >= Request.size() + Home.size());
  FUZZ_CHECK(Written.compare(Written.size() - Home.size(), Home.size(), Home) == 0);
}

void AnyReply(const std::uint8_t* Data, std::size_t Size) {
  int Width = 0;
  int Height = 0;
  Query(std::string(reinterpret_cast<const char*>(Data), Size), &Width, &Height);
  // Without a complete report the query settles on the default size.
  if (std::memchr(Data, Esc, Size) == nullptr) {
    FUZZ_CHECK(Width == DefaultTerminalWidth && Height == DefaultTerminalHeight);
  }
}

void WellFormedReply(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 4) return;
  const int Line = (Data[0] << 8 | Data[1]) % 10000;
  const int Column = (Data[2] << 8 | Data[3]) % 10000;
  std::string Noise(reinterpret_cast<const char*>(Data + 4), Size - 4);
  for (char& C : Noise) C = C == Esc ? 'x' : C;
  const std::string Report =
      std::string(1, Esc) + "[" + std::to_string(Line) + ";" + std::to_string(Column) + "R";
  int Width = 0;
  int Height = 0;
  Query(Noise + Report, &Width, &Height);
  // A size no terminal has counts as no answer; a usable one is taken unless the noise
  // used up the bytes the query reads.
  const bool Usable =
      Line >= 1 && Line <= LargestReportedSize && Column >= 1 && Column <= LargestReportedSize;
  if (!Usable) {
    FUZZ_CHECK(Width == DefaultTerminalWidth && Height == DefaultTerminalHeight);
  } else if (Noise.size() + Report.size() <= static_cast<std::size_t>(ReplyByteLimit)) {
    FUZZ_CHECK(Height == Line && Width == Column);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 1) return 0;
  Platform = fuzzsupport::QuietPlatform();
  Platform.ReadInputByte = ReadScripted;
  Platform.WriteOutput = RecordOutput;
  Platform.TerminalSize = NoKernelSize;
  ResetKeyRepeat();

  switch (Data[0] % 3) {
    case 0:
      ParseText(Data + 1, Size - 1);
      break;
    case 1:
      AnyReply(Data + 1, Size - 1);
      break;
    default:
      WellFormedReply(Data + 1, Size - 1);
      break;
  }
  return 0;
}
