// The program-wide records and flags through which the parts of the camera talk.
#pragma once

#include <csignal>
#include <cstdint>

#include "common/Common.h"
#include "pins/Pins.h"

constexpr int MenuCount = 64;       // menus 0-63
constexpr int MenuEntryCount = 64;  // entry 0 is the title/keyword, items 1-63
constexpr int DirListSize = 512;
constexpr int SwitchCount = 10;
constexpr int OutSwitchCount = 5;
// Process names of the camera tools and the player: at most 4 camera tools, and at most
// 15 characters a name (what the kernel keeps of a process name, which ps -C matches).
constexpr int CameraProcessMax = 4;
constexpr int ProcessNameSize = 16;

// Timer-tick arithmetic (one tick is 75 ms).
constexpr int TickMicroseconds = 75000;
constexpr int SleepTicksPerUnit = 400;
constexpr int PreviewReload = 10;
constexpr int AutoSaveReload = 800;
constexpr int RedrawReload = 800;

// Flags hold -1 for set and 0 for clear.
constexpr int FlagSet = -1;

// Modes of the main loop.
constexpr int ModeIdle = 0;
constexpr int ModeRecording = 1;
constexpr int ModePreview = 2;
constexpr int ModePlayList = 3;

constexpr const char* ConfigFileName = "Harrowlight.ini";
constexpr const char* StateFileName = "CONFIG.DAT";

struct ConfigStruct {
  int BorderTop;
  int BorderLeft;
  int ItemWidth;
  int ItemHeight;
  int GPIO_LED;  // index into OutSwitch
  int GPIO_LCD;  // index into OutSwitch
  int Switch[SwitchCount];
  int OutSwitch[OutSwitchCount];
  char* Menu[MenuCount][MenuEntryCount];
  char* MenuValue[MenuCount][MenuEntryCount];
  char Play[TextSize];
  char PreviewSmall[TextSize];
  char PreviewLarge[TextSize];
  char Preview[TextSize];
  char Directory[TextSize];
  char Filename[TextSize];
  int DirPos;
  char* DirList[DirListSize];
  // Names of the processes that the stop commands and process queries look for. Empty
  // entries mean the built-in raspistill/raspivid and omxplayer.bin; the camera names
  // fill the table from entry 0.
  char CameraProcess[CameraProcessMax][ProcessNameSize];
  char PlayerProcess[ProcessNameSize];
  // "GPIO_CHIP": the GPIO character device (a path, or a chip label) used when the register
  // page cannot be mapped; empty means the first chip with a Raspberry Pi label.
  char GpioChip[TextSize];
  // Free space (MiB) a capture folder must have before a capture runs; 0 or less: no check.
  int CaptureMinFreeMiB;
  // "CONSOLE_PALETTE": non-zero (the default) sets the readable palette on a Linux virtual
  // console for the run; 0 leaves the console's colours alone.
  int ConsolePalette;
};

// The saved state: 70 signed 32-bit integers, stored whole in CONFIG.DAT.
struct ConfigSaveStruct {
  std::int32_t ID;
  std::int32_t MenuPos;
  std::int32_t MenuItemPos;
  std::int32_t MenuSelection[MenuCount];
  std::int32_t SleepPeriod;
  std::int32_t Mode;
  std::int32_t PreviewSize;
};
static_assert(sizeof(ConfigSaveStruct) == 280, "CONFIG.DAT holds exactly 280 bytes");

extern ConfigStruct ThisConfig;
extern ConfigSaveStruct ThisConfigSave;

extern std::uint32_t GPIO_Input_Pin[PinListSize];
extern std::uint32_t GPIO_Output_Pin[PinListSize];
// Number of pins read into GPIO_Input_Pin / GPIO_Output_Pin by the last ReadConfig.
extern int InputPinCount;
extern int OutputPinCount;

extern int ExitFlag;
// The process exit status once the loop has ended: 0, or PowerOffStatus after "SHUTDOWN",
// which asks whoever started the program (the service) to power the system off.
constexpr int PowerOffStatus = 3;
extern int ExitStatus;
// Set when a termination signal asks the run to end through the shutdown. Signal handlers
// set it, so it is a sig_atomic_t.
extern volatile std::sig_atomic_t ExitRequested;
extern int Refresh;
extern int TimePeriod;
extern int PreviewCount;
extern int AutoSaveCount;
extern int SleepCount;
extern int DisplayWidth;
extern int DisplayHeight;

// Menu grid shape used by every redraw: one column of menus, Rows menu slots high.
constexpr int Cols = 1;
extern int Rows;

// Drive output Index (of OutSwitch) high or low through the pins module; nothing for an
// index out of range or a pin that no route reaches.
void SetOutSwitch(int Index);
void ClearOutSwitch(int Index);

// Ticks of one unit of SleepPeriod: SleepTicksPerUnit (30 s). A program may link its own
// definition instead; the simulated-GPIO test build does, to shorten the idle wait.
int SleepUnitTicks();

// SleepPeriod x SleepUnitTicks() ticks, saturated so a huge period cannot overflow.
int SleepTicksFor(int SleepPeriod);

// Releases the playback-list names (before a new scan).
void ReleasePlayList();
// Releases every menu text and playback-list name (shutdown, and ResetProgramState).
void ReleaseConfigTexts();
