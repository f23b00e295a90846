// Menu keys: walking the menus, committing selections, power actions, capture start/stop.
#pragma once

// Handles one iteration's key text in Mode 0 and 2, and Space in Mode 1.
void HandleMenuKeys(char* Keys);

// Runs the power action named by Value ("OFF", "HIDE MENU", "LED OFF", "LED ON", "SLEEP n",
// "SHUTDOWN").
void RunPowerAction(const char* Value);

// After the saved state is loaded: in every power menu, a committed item that runs
// "SHUTDOWN", and such an item shown in the highlighted menu, become the menu's first item
// that neither halts nor quits (failing that, the first that does not halt), so one Enter
// after power-on cannot halt the camera again.
void StepOffShutdownItems();
