// The kept failure messages: written at once, shown on the error lines until the next key.
#include "errors/ErrorLines.h"

#include <cstdarg>
#include <cstddef>

#include "common/Common.h"
#include "platform/Platform.h"

namespace {

// A few are enough to tell what went wrong, and the menu must stay visible below them.
constexpr std::size_t MaxKeptErrorLines = 8;
std::vector<std::string> ErrorLines;

}  // namespace

void ReportAtStartUp(const char* Format, ...) {
  char Line[TextSize];
  va_list Args;
  va_start(Args, Format);
  const std::size_t Size = FormatInto(Line, sizeof Line, Format, Args);
  va_end(Args);
  if (Size == 0) return;
  Platform.WriteOutput(Line, Size);
  if (Line[Size - 1] == '\n') Line[Size - 1] = 0;
  KeepErrorLine(Line);
}

void KeepErrorLine(const char* Message) {
  if (ErrorLines.size() >= MaxKeptErrorLines) return;
  for (const std::string& Kept : ErrorLines) {
    if (Kept == Message) return;  // a failure that repeats each tick takes one line
  }
  ErrorLines.emplace_back(Message);
}

const std::vector<std::string>& KeptErrorLines() {
  return ErrorLines;
}

void DismissErrorLines() {
  ErrorLines.clear();
}
