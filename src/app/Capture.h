// Command templates: placeholder expansion and the capture started by Space.
#pragma once

// Replaces the menu placeholders "[0]", "[1]", ... by keyword and committed value, then
// "[PREVIEW_SIZE]". Command is a TextSize buffer; a longer result is cut at 4096
// characters and false returned.
bool ExpandMenuPlaceholders(char* Command);

// What Space in the menu does next.
enum class CapturePlan {
  Command,   // run the capture command
  PlayList,  // open the playback list
  Refused,   // nothing: the reason is on the error line, mode and number unchanged
};

// Builds the capture command into Execute (a TextSize buffer) and decides whether it may
// run. A command that writes "[FILENAME]" needs its folder present, writable and with
// room, and takes the first number from ID on whose file name is not taken yet; a command
// longer than 4096 characters is refused. For Command, ID is already the next number.
CapturePlan PlanCapture(char* Execute);

// Carries out a plan (the camera tools stopped by then): runs the command and sets the
// recording mode, or opens the playback list; then saves the state and requests a
// redraw. A refused plan does nothing.
void RunCapture(CapturePlan Plan, const char* Execute);

// PlanCapture and RunCapture in one; false when refused.
bool StartCapture();

// Builds the capture command from the template into Execute (a TextSize buffer) without
// any check or running it; advances ID by one. Returns false when the template is "PLAY".
bool BuildCaptureCommand(char* Execute);
