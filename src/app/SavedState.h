// CONFIG.DAT: the 280-byte saved state, written so a power cut never tears it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/Globals.h"

constexpr std::size_t StateFileSize = 280;

// Loads up to 280 bytes into ThisConfigSave, then brings every field back into range.
void LoadConfigBinary(const char* Filename);

// Resets AutoSaveCount to 800, then replaces the file with the 280 bytes of ThisConfigSave
// (temporary file, flush, rename). A symbolic link is followed and stays; the file it
// reaches keeps its mode and, where permitted, its owner. A file this user may not write
// is not replaced. A file that cannot be replaced (no new file can be made in its folder)
// is rewritten in place and flushed. A failure is reported on the error line.
void SaveConfigBinary(const char* Filename);

// The automatic save: resets AutoSaveCount to 800 like SaveConfigBinary, but writes only
// when the file does not already hold this very record (as last written or read by the
// program), so an idle camera does not rewrite its card every minute.
void SaveConfigBinaryIfChanged(const char* Filename);

// Forgets the record last written or read, so the next automatic save writes (part of
// ResetProgramState).
void ForgetStoredRecord();

// Little-endian encoding of the record, independent of the host.
void EncodeState(const ConfigSaveStruct& State, unsigned char (&Bytes)[StateFileSize]);
// Decodes the first Count bytes (Count <= 280) over State; later fields keep their values.
// A field cut short by Count gets the bytes there as its low-order bytes.
void DecodeState(const unsigned char* Bytes, std::size_t Count, ConfigSaveStruct& State);

// Brings indexes and the mode back into the ranges the menu tables allow.
void ClampState(ConfigSaveStruct& State);

// After ClampState: moves the highlight to menu 0 when the highlighted menu does not exist
// in this configuration.
void FitStateToMenus(ConfigSaveStruct& State, const ConfigStruct& Config);
