// Reading Harrowlight.ini into ThisConfig and configuring the GPIO pins it names.
#pragma once

// Sets the defaults, reads the file, then sets up the pins it names and drives every output
// high (SetUpPins). A missing file keeps the defaults and leaves the pins alone. Lines
// naming a menu, button or output outside the tables, or a pin beyond a full list, are
// ignored; menu pieces beyond 64 are dropped and texts are cut to 4096 characters.
// "CAMERA_PROCESSES" (1-4 blank-separated names) and "PLAYER_PROCESS" (one name) name the
// processes that are stopped and looked for; without them the built-in names hold, and a
// line with an unsafe name (see IsSafeProcessName) is ignored.
void ReadConfig(const char* Filename);
