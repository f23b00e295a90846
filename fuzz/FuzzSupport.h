// Helpers shared by the fuzz targets: quiet platform hooks, a scratch file, guarded
// text buffers and a way for short inputs to reach the 4096-character limits.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/Common.h"
#include "platform/Platform.h"

namespace fuzzsupport {

// Stops the run with a message when a property does not hold; libFuzzer keeps the input.
#define FUZZ_CHECK(Condition)                                                               \
  do {                                                                                      \
    if (!(Condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #Condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

inline void DropOutput(const char*, std::size_t) {}
inline void NoShell(const char*) {}
inline bool NoFirstLine(const char*, char* Out, int Size) {
  if (Size > 0) Out[0] = 0;
  return true;
}
inline int NoInput(unsigned char*) {
  return 0;
}
inline int NoWait(int) {
  return 0;
}
inline int FolderIsFine(const char*, std::uint64_t* FreeBytes) {
  *FreeBytes = UINT64_MAX;
  return 0;
}
inline bool CommandThere(const char*) {
  return true;
}
inline int FolderMade(const char*) {
  return 0;
}
inline std::vector<std::string> EmptyFolder(const char*) {
  return {};
}
inline std::time_t FixedNow() {
  return 0;
}
inline std::int64_t FixedSteadyMs() {
  return 0;
}

// Hooks that reach nothing outside the process; targets replace the ones they script.
inline PlatformHooks QuietPlatform() {
  PlatformHooks Hooks = ProductionPlatform();
  Hooks.RunShell = NoShell;
  Hooks.ReadFirstLine = NoFirstLine;
  Hooks.Now = FixedNow;
  Hooks.MonotonicMs = FixedSteadyMs;
  Hooks.ReadInputByte = NoInput;
  Hooks.WaitForInput = NoWait;
  Hooks.WriteOutput = DropOutput;
  Hooks.InspectFolder = FolderIsFine;
  Hooks.MakeFolder = FolderMade;
  Hooks.CommandFound = CommandThere;
  Hooks.ListFolder = EmptyFolder;
  return Hooks;
}

// A file of this process's own under the temporary directory, rewritten for every input.
class ScratchFile {
 public:
  ScratchFile() {
    const char* Dir = std::getenv("TMPDIR");
    Path_ = std::string(Dir != nullptr && Dir[0] != 0 ? Dir : "/tmp") + "/harrowlight-fuzz-" +
            std::to_string(static_cast<long>(getpid()));
  }
  ~ScratchFile() { std::remove(Path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const char* Write(const void* Data, std::size_t Size) {
    std::FILE* File = std::fopen(Path_.c_str(), "wb");
    if (File == nullptr) std::abort();
    if (Size > 0 && std::fwrite(Data, 1, Size, File) != Size) std::abort();
    std::fclose(File);
    return Path_.c_str();
  }

 private:
  std::string Path_;
};

// A TextSize buffer between two canaries, for writes past either end that stay inside the
// object (and so out of AddressSanitizer's sight).
struct GuardedText {
  static constexpr unsigned char Fill = 0xA5;
  unsigned char Before[32];
  char Text[TextSize];
  unsigned char After[32];

  explicit GuardedText(const std::string& Initial = std::string()) {
    std::memset(Before, Fill, sizeof Before);
    std::memset(After, Fill, sizeof After);
    StrCopy(Text, Initial.c_str(), TextSize);
  }
  bool CanariesIntact() const {
    for (unsigned char Byte : Before)
      if (Byte != Fill) return false;
    for (unsigned char Byte : After)
      if (Byte != Fill) return false;
    return true;
  }
  // True when the text ends inside the buffer, so it holds at most 4096 characters.
  bool Terminated() const { return strnlen(Text, TextSize) < TextSize; }
};

// A text field of an input: "*N rest" stands for rest repeated up to N characters (at most
// 9000), so a short input can reach and pass the 4096-character limits.
inline std::string ExpandRepeat(const std::string& Field) {
  constexpr unsigned long MaxLength = 9000;
  if (Field.size() < 3 || Field[0] != '*') return Field;
  char* End = nullptr;
  unsigned long Length = std::strtoul(Field.c_str() + 1, &End, 10);
  if (End == Field.c_str() + 1 || *End != ' ') return Field;
  std::string Unit = Field.substr(static_cast<std::size_t>(End - Field.c_str()) + 1);
  if (Unit.empty()) return std::string();
  if (Length > MaxLength) Length = MaxLength;
  std::string Result;
  while (Result.size() < Length) Result += Unit;
  Result.resize(Length);
  return Result;
}

// Splits Data at every Separator byte (the last field may be empty).
inline std::string NextField(const char** Cursor, const char* End, char Separator) {
  const char* Start = *Cursor;
  const char* Stop = static_cast<const char*>(
      std::memchr(Start, Separator, static_cast<std::size_t>(End - Start)));
  if (Stop == nullptr) Stop = End;
  *Cursor = Stop == End ? End : Stop + 1;
  return std::string(Start, static_cast<std::size_t>(Stop - Start));
}

}  // namespace fuzzsupport
