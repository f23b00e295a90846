// The fixed shell commands: stopping and asking after the camera tools and the player.
#pragma once

#include <string>

// The commands as they stand while no process names are configured.
constexpr const char* KillStillCommand = "killall -9 raspistill 2> /dev/null";
constexpr const char* KillVideoCommand = "killall -9 raspivid 2> /dev/null";
constexpr const char* KillPlayerCommand = "killall -9 omxplayer.bin 2> /dev/null";
constexpr const char* CameraQueryCommand = "ps h -o cmd -C raspistill -C raspivid";
constexpr const char* PlayerQueryCommand = "ps h -o cmd -C omxplayer.bin";

// The process names used when the configuration names none.
constexpr const char* DefaultCameraProcesses[] = {"raspistill", "raspivid"};
constexpr const char* DefaultPlayerProcess = "omxplayer.bin";

// Stops every camera tool: "killall -9 NAME 2> /dev/null" for each camera process name,
// in order.
void StopCameraTools();
// Stops the player: "killall -9 NAME 2> /dev/null" for the player's process name.
void StopPlayer();
// First line of the process query into Out (Size bytes); empty when none runs.
// "ps h -o cmd -C A -C B ..." over the camera process names, or over the player's name.
void QueryCameraTools(char* Out, int Size);
void QueryPlayer(char* Out, int Size);

// The command lines the functions above run, built from ThisConfig's process names.
std::string KillCommandFor(const char* ProcessName);
std::string CameraQueryCommandText();
std::string PlayerQueryCommandText();

// True when Name may be handed to killall and ps as a process name: 1 to 15 characters,
// each a letter, digit, ".", "_", "+" or "-", and not starting with "-" (which the tools
// would take for an option). These names reach the shell, so nothing else is accepted.
bool IsSafeProcessName(const std::string& Name);
