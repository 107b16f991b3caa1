// The user's private temp directory, the process ids in temporary names and
// the sweep of leftovers: one implementation per platform (temp_files.cpp,
// temp_files_win32.cpp). The names themselves: temp_file_name.h.
#ifndef VELTORA_PLATFORM_TEMP_FILES_H_
#define VELTORA_PLATFORM_TEMP_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/temp_file_name.h"

#if defined(_WIN32)
// windows.h names its ANSI and wide pairs by macros; this name is ours.
#include "interface/host_win32.h"
#undef GetTempPath
#endif

namespace veltora::platform {

// The directory for the plug-in's temporary files, with a trailing '/'.
// $TMPDIR when it is a real directory (not a link) owned by the user and
// writable by nobody else; otherwise /tmp/veltora-<uid>/, created mode 0700
// and verified (a directory, not a link, owned by the user, no access for
// group or others; a wider mode on our own directory is narrowed). Another
// user's directory, or a link planted under that name, is refused with 5.
uint32_t GetTempPath(std::string* directory);

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
