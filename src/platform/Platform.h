// The thin seams between the camera and the outside world, in one record. Production code
// calls the plain system functions; tests replace a hook to record or script what happens.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct PlatformHooks {
  // Runs a command line through the shell and waits for the shell to return.
  void (*RunShell)(const char* Command);
  // Runs a command through the shell and copies the first line of its output (at most
  // Size - 1 characters) into Out; Out is empty when there is none or it cannot be run.
  // Returns false only when the command could not be run at all (no pipe or process, or
  // the shell could not find or execute it), so "no output" can be told from "no answer".
  bool (*ReadFirstLine)(const char* Command, char* Out, int Size);
  // True when the shell would find the command Name: a path (it holds "/") to an
  // executable file, or a name found so in a folder of PATH, searched as the shell does.
  bool (*CommandFound)(const char* Name);
  // Current calendar time.
  std::time_t (*Now)();
  // Milliseconds on a clock that only moves forward (not the calendar, which may jump).
  std::int64_t (*MonotonicMs)();
  // Reads one byte of standard input without waiting: 1 with a byte, 0 when none is
  // pending (or at end of input).
  int (*ReadInputByte)(unsigned char* Byte);
  // Waits up to TimeoutMs for input to become readable: 1 if it did, 0 if not.
  int (*WaitForInput)(int TimeoutMs);
  // Writes bytes to standard output, all of them, in one write where possible. A terminal
  // that can never be written again (closed pipe, hung-up line) sets OutputLost.
  void (*WriteOutput)(const char* Data, std::size_t Size);
  // Flushes a descriptor's data to storage (fsync): 0 on success.
  int (*SyncDescriptor)(int Descriptor);
  // Opens a device path for reading and writing; a descriptor, or -1 with errno set.
  int (*OpenDevice)(const char* Path);
  // Paths of the GPIO character devices present (/dev/gpiochipN), in chip-number order.
  std::vector<std::string> (*ListGpioChips)();
  // One ioctl on a device or line-request descriptor: 0, or -1 with errno set.
  int (*ControlDevice)(int File, unsigned long Request, void* Argument);
  // Closes a descriptor.
  void (*CloseDevice)(int File);
  // The size the kernel knows for the terminal: fills Width and Height and returns true
  // when it knows one.
  bool (*TerminalSize)(int* Width, int* Height);
  // 0 when Folder is a directory this user may create files in, else the errno of the
  // check that failed (ENOENT or ENOTDIR: missing; EACCES, EROFS, ...: not writable).
  // FreeBytes gets the room left there for this user (the largest value when unknown).
  int (*InspectFolder)(const char* Folder, std::uint64_t* FreeBytes);
  // Makes the folder Folder (mode 0777 less the umask) when it is not there: 0 when it is
  // a directory afterwards, else the errno of the failure (ENOENT: its parent is missing).
  int (*MakeFolder)(const char* Folder);
  // The names of the entries in Folder, sorted bytewise; empty when it cannot be read.
  std::vector<std::string> (*ListFolder)(const char* Folder);
};

extern PlatformHooks Platform;

// Set once standard output can never be written again (its pipe's reader has gone, the
// line has hung up): the camera then ends its run through the shutdown.
extern bool OutputLost;

// The production hooks, for tests that want to restore them.
PlatformHooks ProductionPlatform();

// Formats into Out (Size bytes, at least 1) and returns the length kept: the text is cut to
// fit and always terminated; 0 when formatting fails.
std::size_t FormatInto(char* Out, std::size_t Size, const char* Format, va_list Args)
    __attribute__((format(printf, 3, 0)));

// printf-style output through Platform.WriteOutput (one write per call).
void WriteFormatted(const char* Format, ...) __attribute__((format(printf, 1, 2)));
