// String utilities shared by the configuration reader and the command builders.
#pragma once

#include <cstddef>
#include <string>

// The escape character that begins every terminal control sequence and arrow key.
constexpr char Esc = 27;

// Size of every text buffer in the program: 4096 characters and the terminator.
constexpr std::size_t TextSize = 4097;

// Reads a decimal number the way atoi does (leading blanks, optional sign, digits up to the
// first other character; 0 without digits), except that a number beyond the int range is
// held at its limit instead of overflowing.
int ParseDecimal(const char* Text);

// How a rule's key meets a text: the whole text, or its beginning.
enum class KeyMatch { Exact, Prefix };

// True when Text is Key (Exact) or begins with Key (Prefix).
bool MatchesKey(const char* Text, const char* Key, KeyMatch Match);

// Cuts trailing blanks, tabs, carriage returns and line feeds off `String` in place and
// returns a pointer to its first character that is not a leading blank or tab.
char* StrTrim(char* String);

// Replaces every occurrence of `Find` in `String` by `Replace`, in place, without looking
// into inserted text, and returns `String`. `String` must be a buffer of `TextSize` bytes;
// a result longer than 4096 characters is cut there. An empty `Find` changes nothing.
char* StrReplace(char* String, const char* Find, const char* Replace);

// Copies `Source` into `Dest` (a buffer of `DestSize` bytes), cutting it to fit and always
// terminating it. Returns `Dest`.
char* StrCopy(char* Dest, const char* Source, std::size_t DestSize);

// Appends `Source` to the text in `Dest` (a buffer of `DestSize` bytes), cutting it to fit.
char* StrAppend(char* Dest, const char* Source, std::size_t DestSize);

// Length the text would have after StrReplace(String, Find, Replace) if nothing were cut:
// more than 4096 means StrReplace would cut the result.
std::size_t StrReplacedLength(const char* String, const char* Find, const char* Replace);

// The directory part of a path: what comes before its last "/" ("/" for a file in the
// root, "." for a name without any "/").
std::string DirectoryOf(const std::string& Path);
