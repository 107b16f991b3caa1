// A seam in the file layer through which tests make the Nth file-system call
// of a kind fail with a chosen Win32 error, to prove that every failure path
// restores the target and leaves no temporary file. Inert unless armed.
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
// Only one fault is armed at a time; it fires once.
void ArmFault(FaultSite site, uint32_t nth, uint32_t error);
void DisarmFault();
// Calls counted at `site` since the last ArmFault or ResetFaultCounts.
uint32_t FaultCallCount(FaultSite site);
void ResetFaultCounts();
// True once the armed fault has fired.
bool FaultFired();

// Called by the file layer before each operation; returns the error to report
// instead of doing the operation, or 0 to go on.
uint32_t CheckFault(FaultSite site);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_FAULT_INJECTION_H_
