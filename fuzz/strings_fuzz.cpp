// Fuzz target: trimming and placeholder replacement, checked against plain std::string
// versions, and the bounded copy and append.
//
// Input: three fields separated by zero bytes: the text ("*N text" repeats it to N
// characters), the text to find and its replacement.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzSupport.h"

namespace {

using fuzzsupport::GuardedText;

std::string ReferenceReplace(const std::string& Text, const std::string& Find,
                             const std::string& Replace) {
  if (Find.empty()) return Text;
  std::string Result;
  std::size_t From = 0;
  for (std::size_t At = Text.find(Find); At != std::string::npos; At = Text.find(Find, From)) {
    Result.append(Text, From, At - From);
    Result += Replace;
    From = At + Find.size();
  }
  Result.append(Text, From, std::string::npos);
  return Result;
}

std::string ReferenceTrim(const std::string& Text) {
  const std::size_t Last = Text.find_last_not_of(" \t\r\n");
  if (Last == std::string::npos) return std::string();
  const std::string Kept = Text.substr(0, Last + 1);
  const std::size_t First = Kept.find_first_not_of(" \t");
  return Kept.substr(First);
}

// A heap copy of exactly the text's size, so a read past its end is caught.
std::unique_ptr<char[]> ExactCopy(const std::string& Text) {
  std::unique_ptr<char[]> Copy(new char[Text.size() + 1]);
  std::memcpy(Copy.get(), Text.c_str(), Text.size() + 1);
  return Copy;
}

void CheckReplace(const std::string& Text, const std::string& Find, const std::string& Replace) {
  GuardedText Buffer(Text);
  const std::string Before = Buffer.Text;
  auto FindCopy = ExactCopy(Find);
  auto ReplaceCopy = ExactCopy(Replace);
  FUZZ_CHECK(StrReplace(Buffer.Text, FindCopy.get(), ReplaceCopy.get()) == Buffer.Text);
  FUZZ_CHECK(Buffer.CanariesIntact());
  FUZZ_CHECK(Buffer.Terminated());
  // Equal to the plain version, cut at 4096 characters when longer.
  const std::string Expected = ReferenceReplace(Before, Find, Replace).substr(0, TextSize - 1);
  FUZZ_CHECK(Expected == Buffer.Text);
}

void CheckTrim(const std::string& Text) {
  auto Copy = ExactCopy(Text);
  char* Start = StrTrim(Copy.get());
  FUZZ_CHECK(Start >= Copy.get() && Start <= Copy.get() + Text.size());
  FUZZ_CHECK(ReferenceTrim(Text) == Start);
}

void CheckCopyAndAppend(const std::string& Text, const std::string& Tail) {
  for (std::size_t Size : {std::size_t{1}, std::size_t{2}, std::size_t{17}, TextSize}) {
    std::unique_ptr<char[]> Dest(new char[Size]);
    StrCopy(Dest.get(), Text.c_str(), Size);
    FUZZ_CHECK(std::string(Dest.get()) == Text.substr(0, Size - 1));
    StrAppend(Dest.get(), Tail.c_str(), Size);
    FUZZ_CHECK(std::string(Dest.get()) == (Text.substr(0, Size - 1) + Tail).substr(0, Size - 1));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const char* Cursor = reinterpret_cast<const char*>(Data);
  const char* End = Cursor + Size;
  const std::string Text = fuzzsupport::ExpandRepeat(fuzzsupport::NextField(&Cursor, End, '\0'));
  const std::string Find = fuzzsupport::NextField(&Cursor, End, '\0');
  const std::string Replace = fuzzsupport::NextField(&Cursor, End, '\0');

  CheckTrim(Text);
  CheckReplace(Text, Find, Replace);
  CheckCopyAndAppend(Text, Replace);
  return 0;
}
