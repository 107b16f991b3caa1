// The user's private temp directory and uniquely named temporary files.
#ifndef VELTORA_PLATFORM_TEMP_FILES_H_
#define VELTORA_PLATFORM_TEMP_FILES_H_

#include <cstdint>
#include <string>

namespace veltora::platform {

// The directory for the plug-in's temporary files, with a trailing '/'.
// $TMPDIR when it is a real directory (not a link) owned by the user and
// writable by nobody else; otherwise /tmp/veltora-<uid>/, created mode 0700
// and verified (a directory, not a link, owned by the user, no access for
// group or others; a wider mode on our own directory is narrowed). Another
// user's directory, or a link planted under that name, is refused with 5.
uint32_t GetTempPath(std::string* directory);

// Creates a new, empty file named <directory><prefix><hex>.TMP (up to four
// hex digits, as the Windows call names them) exclusively: an existing name,
// a planted link included, is never opened but skipped for the next number.
// `directory` ends with '/'. Returns 0 and the full name, or a Win32 error.
// The search starts at `first_unique` (1 to 0xFFFF), or at a number that
// differs between processes when it is 0.
uint32_t GetTempFileName(const std::string& directory, const char* prefix, std::string* path,
                         uint32_t first_unique = 0);

// GetTempPath then GetTempFileName: a new file in the user's temp directory.
uint32_t MakeTempFile(const char* prefix, std::string* path);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_TEMP_FILES_H_
