// Menu keys: walking the menus, committing selections, power actions, capture start/stop.
#pragma once

// Handles one iteration's key text in Mode 0 and 2, and Space in Mode 1.
void HandleMenuKeys(char* Keys);

// Runs the power action named by Value ("OFF", "HIDE MENU", "LED OFF", "LED ON", "SLEEP n").
void RunPowerAction(const char* Value);
