// Uniquely named temporary files, made the same way on every platform over
// the file layer and temp_files.h.
#ifndef VELTORA_PLATFORM_TEMP_FILE_NAME_H_
#define VELTORA_PLATFORM_TEMP_FILE_NAME_H_

#include <cstdint>
#include <string>

#if defined(_WIN32)
// windows.h names its ANSI and wide pairs by macros; this name is ours.
#include "interface/host_win32.h"
#undef GetTempFileName
#endif

namespace veltora::platform {

// Creates a new, empty file in `directory` (ending with '/') exclusively, named
// by TempFileName (interface/temp_names.h) from `prefix`, this process's id
// and a unique number: an existing name, a planted link included, is never
// opened but skipped for the next number. Returns 0 and the full name, or a
// Win32 error. The search starts at `first_unique` (1 to 0xFFFF), or at a
// number that differs between calls when it is 0.
//
// The names carry the process id, unlike the Windows call's <prefix><hex>.TMP,
// so that what a killed process left can be told from the files of calls
// still running, and removed.
uint32_t GetTempFileName(const std::string& directory, const char* prefix, std::string* path,
                         uint32_t first_unique = 0);

// GetTempPath then GetTempFileName: a new file in the user's temp directory.
uint32_t MakeTempFile(const char* prefix, std::string* path);

// RemoveLeftoverTempFiles, the first time this process writes into
// `directory` (ending with '/'): what a folder holds of dead processes is
// swept once, not read whole again on every write. A process killed later
// leaves its files to the next process that writes there. A forked child is
// a process of its own and sweeps again. The folder is known by its absolute
// spelling, so two spellings of one folder are each swept once.
void SweepLeftoverTempFilesOnce(const std::string& directory);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_TEMP_FILE_NAME_H_
