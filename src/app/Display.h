// Drawing the menu screen and the playback list, and the error line.
#pragma once

#include <string>

#include "app/Globals.h"

// Redraws the whole screen in one write to the terminal.
void UpdateDisplay(int MenuCols, int MenuRows, const ConfigStruct* Config,
                   const ConfigSaveStruct* Save);

// Composes the bytes of one redraw (what UpdateDisplay writes).
std::string ComposeDisplay(int MenuCols, int MenuRows, const ConfigStruct& Config,
                           const ConfigSaveStruct& Save);

// Shows a message in bold white on red at the cursor, keeping cursor and attributes.
void DisplayError(const char* Error);
