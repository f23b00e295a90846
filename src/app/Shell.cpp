// The fixed shell commands that stop and look for the camera tools and the player.
#include "app/Shell.h"

#include "app/Platform.h"

void StopCameraTools() {
  Platform.RunShell(KillStillCommand);
  Platform.RunShell(KillVideoCommand);
}

void StopPlayer() { Platform.RunShell(KillPlayerCommand); }

void QueryCameraTools(char* Out, int Size) { Platform.ReadFirstLine(CameraQueryCommand, Out, Size); }

void QueryPlayer(char* Out, int Size) { Platform.ReadFirstLine(PlayerQueryCommand, Out, Size); }
