// The user's private temp directory and uniquely named temporary files.
#ifndef VELTORA_PLATFORM_TEMP_FILES_H_
#define VELTORA_PLATFORM_TEMP_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
// windows.h names its ANSI and wide pairs by macros; these names are ours.
#include "interface/host_win32.h"
#undef GetTempPath
#undef GetTempFileName
#endif

namespace veltora::platform {

// The directory for the plug-in's temporary files, with a trailing '/'.
// $TMPDIR when it is a real directory (not a link) owned by the user and
// writable by nobody else; otherwise /tmp/veltora-<uid>/, created mode 0700
// and verified (a directory, not a link, owned by the user, no access for
// group or others; a wider mode on our own directory is narrowed). Another
// user's directory, or a link planted under that name, is refused with 5.
uint32_t GetTempPath(std::string* directory);

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

uint32_t CurrentProcessId();
// False only when no process of that id runs; an id that cannot be examined
// counts as running, so that nothing of a live call is ever removed.
bool ProcessIsRunning(uint32_t pid);

// Removes from `directory` (ending with '/') the regular files named by
// TempFileName whose process no longer runs, except backups ("PIC"), which
// may be the only whole copy of a file. Returns the names removed.
std::vector<std::string> RemoveLeftoverTempFiles(const std::string& directory);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_TEMP_FILES_H_
