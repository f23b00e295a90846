// Shared test fixture: puts the program-wide state back to its start values and replaces the
// outside world (shell, clock, terminal, GPIO chips) with recorders, so each test starts
// from a known state.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/MainLoop.h"
#include "platform/Platform.h"
#include "state/Globals.h"

// The fixed commands as they stand while no process names are configured.
constexpr const char* KillStillCommand = "killall -9 raspistill 2> /dev/null";
constexpr const char* KillVideoCommand = "killall -9 raspivid 2> /dev/null";
constexpr const char* KillPlayerCommand = "killall -9 omxplayer.bin 2> /dev/null";
constexpr const char* CameraQueryCommand = "ps h -o cmd -C raspistill -C raspivid";
constexpr const char* PlayerQueryCommand = "ps h -o cmd -C omxplayer.bin";

namespace testsupport {

// What the replaced hooks saw or will answer.
struct World {
  std::vector<std::string> Commands;         // every RunShell and ReadFirstLine command
  std::deque<std::string> FirstLineAnswers;  // answers for ReadFirstLine, in order
  std::string DefaultFirstLine;              // answer once the queue is empty
  bool QueriesCannotRun = false;             // ReadFirstLine fails as if popen had
  std::vector<std::string> MissingCommands;  // names CommandFound does not find
  std::vector<std::string> LookedUp;         // every name CommandFound was asked about
  std::time_t Clock = 0;                     // what Now returns
  std::int64_t SteadyMs = 0;                 // what MonotonicMs returns; waits advance it
  int MsPerByte = 0;                         // and so does each byte read, by this much
  std::deque<unsigned char> Input;           // bytes pending on standard input
  std::string Output;                        // everything written to standard output
  int WaitCalls = 0;
  // The capture folder as InspectFolder and ListFolder report it, whatever folder is
  // asked about; the folders asked about are noted.
  int FolderError = 0;
  std::uint64_t FreeBytes = UINT64_MAX;
  std::vector<std::string> FolderNames;
  std::vector<std::string> FoldersAsked;
  // MakeFolder notes each folder and answers MakeFolderError (0: made or there already).
  std::vector<std::string> FoldersMade;
  int MakeFolderError = 0;
};

World& TheWorld();

// Installs the recording hooks over Platform.
void InstallRecordingPlatform();

// A fixed local time for the clock hook, built with mktime.
std::time_t LocalTime(int Year, int Month, int Day, int Hour, int Minute, int Second);

// A fresh directory under /tmp, removed with everything in it when the object goes. With
// Enter, the current directory moves there for the object's life (for code that writes
// CONFIG.DAT into the current directory).
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const char* Purpose, bool Enter = false);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& Path() const { return Dir; }
  std::string File(const std::string& Name) const { return Dir + "/" + Name; }

 private:
  std::string Dir;
  std::string Previous;
};

// Stores Text as a heap copy the way the configuration reader would.
char* HeapText(const char* Text);

// Menu Menu's labels (ThisConfig.Menu) or values (ThisConfig.MenuValue) from entry 0 on,
// as heap copies in place of what stood there; a null text leaves its entry absent.
void MenuLabels(int Menu, std::initializer_list<const char*> Texts);
void MenuValues(int Menu, std::initializer_list<const char*> Texts);

// The 280 bytes EncodeState makes of State.
using Bytes = std::vector<unsigned char>;
Bytes Encoded(const ConfigSaveStruct& State);

class HarrowlightTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    InstallRecordingPlatform();
  }
  void TearDown() override {
    ResetProgramState();
    Platform = ProductionPlatform();
  }
  World& world() { return TheWorld(); }
};

}  // namespace testsupport
