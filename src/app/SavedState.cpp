// Reading and writing CONFIG.DAT, the saved state of the camera.
#include "app/SavedState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Display.h"
#include "errors/ErrorLines.h"
#include "platform/Platform.h"

namespace {

constexpr std::size_t FieldCount = StateFileSize / 4;
// Links followed at most, as the kernel does in one path.
constexpr int LinkHopLimit = 40;
static_assert(FieldCount == 70, "the record holds 70 integers");

// Field Index (0-69) of the record in file order; Record may be const or not.
template <typename Record>
auto FieldAt(Record& State, std::size_t Index) -> decltype(&State.ID) {
  constexpr std::size_t FirstSelection = 3;
  constexpr std::size_t AfterSelections = FirstSelection + MenuCount;
  if (Index == 0) return &State.ID;
  if (Index == 1) return &State.MenuPos;
  if (Index == 2) return &State.MenuItemPos;
  if (Index < AfterSelections) return &State.MenuSelection[Index - FirstSelection];
  if (Index == AfterSelections) return &State.SleepPeriod;
  if (Index == AfterSelections + 1) return &State.Mode;
  return &State.PreviewSize;
}

bool WriteAll(int Descriptor, const unsigned char* Data, std::size_t Size) {
  while (Size > 0) {
    ssize_t Written = write(Descriptor, Data, Size);
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) return false;
    Data += Written;
    Size -= static_cast<std::size_t>(Written);
  }
  return true;
}

// The new file takes over the mode of the file it replaces and, where this user may set
// it, the owner; a fresh file gets the usual 0666 less the umask.
bool TakeOverOwnership(int Descriptor, const struct stat* Old) {
  if (Old == nullptr) return true;
  if (fchown(Descriptor, Old->st_uid, Old->st_gid) != 0) {
    (void)fchown(Descriptor, static_cast<uid_t>(-1), Old->st_gid);  // the group alone may do
  }
  return fchmod(Descriptor, Old->st_mode & 07777) == 0;
}

// Writes the record to a new file at Path and flushes it to storage. A file left there by
// an interrupted save is removed first; a link or directory in its place is not followed.
// Created tells whether the new file could be made at all.
bool WriteDurably(const std::string& Path, const unsigned char* Data, std::size_t Size,
                  const struct stat* Old, bool* Created) {
  (void)unlink(Path.c_str());
  int Descriptor = open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  *Created = Descriptor >= 0;
  if (Descriptor < 0) return false;
  bool Ok = TakeOverOwnership(Descriptor, Old) && WriteAll(Descriptor, Data, Size) &&
            Platform.SyncDescriptor(Descriptor) == 0;
  if (close(Descriptor) != 0) Ok = false;
  return Ok;
}

// Writes the record over the existing file at Path, from its start, drops any longer tail
// and flushes it: the way to save where no new file can be made beside it (a folder this
// user may not write, a file mounted in its own place). No link is followed.
bool RewriteInPlace(const std::string& Path, const unsigned char* Data, std::size_t Size) {
  int Descriptor = open(Path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (Descriptor < 0) return false;
  bool Ok = WriteAll(Descriptor, Data, Size) &&
            ftruncate(Descriptor, static_cast<off_t>(Size)) == 0 &&
            Platform.SyncDescriptor(Descriptor) == 0;
  if (close(Descriptor) != 0) Ok = false;
  return Ok;
}

// The file a write to Filename reaches: symbolic links are followed (a relative one from
// its own directory), so the save replaces the file the link names and the link stays.
// False for a loop of links or one too long to read.
bool FollowLinks(const std::string& Filename, std::string* Target) {
  std::string Path = Filename;
  for (int Hop = 0; Hop <= LinkHopLimit; ++Hop) {
    struct stat Info {};
    if (lstat(Path.c_str(), &Info) != 0 || !S_ISLNK(Info.st_mode)) {
      *Target = Path;
      return true;
    }
    std::vector<char> Link(PATH_MAX);
    const ssize_t Length = readlink(Path.c_str(), Link.data(), Link.size());
    if (Length <= 0 || static_cast<std::size_t>(Length) >= Link.size()) return false;
    const std::string Next(Link.data(), static_cast<std::size_t>(Length));
    if (Next[0] == '/') {
      Path = Next;
    } else {
      Path = DirectoryOf(Path);
      Path.append("/").append(Next);
    }
  }
  return false;
}

// Makes a finished rename durable. Failure changes nothing: the new file is in place.
void SyncDirectory(const std::string& Directory) {
  int Descriptor = open(Directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Descriptor < 0) return;
  (void)Platform.SyncDescriptor(Descriptor);
  close(Descriptor);
}

// The record the program last wrote to or read whole from a state file, and that file's
// name: an automatic save of the same bytes to the same file can be left out.
struct StoredRecord {
  std::string Filename;
  unsigned char Bytes[StateFileSize];
  bool Known = false;
};
StoredRecord LastStored;

void RememberStored(const char* Filename, const unsigned char (&Bytes)[StateFileSize]) {
  LastStored.Filename = Filename;
  std::memcpy(LastStored.Bytes, Bytes, StateFileSize);
  LastStored.Known = true;
}

// True when the file holds exactly these 280 bytes, no more and no fewer.
bool FileHolds(const char* Filename, const unsigned char (&Bytes)[StateFileSize]) {
  std::FILE* File = std::fopen(Filename, "rb");
  if (File == nullptr) return false;
  unsigned char Stored[StateFileSize + 1];
  std::size_t Count = std::fread(Stored, 1, sizeof Stored, File);
  std::fclose(File);
  return Count == StateFileSize && std::memcmp(Stored, Bytes, StateFileSize) == 0;
}

void ReportSaveFailure(const char* Filename) {
  char Message[TextSize];
  std::snprintf(Message, sizeof Message, "Failed to open file: %s", Filename);
  DisplayError(Message);
}

// Writes the encoded record durably; reports a failure with the file name.
void StoreRecord(const char* Filename, const unsigned char (&Bytes)[StateFileSize]) {
  // The new record goes to a temporary file beside the old one and is flushed before it
  // is renamed over it, so after a power cut the file holds either record, never a mix.
  // Only where that cannot be done is the file rewritten in place.
  std::string Target;
  struct stat Old {};
  bool Ok = FollowLinks(Filename, &Target);
  const bool Exists = Ok && stat(Target.c_str(), &Old) == 0;
  // The rename needs only the directory's permission: a file this user may not write
  // itself is refused here, as writing it in place would be.
  if (Exists &&
      (!S_ISREG(Old.st_mode) || faccessat(AT_FDCWD, Target.c_str(), W_OK, AT_EACCESS) != 0))
    Ok = false;
  const std::string Temporary = Target + ".tmp";
  bool Created = false;
  const bool Written =
      Ok && WriteDurably(Temporary, Bytes, StateFileSize, Exists ? &Old : nullptr, &Created);
  const bool Renamed = Written && std::rename(Temporary.c_str(), Target.c_str()) == 0;
  if (Ok && !Renamed) {
    (void)unlink(Temporary.c_str());
    // A folder that takes no new file, or no rename over this one, leaves the way of
    // rewriting the file where it stands. A failed write or flush of the new file points
    // at the storage instead, and the old record is left alone.
    const bool FolderRefused = !Created || Written;
    Ok = Exists && FolderRefused && RewriteInPlace(Target, Bytes, StateFileSize);
  }
  if (!Ok) {
    ReportSaveFailure(Filename);
    return;
  }
  if (Renamed) SyncDirectory(DirectoryOf(Target));
  RememberStored(Filename, Bytes);
}

// Value when it lies within Low..High, else Fallback (not the nearer limit).
std::int32_t InRangeOr(std::int32_t Value, std::int32_t Low, std::int32_t High,
                       std::int32_t Fallback) {
  return Value < Low || Value > High ? Fallback : Value;
}

}  // namespace

void ForgetStoredRecord() {
  LastStored = StoredRecord{};
}

void EncodeState(const ConfigSaveStruct& State, unsigned char (&Bytes)[StateFileSize]) {
  for (std::size_t i = 0; i < FieldCount; ++i) {
    auto Word = static_cast<std::uint32_t>(*FieldAt(State, i));
    for (std::size_t b = 0; b < 4; ++b) {
      Bytes[4 * i + b] = static_cast<unsigned char>((Word >> (8 * b)) & 0xFFu);
    }
  }
}

void DecodeState(const unsigned char* Bytes, std::size_t Count, ConfigSaveStruct& State) {
  if (Count > StateFileSize) Count = StateFileSize;
  for (std::size_t i = 0; 4 * i < Count; ++i) {
    // A field cut short by the end of the file takes the bytes there as its low-order
    // bytes and keeps its high-order ones, as reading them straight into it would.
    const std::size_t Held = Count - 4 * i < 4 ? Count - 4 * i : 4;
    auto Word = static_cast<std::uint32_t>(*FieldAt(State, i));
    for (std::size_t b = 0; b < Held; ++b) {
      Word &= ~(0xFFu << (8 * b));
      Word |= static_cast<std::uint32_t>(Bytes[4 * i + b]) << (8 * b);
    }
    // Two's complement back to signed without relying on implementation-defined casts.
    std::int32_t Value = Word <= static_cast<std::uint32_t>(INT32_MAX)
                             ? static_cast<std::int32_t>(Word)
                             : -static_cast<std::int32_t>(~Word) - 1;
    *FieldAt(State, i) = Value;
  }
}

void ClampState(ConfigSaveStruct& State) {
  State.MenuPos = InRangeOr(State.MenuPos, 0, MenuCount - 1, 0);
  State.MenuItemPos = InRangeOr(State.MenuItemPos, 1, MenuEntryCount - 1, 1);
  for (std::int32_t& Selection : State.MenuSelection) {
    Selection = InRangeOr(Selection, 1, MenuEntryCount - 1, 1);
  }
  State.Mode = InRangeOr(State.Mode, ModeIdle, ModePlayList, ModeIdle);
  // The sleep countdown is SleepPeriod x 400 ticks; a larger period would overflow it.
  constexpr std::int32_t SleepLimit = INT_MAX / SleepTicksPerUnit;
  if (State.SleepPeriod < 0) State.SleepPeriod = 0;
  if (State.SleepPeriod > SleepLimit) State.SleepPeriod = SleepLimit;
  // ID is left alone: any value is a capture number, printed unsigned.
}

void FitStateToMenus(ConfigSaveStruct& State, const ConfigStruct& Config) {
  // A record from a configuration with more menus may highlight one that is not there;
  // start from the first menu then, showing its committed item.
  if (Config.Menu[State.MenuPos][0] != nullptr || Config.Menu[0][0] == nullptr) return;
  State.MenuPos = 0;
  State.MenuItemPos = State.MenuSelection[0];
}

void LoadConfigBinary(const char* Filename) {
  std::FILE* File = std::fopen(Filename, "rb");
  if (File == nullptr) {
    // No file yet is the normal first run; any other failure hides the user's settings.
    if (errno == ENOENT) {
      WriteFormatted("Failed to open file: %s\n", Filename);
    } else {
      ReportAtStartUp("Failed to open file: %s\n", Filename);
    }
    return;
  }
  unsigned char Bytes[StateFileSize];
  std::size_t Count = std::fread(Bytes, 1, StateFileSize, File);
  std::fclose(File);
  if (Count == StateFileSize) RememberStored(Filename, Bytes);
  DecodeState(Bytes, Count, ThisConfigSave);
  ClampState(ThisConfigSave);
  FitStateToMenus(ThisConfigSave, ThisConfig);
}

void SaveConfigBinary(const char* Filename) {
  AutoSaveCount = AutoSaveReload;
  unsigned char Bytes[StateFileSize];
  EncodeState(ThisConfigSave, Bytes);
  StoreRecord(Filename, Bytes);
}

void SaveConfigBinaryIfChanged(const char* Filename) {
  AutoSaveCount = AutoSaveReload;
  unsigned char Bytes[StateFileSize];
  EncodeState(ThisConfigSave, Bytes);
  // Reading the file back costs no wear; it catches a file removed or replaced since.
  const bool Unchanged = LastStored.Known && LastStored.Filename == Filename &&
                         std::memcmp(LastStored.Bytes, Bytes, StateFileSize) == 0 &&
                         FileHolds(Filename, Bytes);
  if (!Unchanged) StoreRecord(Filename, Bytes);
}
