// The fixed shell commands: stopping and asking after the camera tools and the player.
#pragma once

#include <string>
#include <string_view>

// Stops every camera tool: "killall -9 NAME 2> /dev/null" for each camera process name,
// in order.
void StopCameraTools();
// Stops the player: "killall -9 NAME 2> /dev/null" for the player's process name.
void StopPlayer();
// First line of the process query into Out (Size bytes); empty when none runs.
// "ps h -o cmd -C A -C B ..." over the camera process names, or over the player's name.
// The camera query returns false when the query itself could not be run.
bool QueryCameraTools(char* Out, int Size);
void QueryPlayer(char* Out, int Size);

// The command lines the functions above run, built from ThisConfig's process names.
std::string KillCommandFor(const char* ProcessName);
std::string CameraQueryCommandText();
std::string PlayerQueryCommandText();

// True when Word reaches the shell as one plain word that no tool takes for an option: not
// empty, not starting with "-", and every character a letter, a digit, one of "._+-" or one
// of AlsoAllowed. Process names and recording names both pass this one rule.
bool IsPlainShellWord(std::string_view Word, std::string_view AlsoAllowed);

// True when Name may be handed to killall and ps as a process name: a plain shell word of
// 1 to 15 characters with no other punctuation (ps -C reads "," as a list separator).
bool IsSafeProcessName(const std::string& Name);

// The first word of CommandLine when the shell would look it up as a command on PATH: a
// plain word (no quoting, expansion or assignment) that is no keyword or built-in command
// of the shell. Empty when there is none, or when it cannot be told without running it.
std::string LookedUpCommand(const char* CommandLine);

// The command CommandLine starts when the shell would not find it; empty when it would or
// cannot be told. Each name is looked up once in a run: no process, a few file checks.
std::string MissingCommand(const char* CommandLine);

// Shows Label, the missing command's name and "." on the error line when CommandLine's
// command cannot be found ("Camera tool not found: rpicam-hello."), unless the error
// lines show it already.
void ReportMissingCommand(const char* CommandLine, const char* Label);

// The label for a preview or capture command whose tool cannot be found.
constexpr const char* CameraToolMissingLabel = "Camera tool not found: ";

// Forgets the names looked up (with the rest of the program state, between tests).
void ForgetCommandLookups();
