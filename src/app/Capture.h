// Command templates: placeholder expansion and the capture started by Space.
#pragma once

// Replaces the menu placeholders "[0]", "[1]", ... by keyword and committed value, then
// "[PREVIEW_SIZE]". Command is a TextSize buffer; the result is cut at 4096 characters.
void ExpandMenuPlaceholders(char* Command);

// Builds and runs the capture command chosen in the "EXEC" menu, or opens the playback
// list for "PLAY"; then saves the state and requests a redraw.
void StartCapture();

// Builds the capture command from the template into Execute (a TextSize buffer) without
// running it; advances ID. Returns false when the template is "PLAY".
bool BuildCaptureCommand(char* Execute);
