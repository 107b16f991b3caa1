// The few operating-system calls the host makes beyond the standard library,
// kept together so that one other implementation serves Windows.
#ifndef VELTORA_HOST_SYSTEM_CALLS_H_
#define VELTORA_HOST_SYSTEM_CALLS_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace veltora::host {

// True when `stream` is a terminal (progress lines only go there).
bool IsTerminal(std::FILE* stream);

// True when this process may write to `path` (a file or a folder), by the
// system's own rules (an administrator may write read-only files).
bool MayWrite(const std::string& path);

// False only when no process of that id runs (an id we may not examine
// counts as running, so a live call's temporary file is never taken).
bool ProcessIsRunning(uint32_t pid);

// The system's message for a Win32 error number, as the plug-in reports it in
// 0x8007xxxx results ("No such file or directory"); "" when unknown.
std::string SystemMessage(uint32_t win32_error);

}  // namespace veltora::host

#endif  // VELTORA_HOST_SYSTEM_CALLS_H_
