// Drawing the menu screen and the playback list, and the error line.
#pragma once

#include <string>

#include "state/Globals.h"

// Screen rows one menu takes: ITEM_HEIGHT, where 0 (the key missing) counts as the two
// lines (title and item) every menu draws. The number of menus shown and their placing
// both use it, so they always agree and no menu is drawn over another.
constexpr int MenuLines = 2;
int MenuItemRows(int ItemHeight);

// Redraws the whole screen in one write to the terminal.
void UpdateDisplay(int MenuCols, int MenuRows, const ConfigStruct* Config,
                   const ConfigSaveStruct* Save);

// Composes the bytes of one redraw (what UpdateDisplay writes).
std::string ComposeDisplay(int MenuCols, int MenuRows, const ConfigStruct& Config,
                           const ConfigSaveStruct& Save);

// Shows a message in bold white on red at the cursor, keeping cursor and attributes, and
// keeps it for the error lines of the following redraws (KeepErrorLine).
void DisplayError(const char* Error);
