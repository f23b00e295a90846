// The fixed shell commands: stopping and asking after the camera tools and the player.
#pragma once

constexpr const char* KillStillCommand = "killall -9 raspistill 2> /dev/null";
constexpr const char* KillVideoCommand = "killall -9 raspivid 2> /dev/null";
constexpr const char* KillPlayerCommand = "killall -9 omxplayer.bin 2> /dev/null";
constexpr const char* CameraQueryCommand = "ps h -o cmd -C raspistill -C raspivid";
constexpr const char* PlayerQueryCommand = "ps h -o cmd -C omxplayer.bin";

void StopCameraTools();
void StopPlayer();
// First line of the process query into Out (Size bytes); empty when none runs.
void QueryCameraTools(char* Out, int Size);
void QueryPlayer(char* Out, int Size);
