// Screen drawing: the menu screen, the playback list and the error line, each composed in
// memory and written to the terminal in one piece.
#include "app/Display.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "errors/ErrorLines.h"
#include "platform/Platform.h"

namespace {

// Widths beyond the line buffers' 4096 characters are held at this limit.
constexpr int WidestLine = 4096;
// Items count from 1; entry 0 of a menu is its title.
constexpr int FirstItem = 1;
constexpr int LastItem = MenuEntryCount - 1;
// The status line's texts begin after six characters.
constexpr int SleepTextColumn = 6;
constexpr int ClockTextSize = 32;

enum Sgr : unsigned {
  SgrReset = 0,
  SgrBold = 1,
  SgrBlack = 30,
  SgrRed = 31,
  SgrWhite = 37,
  SgrOnBlack = 40,
  SgrOnRed = 41,
  SgrOnYellow = 43,
  SgrOnWhite = 47,
};

__attribute__((format(printf, 2, 3))) void AppendFormatted(std::string* Out, const char* Format,
                                                           ...) {
  char Piece[64];
  va_list Args;
  va_start(Args, Format);
  std::size_t Size = FormatInto(Piece, sizeof Piece, Format, Args);
  va_end(Args);
  Out->append(Piece, Size);
}

void SetRendition(std::string* Out, Sgr Value) {
  AppendFormatted(Out, "%c[%um", Esc, static_cast<unsigned>(Value));
}

// Line and column go out as unsigned decimals of their 32-bit values, as the terminal
// sees them; the sums are formed wide so large configuration values cannot overflow.
void AppendCursorMove(std::string* Out, std::int64_t Line, std::int64_t Column) {
  AppendFormatted(Out, "%c[%u;%uf", Esc, static_cast<unsigned>(static_cast<std::uint32_t>(Line)),
                  static_cast<unsigned>(static_cast<std::uint32_t>(Column)));
}

int ClampWidth(int Width) {
  if (Width < 0) return 0;
  return Width > WidestLine ? WidestLine : Width;
}

std::size_t TextLength(const char* Text) {
  return Text == nullptr ? 0 : strnlen(Text, WidestLine);
}

// Text followed by blanks up to Width characters, cut after Width; then a line feed.
void AppendPadded(std::string* Out, const char* Text, int Width) {
  std::size_t Wanted = static_cast<std::size_t>(ClampWidth(Width));
  std::size_t Length = TextLength(Text);
  if (Length > Wanted) Length = Wanted;
  Out->append(Text == nullptr ? "" : Text, Length);
  Out->append(Wanted - Length, ' ');
  Out->push_back('\n');
}

// Exactly Width characters with the text centred (an odd extra blank on the right); a text
// wider than Width is cut after Width with no centring. Then a line feed.
void AppendCentred(std::string* Out, const char* Text, int Width) {
  std::size_t Wanted = static_cast<std::size_t>(ClampWidth(Width));
  std::size_t Length = TextLength(Text);
  if (Length >= Wanted) {
    Out->append(Text, Wanted);
  } else {
    std::size_t Left = (Wanted - Length) / 2;
    Out->append(Left, ' ');
    Out->append(Text, Length);
    Out->append(Wanted - Length - Left, ' ');
  }
  Out->push_back('\n');
}

// The label of item Item of menu Menu, or null when there is none to show.
const char* ItemLabel(const ConfigStruct& Config, int Menu, std::int64_t Item) {
  if (Item < FirstItem || Item > LastItem) return nullptr;
  return Config.Menu[Menu][Item];
}

void AppendMenuSlot(std::string* Out, const ConfigStruct& Config, const ConfigSaveStruct& Save,
                    int Menu, std::int64_t Slot) {
  bool Highlighted = Menu == Save.MenuPos;
  std::int64_t Line =
      Config.BorderTop + static_cast<std::int64_t>(MenuItemRows(Config.ItemHeight)) * Slot;

  for (Sgr Value : {SgrReset, SgrBold, SgrWhite, SgrOnBlack}) SetRendition(Out, Value);
  if (Highlighted) {
    SetRendition(Out, SgrOnYellow);
    SetRendition(Out, SgrBlack);
  }
  AppendCursorMove(Out, Line, Config.BorderLeft);
  AppendPadded(Out, Config.Menu[Menu][0], Config.ItemWidth);

  for (Sgr Value : {SgrReset, SgrWhite, SgrOnBlack}) SetRendition(Out, Value);
  if (Highlighted) {
    SetRendition(Out, SgrOnYellow);
    SetRendition(Out, SgrBlack);
  }
  std::int64_t Item = Highlighted ? Save.MenuItemPos : Save.MenuSelection[Menu];
  AppendCursorMove(Out, Line + 1, Config.BorderLeft);
  const char* Label = ItemLabel(Config, Menu, Item);
  AppendCentred(Out, Label == nullptr ? "" : Label, Config.ItemWidth);
}

// Slot k shows menu MenuPos - half + k, for k from 1 to 2*half - 1. Only slots whose menu
// exists write anything, so just those are visited, however large MenuRows is.
void AppendMenuWindow(std::string* Out, int MenuRows, const ConfigStruct& Config,
                      const ConfigSaveStruct& Save) {
  std::int64_t Half = MenuRows / 2;
  std::int64_t Offset = static_cast<std::int64_t>(Save.MenuPos) - Half;
  std::int64_t First = Offset + 1 > 0 ? 1 : -Offset;
  std::int64_t Last = 2 * Half - 1;
  if (Offset + Last > MenuCount - 1) Last = MenuCount - 1 - Offset;
  for (std::int64_t Slot = First; Slot <= Last; ++Slot) {
    int Menu = static_cast<int>(Offset + Slot);
    if (Config.Menu[Menu][0] == nullptr) break;  // the menu list ends here
    AppendMenuSlot(Out, Config, Save, Menu, Slot);
  }
}

void AppendStatusLine(std::string* Out, const ConfigStruct& Config, const ConfigSaveStruct& Save) {
  for (Sgr Value : {SgrReset, SgrBold, SgrRed, SgrOnWhite}) SetRendition(Out, Value);
  AppendCursorMove(Out, 0, Config.BorderLeft);

  // "REC" while recording, the sleep setting from its column on; then blanks up to
  // ItemWidth, or cut after it.
  std::string Line(SleepTextColumn, ' ');
  if (Save.Mode == ModeRecording) Line.replace(0, 3, "REC");
  if (Save.SleepPeriod == 0) {
    Line.append("SLEEP OFF");
  } else {
    AppendFormatted(&Line, "SLEEP %um", static_cast<unsigned>(Save.SleepPeriod));
  }
  Line.resize(static_cast<std::size_t>(ClampWidth(Config.ItemWidth)), ' ');
  Out->append(Line);
  Out->push_back('\n');
}

// Date and time to the minute, then blanks to ItemWidth, cut after ItemWidth. A time the
// calendar cannot express shows as blanks.
void AppendClockLine(std::string* Out, const ConfigStruct& Config) {
  AppendCursorMove(Out, static_cast<std::int64_t>(DisplayHeight) - 1, Config.BorderLeft);
  char Clock[ClockTextSize] = "";
  std::time_t Now = Platform.Now();
  std::tm Local{};
  if (localtime_r(&Now, &Local) != nullptr) {
    std::snprintf(Clock, sizeof Clock, "%4.4u-%2.2u-%2.2u %2.2u:%2.2u",
                  static_cast<unsigned>(Local.tm_year + 1900),
                  static_cast<unsigned>(Local.tm_mon + 1), static_cast<unsigned>(Local.tm_mday),
                  static_cast<unsigned>(Local.tm_hour), static_cast<unsigned>(Local.tm_min));
  }
  AppendPadded(Out, Clock, Config.ItemWidth);
}

void AppendMenuScreen(std::string* Out, int MenuRows, const ConfigStruct& Config,
                      const ConfigSaveStruct& Save) {
  AppendMenuWindow(Out, MenuRows, Config, Save);
  AppendStatusLine(Out, Config, Save);
  AppendClockLine(Out, Config);
}

// Length of the well-formed UTF-8 sequence at Text (Left bytes remain), with its code
// point in Code; 0 when the bytes there are no such sequence (a lone byte, a cut or
// overlong sequence, a surrogate, or beyond U+10FFFF).
std::size_t Utf8SequenceAt(const unsigned char* Text, std::size_t Left, std::uint32_t* Code) {
  unsigned char Lead = Text[0];
  std::size_t Length = 0;
  std::uint32_t Least = 0;
  if (Lead < 0x80) {
    *Code = Lead;
    return 1;
  }
  if (Lead >= 0xC0 && Lead < 0xE0) {
    Length = 2;
    Least = 0x80;
    *Code = Lead & 0x1Fu;
  } else if (Lead >= 0xE0 && Lead < 0xF0) {
    Length = 3;
    Least = 0x800;
    *Code = Lead & 0x0Fu;
  } else if (Lead >= 0xF0 && Lead < 0xF8) {
    Length = 4;
    Least = 0x10000;
    *Code = Lead & 0x07u;
  } else {
    return 0;  // a continuation byte, or no lead byte at all
  }
  if (Length > Left) return 0;
  for (std::size_t Index = 1; Index < Length; ++Index) {
    if ((Text[Index] & 0xC0u) != 0x80u) return 0;
    *Code = (*Code << 6) | (Text[Index] & 0x3Fu);
  }
  if (*Code < Least || *Code > 0x10FFFF || (*Code >= 0xD800 && *Code <= 0xDFFF)) return 0;
  return Length;
}

bool IsControlCharacter(std::uint32_t Code) {
  return Code < 0x20 || (Code >= 0x7F && Code <= 0x9F);  // C0, DEL and C1
}

// A recording's name as the list shows it. Anyone who can write to the capture folder
// chooses these names, so every control character becomes "?": C0, DEL, and C1 whether
// UTF-8 encoded or a lone byte (which a console not in UTF-8 mode obeys). A name can then
// neither move the cursor, erase the screen, retitle the terminal nor change its modes.
// Printable UTF-8 is kept; other lone bytes are harmless and kept too.
std::string ShowableName(const char* Name) {
  const unsigned char* At = reinterpret_cast<const unsigned char*>(Name);
  std::size_t Left = TextLength(Name);
  std::string Shown;
  Shown.reserve(Left);
  while (Left > 0) {
    std::uint32_t Code = 0;
    std::size_t Length = Utf8SequenceAt(At, Left, &Code);
    if (Length == 0) {
      Length = 1;
      Code = At[0];
    }
    if (IsControlCharacter(Code)) {
      Shown.push_back('?');
    } else {
      Shown.append(reinterpret_cast<const char*>(At), Length);
    }
    At += Length;
    Left -= Length;
  }
  return Shown;
}

// Screen row r (0 to H - 2) shows entry DirPos - H/2 + r; rows without an entry stay blank.
void AppendPlayList(std::string* Out, const ConfigStruct& Config) {
  std::int64_t Height = DisplayHeight;
  std::int64_t Offset = static_cast<std::int64_t>(Config.DirPos) - Height / 2;
  std::int64_t First = Offset >= 0 ? 0 : -Offset;
  std::int64_t Last = Height - 2;
  if (Offset + Last > DirListSize - 1) Last = DirListSize - 1 - Offset;
  for (std::int64_t Row = First; Row <= Last; ++Row) {
    std::int64_t Entry = Offset + Row;
    const char* Name = Config.DirList[Entry];
    if (Name == nullptr) continue;
    if (Entry == Config.DirPos) {
      // No reset first: these override whatever the previous row left.
      for (Sgr Value : {SgrBold, SgrBlack, SgrOnYellow}) SetRendition(Out, Value);
    } else {
      for (Sgr Value : {SgrReset, SgrBold, SgrWhite}) SetRendition(Out, Value);
    }
    AppendCursorMove(Out, Row + 1, 1);
    AppendPadded(Out, ShowableName(Name).c_str(), DisplayWidth);
  }
  SetRendition(Out, SgrReset);
}

void AppendErrorLine(std::string* Out, const char* Error) {
  AppendFormatted(Out, "%c7", Esc);
  for (Sgr Value : {SgrBold, SgrWhite, SgrOnRed}) SetRendition(Out, Value);
  if (Error != nullptr) Out->append(Error);
  // Blanks to the screen's width, so no tail of a longer line under it stays in view.
  const std::size_t Width = static_cast<std::size_t>(ClampWidth(DisplayWidth));
  const std::size_t Length = TextLength(Error);
  if (Length < Width) Out->append(Width - Length, ' ');
  Out->push_back('\n');
  AppendFormatted(Out, "%c8", Esc);
}

// The columns the error lines' text takes: the menu's, from BORDER_LEFT over ITEM_WIDTH,
// where the small preview window beside the menu covers nothing; the whole line when the
// menu has no width. Held on the screen.
struct ErrorColumns {
  int First;
  int Width;
};
ErrorColumns ErrorColumnsFor(const ConfigStruct& Config) {
  const int ScreenWidth = ClampWidth(DisplayWidth);
  ErrorColumns Columns{1, ScreenWidth};
  if (Config.ItemWidth <= 0) return Columns;
  if (Config.BorderLeft >= 1 && Config.BorderLeft <= ScreenWidth) Columns.First = Config.BorderLeft;
  Columns.Width = std::max(1, std::min(Config.ItemWidth, ScreenWidth - Columns.First + 1));
  return Columns;
}

// Message cut into lines of at most Width characters: broken at the last blank that fits,
// else at Width (not inside a UTF-8 character).
std::vector<std::string> WrapMessage(const std::string& Message, int Width) {
  std::vector<std::string> Lines;
  const auto Room = static_cast<std::size_t>(Width < 1 ? 1 : Width);
  std::size_t Start = 0;
  while (Start < Message.size()) {
    while (Start < Message.size() && Message[Start] == ' ') ++Start;  // no blank to begin
    if (Start == Message.size() && !Lines.empty()) break;
    std::size_t End = Message.size();
    std::size_t Next = End;
    if (End - Start > Room) {
      const std::size_t Blank = Message.rfind(' ', Start + Room);
      if (Blank != std::string::npos && Blank > Start) {
        End = Blank;
        Next = Blank + 1;
      } else {
        End = Start + Room;
        while (End > Start + 1 && (static_cast<unsigned char>(Message[End]) & 0xC0u) == 0x80u)
          --End;
        Next = End;
      }
    }
    Lines.push_back(Message.substr(Start, End - Start));
    Start = Next;
  }
  return Lines;
}

// The kept messages from line 1 down, each wrapped to the menu's columns; the last screen
// line is never used, since the error line's line feed would scroll the screen there. The
// cursor goes home again, where every redraw leaves it.
void AppendKeptErrorLines(std::string* Out, const ConfigStruct& Config) {
  const std::vector<std::string>& Reports = KeptErrorLines();
  if (Reports.empty()) return;
  const ErrorColumns Columns = ErrorColumnsFor(Config);
  std::int64_t Line = 1;
  for (const std::string& Report : Reports) {
    for (const std::string& Piece : WrapMessage(Report, Columns.Width)) {
      if (Line >= DisplayHeight) break;
      AppendCursorMove(Out, Line++, Columns.First);
      AppendErrorLine(Out, Piece.c_str());
    }
  }
  AppendFormatted(Out, "%c[H", Esc);
}

}  // namespace

std::string ComposeDisplay(int MenuCols, int MenuRows, const ConfigStruct& Config,
                           const ConfigSaveStruct& Save) {
  (void)MenuCols;  // every slot falls in the first column
  std::string Out;
  SetRendition(&Out, SgrReset);
  AppendFormatted(&Out, "%c[2J", Esc);
  if (Save.Mode == ModePlayList) {
    AppendPlayList(&Out, Config);
  } else {
    AppendMenuScreen(&Out, MenuRows, Config, Save);
  }
  AppendFormatted(&Out, "%c[H", Esc);
  return Out;
}

int MenuItemRows(int ItemHeight) {
  return ItemHeight == 0 ? MenuLines : ItemHeight;
}

void UpdateDisplay(int MenuCols, int MenuRows, const ConfigStruct* Config,
                   const ConfigSaveStruct* Save) {
  if (Config == nullptr || Save == nullptr) return;
  std::string Screen = ComposeDisplay(MenuCols, MenuRows, *Config, *Save);
  AppendKeptErrorLines(&Screen, *Config);
  // One write, so a slow console shows whole frames.
  Platform.WriteOutput(Screen.data(), Screen.size());
}

void DisplayError(const char* Error) {
  std::string Line;
  AppendErrorLine(&Line, Error);
  Platform.WriteOutput(Line.data(), Line.size());
  if (Error != nullptr) KeepErrorLine(Error);
}
