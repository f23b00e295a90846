// The saved state file: byte layout, loading with range checks, and replacing the file.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "app/MainLoop.h"
#include "app/SavedState.h"

namespace {

using testsupport::Bytes;
using testsupport::Encoded;

// A record whose every field differs, all within the ranges loading keeps.
ConfigSaveStruct SampleState() {
  ConfigSaveStruct State{};
  State.ID = 4711;
  State.MenuPos = 5;
  State.MenuItemPos = 3;
  for (int i = 0; i < MenuCount; ++i) State.MenuSelection[i] = 1 + i % 63;
  State.SleepPeriod = 15;
  State.Mode = ModePreview;
  State.PreviewSize = -1;
  return State;
}

Bytes Le(std::uint32_t Word) {
  return {static_cast<unsigned char>(Word), static_cast<unsigned char>(Word >> 8),
          static_cast<unsigned char>(Word >> 16), static_cast<unsigned char>(Word >> 24)};
}

Bytes At(const Bytes& Data, std::size_t Offset) {
  return Bytes(Data.begin() + static_cast<long>(Offset),
               Data.begin() + static_cast<long>(Offset) + 4);
}

class SavedStateTest : public testsupport::HarrowlightTest {
 protected:
  void WriteFile(const Bytes& Data) {
    std::ofstream Out(Path, std::ios::binary);
    Out.write(reinterpret_cast<const char*>(Data.data()), static_cast<long>(Data.size()));
  }
  Bytes FileBytes() const {
    std::ifstream In(Path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& Name) const { return std::filesystem::exists(Name); }
  // Saves in a child running as an ordinary user (root may write anywhere). The child's
  // status: 0 when the save was reported as a failure exactly when Reported says, 1 when
  // not, 2 when no ordinary user could be taken.
  int SaveAsOrdinaryUser(bool Reported) const {
    pid_t Child = fork();
    if (Child == 0) {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
      testsupport::TheWorld().Output.clear();
      SaveConfigBinary(Path.c_str());
      _exit(ReportedFailure() == Reported ? 0 : 1);
    }
    int Status = -1;
    if (Child < 0 || waitpid(Child, &Status, 0) != Child) return -1;
    return WEXITSTATUS(Status);
  }
  // A failed save is reported on the error line, naming the file.
  bool ReportedFailure() const {
    const std::string& Out = testsupport::TheWorld().Output;
    return Out.rfind(
               "\x1b"
               "7",
               0) == 0 &&
           Out.find("Failed to open file: " + Path + "\n") != std::string::npos;
  }

  testsupport::ScratchDirectory Scratch{"state"};
  const std::string& Directory = Scratch.Path();
  const std::string Path = Scratch.File("CONFIG.DAT");
};

// ---- Byte layout ----

TEST(StateEncoding, FieldsSitAtTheirOffsetsInLittleEndian) {
  ConfigSaveStruct State{};
  State.ID = 0x01020304;
  State.MenuPos = 7;
  State.MenuItemPos = 9;
  State.MenuSelection[0] = 0x0A0B0C0D;
  State.MenuSelection[63] = 63;
  State.SleepPeriod = 300;
  State.Mode = 3;
  State.PreviewSize = -2;

  Bytes Data = Encoded(State);

  EXPECT_EQ(At(Data, 0), (Bytes{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(At(Data, 4), Le(7));
  EXPECT_EQ(At(Data, 8), Le(9));
  EXPECT_EQ(At(Data, 12), (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(At(Data, 16), Le(0));
  EXPECT_EQ(At(Data, 264), Le(63));
  EXPECT_EQ(At(Data, 268), (Bytes{0x2C, 0x01, 0x00, 0x00}));
  EXPECT_EQ(At(Data, 272), Le(3));
  EXPECT_EQ(At(Data, 276), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(StateEncoding, DecodingRestoresExtremeValues) {
  ConfigSaveStruct State = SampleState();
  State.ID = INT_MIN;
  State.MenuPos = INT_MAX;
  State.PreviewSize = -1;
  Bytes Data = Encoded(State);

  ConfigSaveStruct Back{};
  DecodeState(Data.data(), Data.size(), Back);

  EXPECT_EQ(Encoded(Back), Data);
  EXPECT_EQ(Back.ID, INT_MIN);
  EXPECT_EQ(Back.MenuPos, INT_MAX);
  EXPECT_EQ(Back.PreviewSize, -1);
}

TEST(StateEncoding, PartialFieldAtTheEndSetsOnlyItsLowBytes) {
  Bytes Data = Encoded(SampleState());
  Data[12] = 0xAB;  // MenuSelection[0], of which a file of 14 bytes holds two
  Data[13] = 0xCD;
  ConfigSaveStruct Back{};
  Back.MenuSelection[0] = 0x11223344;
  Back.MenuSelection[1] = 7;

  DecodeState(Data.data(), 14, Back);

  EXPECT_EQ(Back.MenuItemPos, 3);
  EXPECT_EQ(Back.MenuSelection[0], 0x1122CDAB);
  EXPECT_EQ(Back.MenuSelection[1], 7);
}

// ---- Range checks after loading ----

TEST(StateClamp, ValuesInRangeAreKept) {
  ConfigSaveStruct State = SampleState();
  State.MenuPos = 63;
  State.MenuItemPos = 63;
  State.Mode = ModePlayList;
  State.SleepPeriod = INT_MAX / 400;
  State.ID = 0;
  Bytes Before = Encoded(State);

  ClampState(State);

  EXPECT_EQ(Encoded(State), Before);
}

TEST(StateClamp, OutOfRangeValuesAreBroughtBack) {
  ConfigSaveStruct State = SampleState();
  State.MenuPos = 64;
  State.MenuItemPos = 0;
  State.MenuSelection[0] = -1;
  State.MenuSelection[1] = 64;
  State.MenuSelection[63] = INT_MIN;
  State.Mode = 4;
  State.SleepPeriod = -5;
  State.ID = -7;  // a capture number like any other, printed unsigned
  ClampState(State);
  EXPECT_EQ(State.MenuPos, 0);
  EXPECT_EQ(State.MenuItemPos, 1);
  EXPECT_EQ(State.MenuSelection[0], 1);
  EXPECT_EQ(State.MenuSelection[1], 1);
  EXPECT_EQ(State.MenuSelection[2], 3);
  EXPECT_EQ(State.MenuSelection[63], 1);
  EXPECT_EQ(State.Mode, ModeIdle);
  EXPECT_EQ(State.SleepPeriod, 0);
  EXPECT_EQ(State.ID, -7);

  State.MenuPos = -1;
  State.MenuItemPos = 64;
  State.Mode = -1;
  State.SleepPeriod = INT_MAX;  // its countdown of 400 ticks a unit would overflow
  ClampState(State);
  EXPECT_EQ(State.MenuPos, 0);
  EXPECT_EQ(State.MenuItemPos, 1);
  EXPECT_EQ(State.Mode, ModeIdle);
  EXPECT_EQ(State.SleepPeriod, INT_MAX / 400);
}

// ---- Loading ----

TEST_F(SavedStateTest, SaveThenLoadGivesIdenticalBytes) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  Bytes Saved = FileBytes();
  ASSERT_EQ(Saved, Encoded(SampleState()));

  ThisConfigSave = ConfigSaveStruct{};
  LoadConfigBinary(Path.c_str());
  EXPECT_EQ(Encoded(ThisConfigSave), Saved);
  EXPECT_EQ(world().Output, "");
}

TEST_F(SavedStateTest, ShortFileRestoresOnlyTheFieldsItHolds) {
  ConfigSaveStruct Stored = SampleState();
  Bytes Data = Encoded(Stored);
  WriteFile(Bytes(Data.begin(), Data.begin() + 12));
  ThisConfigSave.SleepPeriod = 1;
  for (auto& Selection : ThisConfigSave.MenuSelection) Selection = 1;

  LoadConfigBinary(Path.c_str());

  EXPECT_EQ(ThisConfigSave.ID, 4711);
  EXPECT_EQ(ThisConfigSave.MenuPos, 5);
  EXPECT_EQ(ThisConfigSave.MenuItemPos, 3);
  EXPECT_EQ(ThisConfigSave.MenuSelection[1], 1);
  EXPECT_EQ(ThisConfigSave.SleepPeriod, 1);
  EXPECT_EQ(ThisConfigSave.Mode, 0);
}

TEST_F(SavedStateTest, LongerFileIsReadOnlyToItsRecord) {
  Bytes Data = Encoded(SampleState());
  Data.resize(400, 0xFF);
  WriteFile(Data);
  LoadConfigBinary(Path.c_str());
  EXPECT_EQ(Encoded(ThisConfigSave), Encoded(SampleState()));
}

TEST_F(SavedStateTest, LoadedValuesAreBroughtIntoRange) {
  ConfigSaveStruct Damaged = SampleState();
  Damaged.MenuPos = 1000;
  Damaged.MenuSelection[4] = 0;
  Damaged.Mode = 9;
  WriteFile(Encoded(Damaged));
  LoadConfigBinary(Path.c_str());
  EXPECT_EQ(ThisConfigSave.MenuPos, 0);
  EXPECT_EQ(ThisConfigSave.MenuSelection[4], 1);
  EXPECT_EQ(ThisConfigSave.Mode, ModeIdle);
  EXPECT_EQ(ThisConfigSave.ID, 4711);
}

TEST_F(SavedStateTest, MissingFileReportsItAndKeepsDefaults) {
  ThisConfigSave = SampleState();
  LoadConfigBinary(Path.c_str());
  EXPECT_EQ(world().Output, "Failed to open file: " + Path + "\n");
  EXPECT_EQ(Encoded(ThisConfigSave), Encoded(SampleState()));
}

TEST_F(SavedStateTest, MissingFileKeepsANegativeStartNumber) {
  ThisConfigSave = SampleState();
  ThisConfigSave.ID = -3;  // from a configured start number: capture 4294967293
  LoadConfigBinary(Path.c_str());
  EXPECT_EQ(ThisConfigSave.ID, -3);
}

// ---- Saving ----

TEST_F(SavedStateTest, SaveReplacesTheFileAndResetsTheAutoSaveCountdown) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  AutoSaveCount = -1;
  ThisConfigSave.ID = 4712;

  SaveConfigBinary(Path.c_str());

  EXPECT_EQ(AutoSaveCount, AutoSaveReload);
  Bytes Data = FileBytes();
  ASSERT_EQ(Data.size(), StateFileSize);
  EXPECT_EQ(At(Data, 0), Le(4712));
  EXPECT_FALSE(Exists(Path + ".tmp"));
}

TEST_F(SavedStateTest, FileThatCannotBeReplacedIsRewrittenInPlace) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  struct stat Before {};
  ASSERT_EQ(stat(Path.c_str(), &Before), 0);
  // A directory where the temporary file should go cannot be opened for writing, even by
  // a privileged user, the way a read-only directory refuses a new file.
  std::filesystem::create_directory(Path + ".tmp");
  ThisConfigSave.ID = 1;
  AutoSaveCount = 5;

  SaveConfigBinary(Path.c_str());

  EXPECT_FALSE(ReportedFailure()) << world().Output;
  EXPECT_EQ(AutoSaveCount, AutoSaveReload);
  EXPECT_EQ(FileBytes(), Encoded(ThisConfigSave));
  struct stat After {};
  ASSERT_EQ(stat(Path.c_str(), &After), 0);
  EXPECT_EQ(After.st_ino, Before.st_ino) << "rewritten, not replaced";
}

TEST_F(SavedStateTest, WritableFileInReadOnlyDirectoryIsSavedInPlace) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  std::filesystem::resize_file(Path, StateFileSize + 20);  // a longer tail is dropped
  chmod(Path.c_str(), 0666);
  chmod(Directory.c_str(), 0555);
  ThisConfigSave.ID = 1;
  const int Status = SaveAsOrdinaryUser(false);
  chmod(Directory.c_str(), 0755);
  EXPECT_EQ(Status, 0) << "1: reported, 2: no ordinary user";
  EXPECT_EQ(FileBytes(), Encoded(ThisConfigSave));
  EXPECT_FALSE(Exists(Path + ".tmp"));
}

int FailingSync(int) {
  return -1;
}

TEST_F(SavedStateTest, FailedFlushKeepsTheOldFileAndRemovesTheTemporaryOne) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  Platform.SyncDescriptor = FailingSync;
  ThisConfigSave.ID = 2;

  SaveConfigBinary(Path.c_str());

  EXPECT_TRUE(ReportedFailure()) << world().Output;
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));
  EXPECT_FALSE(Exists(Path + ".tmp"));
}

// Records each flush: whether it was of a directory, and what the state file held then.
struct FlushRecord {
  bool Directory;
  Bytes FileThen;
};
std::vector<FlushRecord>* Flushes = nullptr;
std::string FlushPath;

int RecordingSync(int Descriptor) {
  struct stat Info {};
  fstat(Descriptor, &Info);
  std::ifstream In(FlushPath, std::ios::binary);
  Flushes->push_back({S_ISDIR(Info.st_mode),
                      Bytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>())});
  return fsync(Descriptor);
}

TEST_F(SavedStateTest, NewRecordIsFlushedBeforeTheRenameAndTheDirectoryAfterIt) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  std::vector<FlushRecord> Seen;
  Flushes = &Seen;
  FlushPath = Path;
  Platform.SyncDescriptor = RecordingSync;
  ThisConfigSave.ID = 99;

  SaveConfigBinary(Path.c_str());
  Flushes = nullptr;

  ASSERT_EQ(Seen.size(), 2u);
  EXPECT_FALSE(Seen[0].Directory);
  EXPECT_EQ(Seen[0].FileThen, Encoded(SampleState())) << "flushed before the rename";
  EXPECT_TRUE(Seen[1].Directory);
  EXPECT_EQ(At(Seen[1].FileThen, 0), Le(99)) << "directory flushed after the rename";
}

TEST_F(SavedStateTest, RelativeNameIsSavedInTheCurrentDirectory) {
  std::string Previous = std::filesystem::current_path();
  std::filesystem::current_path(Directory);
  ThisConfigSave = SampleState();
  SaveConfigBinary("CONFIG.DAT");
  std::filesystem::current_path(Previous);
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));
  EXPECT_EQ(world().Output, "");
}

// ---- Links, mode and owner: the save replaces the file the owner keeps ----

TEST_F(SavedStateTest, SaveFollowsLinksAndTheLinksStay) {
  struct Case {
    const char* What;
    std::vector<std::pair<std::string, std::string>> Links;  // link name -> link text
    std::string Target;
    bool TargetExists;
  };
  const std::string Data = Directory + "/data";
  std::filesystem::create_directory(Data);
  const Case Cases[] = {
      {"absolute", {{"CONFIG.DAT", Data + "/a.dat"}}, Data + "/a.dat", true},
      {"relative", {{"CONFIG.DAT", "data/b.dat"}}, Data + "/b.dat", true},
      {"chain", {{"CONFIG.DAT", "hop"}, {"hop", "data/c.dat"}}, Data + "/c.dat", true},
      {"not yet there", {{"CONFIG.DAT", "data/d.dat"}}, Data + "/d.dat", false},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.What);
    for (const auto& Link : C.Links) {
      std::filesystem::remove(Scratch.File(Link.first));
      std::filesystem::create_symlink(Link.second, Scratch.File(Link.first));
    }
    if (C.TargetExists) std::ofstream(C.Target) << "old";
    ThisConfigSave = SampleState();
    SaveConfigBinary(Path.c_str());  // a capture or the shutdown
    EXPECT_TRUE(std::filesystem::is_symlink(Path));
    EXPECT_EQ(FileBytes(), Encoded(SampleState()));
    ThisConfigSave.ID = 4712;
    SaveConfigBinaryIfChanged(Path.c_str());  // the automatic save
    EXPECT_TRUE(std::filesystem::is_symlink(Path));
    EXPECT_EQ(At(FileBytes(), 0), Le(4712));
    EXPECT_FALSE(Exists(C.Target + ".tmp"));
    EXPECT_FALSE(Exists(Path + ".tmp"));
  }
  EXPECT_EQ(world().Output, "");
}

TEST_F(SavedStateTest, ReplacedFileKeepsItsModeAndOwner) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  chmod(Path.c_str(), 0604);
  const bool Chowned = chown(Path.c_str(), 65534, 65534) == 0;  // only a privileged user may
  ThisConfigSave.ID = 1;
  SaveConfigBinary(Path.c_str());
  struct stat Info {};
  ASSERT_EQ(stat(Path.c_str(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 07777, 0604u);
  if (Chowned) {
    EXPECT_EQ(Info.st_uid, 65534u);
  }
  EXPECT_EQ(At(FileBytes(), 0), Le(1));
}

TEST_F(SavedStateTest, FileThatMayNotBeWrittenIsNotReplaced) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  chmod(Path.c_str(), 0444);
  // The directory is open to all, so only the file's own mode protects it. A privileged
  // user may write any file: the save runs in a child as an ordinary user then.
  chmod(Directory.c_str(), 0777);
  ThisConfigSave.ID = 1;
  EXPECT_EQ(SaveAsOrdinaryUser(true), 0) << "1: not reported, 2: no ordinary user";
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));
  EXPECT_FALSE(Exists(Path + ".tmp"));
}

TEST_F(SavedStateTest, LinkLoopOrDirectoryInPlaceOfTheFileIsReported) {
  std::filesystem::create_symlink("CONFIG.DAT", Path);
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  EXPECT_TRUE(ReportedFailure()) << world().Output;
  EXPECT_TRUE(std::filesystem::is_symlink(Path));

  std::filesystem::remove(Path);
  std::filesystem::create_directory(Path);
  world().Output.clear();
  SaveConfigBinary(Path.c_str());
  EXPECT_TRUE(ReportedFailure()) << world().Output;
  EXPECT_TRUE(std::filesystem::is_directory(Path));
}

}  // namespace

// ---- Automatic save: only what changed reaches the card ----

int SyncCount = 0;
int CountingSync(int Descriptor) {
  ++SyncCount;
  return fsync(Descriptor);
}

class SaveIfChangedTest : public SavedStateTest {
 protected:
  void SetUp() override {
    SavedStateTest::SetUp();
    SyncCount = 0;
    Platform.SyncDescriptor = CountingSync;
  }
  // Whether the call wrote: every write flushes the new file and the directory.
  bool AutoSaveWrote() {
    SyncCount = 0;
    AutoSaveCount = -1;
    SaveConfigBinaryIfChanged(Path.c_str());
    EXPECT_EQ(AutoSaveCount, AutoSaveReload);
    return SyncCount > 0;
  }
};

TEST_F(SaveIfChangedTest, IdenticalRecordIsNotWrittenAgain) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  EXPECT_FALSE(AutoSaveWrote());
  EXPECT_FALSE(AutoSaveWrote());
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));
  EXPECT_EQ(world().Output, "");
}

TEST_F(SaveIfChangedTest, ChangedRecordIsWritten) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  ThisConfigSave.MenuSelection[63] = 2;
  EXPECT_TRUE(AutoSaveWrote());
  EXPECT_EQ(FileBytes(), Encoded(ThisConfigSave));
  EXPECT_FALSE(AutoSaveWrote());
}

TEST_F(SaveIfChangedTest, RemovedTruncatedOrReplacedFileIsWrittenAgain) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());

  ASSERT_TRUE(std::filesystem::remove(Path));
  EXPECT_TRUE(AutoSaveWrote());
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));

  std::filesystem::resize_file(Path, 12);
  EXPECT_TRUE(AutoSaveWrote());
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));

  Bytes Other = Encoded(SampleState());
  Other[0] ^= 1;
  WriteFile(Other);
  EXPECT_TRUE(AutoSaveWrote());
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));

  Bytes Longer = Encoded(SampleState());
  Longer.push_back(0);
  WriteFile(Longer);
  EXPECT_TRUE(AutoSaveWrote());
  EXPECT_EQ(FileBytes(), Encoded(SampleState()));
}

TEST_F(SaveIfChangedTest, RecordAsLoadedIsNotWrittenBackButARepairedOneIs) {
  WriteFile(Encoded(SampleState()));
  LoadConfigBinary(Path.c_str());
  EXPECT_FALSE(AutoSaveWrote());

  Bytes OutOfRange = Encoded(SampleState());
  OutOfRange[4] = 200;  // MenuPos 200 is brought back to 0 on loading
  WriteFile(OutOfRange);
  LoadConfigBinary(Path.c_str());
  EXPECT_TRUE(AutoSaveWrote());
  EXPECT_EQ(At(FileBytes(), 4), Le(0));
}

TEST_F(SaveIfChangedTest, SameRecordForAnotherFileIsWritten) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  const std::string OtherPath = Directory + "/OTHER.DAT";
  std::filesystem::copy_file(Path, OtherPath);
  SyncCount = 0;
  SaveConfigBinaryIfChanged(OtherPath.c_str());
  EXPECT_GT(SyncCount, 0);
}

TEST_F(SaveIfChangedTest, FailedWriteIsRetriedAtTheNextAutomaticSave) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  ThisConfigSave.ID = 5;
  Platform.SyncDescriptor = FailingSync;
  SaveConfigBinaryIfChanged(Path.c_str());
  EXPECT_TRUE(ReportedFailure()) << world().Output;
  Platform.SyncDescriptor = CountingSync;
  EXPECT_TRUE(AutoSaveWrote());
  EXPECT_EQ(At(FileBytes(), 0), Le(5));
}

TEST_F(SaveIfChangedTest, ExplicitSaveAlwaysWrites) {
  ThisConfigSave = SampleState();
  SaveConfigBinary(Path.c_str());
  SyncCount = 0;
  AutoSaveCount = 3;
  SaveConfigBinary(Path.c_str());
  EXPECT_GT(SyncCount, 0);
  EXPECT_EQ(AutoSaveCount, AutoSaveReload);
}

TEST(StateMenuFit, HighlightOnAMissingMenuMovesToTheFirstMenu) {
  ResetProgramState();
  ThisConfig.Menu[0][0] = testsupport::HeapText("Size");
  ThisConfig.Menu[1][0] = testsupport::HeapText("Mode");
  ConfigSaveStruct State{};
  State.MenuPos = 9;
  State.MenuItemPos = 4;
  State.MenuSelection[0] = 2;
  FitStateToMenus(State, ThisConfig);
  EXPECT_EQ(State.MenuPos, 0);
  EXPECT_EQ(State.MenuItemPos, 2);

  State.MenuPos = 1;
  State.MenuItemPos = 5;
  FitStateToMenus(State, ThisConfig);
  EXPECT_EQ(State.MenuPos, 1) << "an existing menu keeps its highlight";
  EXPECT_EQ(State.MenuItemPos, 5);
  ResetProgramState();
}

TEST(StateMenuFit, WithoutAnyMenuTheRecordIsKept) {
  ResetProgramState();
  ConfigSaveStruct State{};
  State.MenuPos = 9;
  State.MenuItemPos = 4;
  FitStateToMenus(State, ThisConfig);
  EXPECT_EQ(State.MenuPos, 9);
  EXPECT_EQ(State.MenuItemPos, 4);
}
