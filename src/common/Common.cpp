#include "common/Common.h"
char* StrTrim(char* String) { return String; }
char* StrReplace(char* String, const char*, const char*) { return String; }
char* StrCopy(char* Dest, const char*, std::size_t) { return Dest; }
char* StrAppend(char* Dest, const char*, std::size_t) { return Dest; }
