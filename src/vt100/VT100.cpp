// Terminal-size query through the VT100 cursor-position report, with a fallback for a
// terminal that does not answer.
#include "vt100/VT100.h"

#include <cstring>

#include "common/Common.h"
#include "keys/KeyInput.h"
#include "platform/Platform.h"

namespace {

constexpr unsigned CursorMoveFar = 255;

// A report outside 1 to LargestReportedSize cannot come from a real terminal: a zero or
// negative size leaves no screen to draw on, a larger one piles everything on one line.
bool IsPlausibleSize(int Width, int Height) {
  return Width >= 1 && Width <= LargestReportedSize && Height >= 1 && Height <= LargestReportedSize;
}

int CapReported(int Value) {
  return Value > LargestReportedSize ? LargestReportedSize : Value;
}

void UseFallbackSize(int* Width, int* Height) {
  int KnownWidth = 0;
  int KnownHeight = 0;
  if (Platform.TerminalSize != nullptr && Platform.TerminalSize(&KnownWidth, &KnownHeight) &&
      KnownWidth > 0 && KnownHeight > 0) {
    *Width = CapReported(KnownWidth);
    *Height = CapReported(KnownHeight);
    return;
  }
  *Width = DefaultTerminalWidth;
  *Height = DefaultTerminalHeight;
}

}  // namespace

void GetSizeVT100(int* DisplayWidth, int* DisplayHeight) {
  WriteFormatted("%c[%uB", Esc, CursorMoveFar);
  WriteFormatted("%c[%uC", Esc, CursorMoveFar);
  WriteFormatted("%c[6n", Esc);
  char Reply[KeyBufferSize];
  int Count = GetKeys(Reply, Esc, 'R');
  int Width = 0;
  int Height = 0;
  if (Count > 0 && Reply[Count - 1] == 'R') {
    // The repeat damping may blank the first byte; it is always the ESC that began the
    // reply, and the parser needs the text whole.
    Reply[0] = Esc;
    Height = GetValueVT100(Reply, '[');
    Width = GetValueVT100(Reply, ';');
  }
  if (IsPlausibleSize(Width, Height)) {
    *DisplayWidth = Width;
    *DisplayHeight = Height;
  } else {
    UseFallbackSize(DisplayWidth, DisplayHeight);
  }
  WriteFormatted("%c[H", Esc);
}

int GetValueVT100(const char* Buffer, char StartChar) {
  // A zero StartChar would find the terminator and read past the text.
  if (Buffer == nullptr || StartChar == 0) return 0;
  const char* Start = std::strchr(Buffer, StartChar);
  if (Start == nullptr) return 0;
  return ParseDecimal(Start + 1);
}
