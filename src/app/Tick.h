// The 75 ms timer tick: backlight sleep, preview watchdog, automatic save, periodic redraw.
#pragma once

// Shown once on the error line when the process query cannot be run, until it runs again.
constexpr const char* CameraCheckFailedMessage = "Cannot check the camera tools.";

// Forgets that the failed query was shown, so its next failure is shown again.
void ForgetCameraCheckFailure();

// One tick's work. Runs in the main loop, never inside a signal handler.
void Timer(int signum);

// Collects every ended child process without waiting (the program is their subreaper).
void CollectEndedChildren();
