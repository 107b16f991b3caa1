// A seam in the file layer through which tests make the Nth file-system call
// of a kind fail with a chosen Win32 error, or end the process there as a
// kill from outside would, to prove that every failure path restores the
// target and leaves no temporary file. Inert unless armed. Calls may overlap
// on several threads: the counts are exact, and an armed fault fires once.
#ifndef VELTORA_PLATFORM_FAULT_INJECTION_H_
#define VELTORA_PLATFORM_FAULT_INJECTION_H_

#include <cstdint>

namespace veltora::platform {

enum class FaultSite : uint8_t {
  kAny,     // counts every call below
  kCreate,  // creating or truncating a file for writing (incl. temp files)
  kOpen,    // opening an existing file for reading or writing
  kWrite,   // one write call
  kCopy,    // CopyFile
  kDelete,  // DeleteFile
  kAttributes,  // SetFileAttributes
  kFlush,   // flushing a file to the disk
  kRename,  // renaming a new file over its target
};

// Arms the seam: the `nth` call (1-based) at `site` fails with `error`.
// Only one fault is armed at a time; it fires once. Arming resets the counts.
void ArmFault(FaultSite site, uint32_t nth, uint32_t error);
// Arms the seam to end the process at the `nth` call at `site`, before that
// call does anything, through KillThisProcess.
void ArmKill(FaultSite site, uint32_t nth);
void DisarmFault();
// Calls counted at `site` since the last ArmFault, ArmKill or ResetFaultCounts.
uint32_t FaultCallCount(FaultSite site);
void ResetFaultCounts();
// True once the armed fault has fired.
bool FaultFired();

// Ends this process at once, with no clean-up of any kind (no destructors,
// no atexit handlers, no flush of buffered output): SIGKILL to itself, or
// TerminateProcess on Windows.
[[noreturn]] void KillThisProcess();

// Called by the file layer before each operation; returns the error to report
// instead of doing the operation, or 0 to go on.
uint32_t CheckFault(FaultSite site);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_FAULT_INJECTION_H_
