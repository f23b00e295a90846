#include "app/Capture.h"
void ExpandMenuPlaceholders(char*) {}
void StartCapture() {}
bool BuildCaptureCommand(char*) { return false; }
