// In-place text helpers: trimming, placeholder replacement and bounded copy/append.
#include "common/Common.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

bool IsTrailingSpace(char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

// A leading carriage return or line feed is kept: only blanks and tabs are skipped.
bool IsLeadingSpace(char C) {
  return C == ' ' || C == '\t';
}

// Appends Length bytes of Source to the text of Used bytes in Buffer (of TextSize bytes),
// keeping at most TextSize - 1 characters. Returns the new length.
std::size_t AppendBounded(char* Buffer, std::size_t Used, const char* Source, std::size_t Length) {
  const std::size_t Room = TextSize - 1 - Used;
  const std::size_t Count = Length < Room ? Length : Room;
  std::memcpy(Buffer + Used, Source, Count);
  Buffer[Used + Count] = '\0';
  return Used + Count;
}

}  // namespace

int ParseDecimal(const char* Text) {
  const long Value = std::strtol(Text, nullptr, 10);
  if (Value > INT_MAX) return INT_MAX;
  if (Value < INT_MIN) return INT_MIN;
  return static_cast<int>(Value);
}

bool MatchesKey(const char* Text, const char* Key, KeyMatch Match) {
  if (Match == KeyMatch::Exact) return std::strcmp(Text, Key) == 0;
  return std::strncmp(Text, Key, std::strlen(Key)) == 0;
}

char* StrTrim(char* String) {
  std::size_t Length = std::strlen(String);
  while (Length > 0 && IsTrailingSpace(String[Length - 1])) --Length;
  String[Length] = '\0';

  char* First = String;
  while (IsLeadingSpace(*First)) ++First;
  return First;
}

char* StrReplace(char* String, const char* Find, const char* Replace) {
  const std::size_t FindLength = std::strlen(Find);
  if (FindLength == 0) return String;  // nothing to look for; also avoids an endless search

  char Scratch[TextSize];
  std::memset(Scratch, 0, sizeof Scratch);
  const std::size_t ReplaceLength = std::strlen(Replace);
  std::size_t Used = 0;

  const char* Rest = String;
  for (const char* Match = std::strstr(Rest, Find); Match != nullptr;
       Match = std::strstr(Rest, Find)) {
    Used = AppendBounded(Scratch, Used, Rest, static_cast<std::size_t>(Match - Rest));
    Used = AppendBounded(Scratch, Used, Replace, ReplaceLength);
    Rest = Match + FindLength;  // search on in the original text, never in the insert
  }
  AppendBounded(Scratch, Used, Rest, std::strlen(Rest));

  std::memcpy(String, Scratch, std::strlen(Scratch) + 1);
  return String;
}

char* StrCopy(char* Dest, const char* Source, std::size_t DestSize) {
  if (DestSize == 0) return Dest;
  const std::size_t Length = strnlen(Source, DestSize - 1);
  std::memmove(Dest, Source, Length);
  Dest[Length] = '\0';
  return Dest;
}

char* StrAppend(char* Dest, const char* Source, std::size_t DestSize) {
  const std::size_t Used = strnlen(Dest, DestSize);
  if (Used >= DestSize) return Dest;  // no terminator inside the buffer: leave it alone
  StrCopy(Dest + Used, Source, DestSize - Used);
  return Dest;
}

std::size_t StrReplacedLength(const char* String, const char* Find, const char* Replace) {
  const std::size_t Length = std::strlen(String);
  const std::size_t FindLength = std::strlen(Find);
  if (FindLength == 0) return Length;
  std::size_t Count = 0;
  for (const char* At = std::strstr(String, Find); At != nullptr;
       At = std::strstr(At + FindLength, Find)) {
    ++Count;
  }
  return Length - Count * FindLength + Count * std::strlen(Replace);
}

std::string DirectoryOf(const std::string& Path) {
  const std::string::size_type Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  if (Slash == 0) return "/";
  return Path.substr(0, Slash);
}
