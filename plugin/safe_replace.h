// Safe file replacement: every export that writes a file goes through these.
// They prove a target directory writable before any work, back an existing
// target up to the user's temp directory and put it back byte for byte (with
// its attributes) when the write fails, and delete every temporary file they
// make before returning.
#ifndef VELTORA_PLUGIN_SAFE_REPLACE_H_
#define VELTORA_PLUGIN_SAFE_REPLACE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "plugin/veltora.h"

namespace veltora {

// 0x80070000 | (code & 0xFFFF) for a code > 0; a code <= 0 is returned as it
// is (0 is success, a negative value already is a result code).
HRESULT MapWin32Error(int64_t code);

// For failures creating or writing a newly built file: 8, 14, 5 and 82 get
// the module's own codes (E_FILE_NOT_ENOUGH_MEMORY, E_FILE_OUTOFMEMORY,
// E_FILE_ACCESS_DENIED, E_FILE_CANNOT_MAKE); others go through MapWin32Error.
HRESULT MapWriteError(int64_t code);

// Proves that a file can be created in the directory of `path` by creating
// and deleting a "CHK" file there. A path without '/' probes the current
// directory. Returns 0, or the mapped Win32 error (0x80070003 for a missing
// directory, 0x80070005 for a write-protected one); nothing remains.
HRESULT ProbeTargetDirectory(const char* path);

// A new, empty file in the user's temp directory; 0 or a Win32 error.
uint32_t MakeTempFile(const char* prefix, std::string* path);

// Deletes a temporary file when it goes out of scope, on every path.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Remove(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // 0 or a Win32 error; the file exists (empty) after success.
  uint32_t Create(const char* prefix) { return MakeTempFile(prefix, &path_); }
  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  bool empty() const { return path_.empty(); }
  // Forgets the file without deleting it (a backup that could not be put
  // back stays as the last good copy).
  void Keep() { path_.clear(); }
  void Remove();

 private:
  std::string path_;
};

// Overwrites `length` bytes of the existing file `path` at `offset`: probes
// its directory, clears the read-only mark for the write and restores the
// saved attributes afterwards (also after a failure). No backup is made.
// Returns 0, E_FAIL when the attributes cannot be read, or the mapped Win32
// error of the open, seek or write.
HRESULT WriteBlockInPlace(const char* path, uint64_t offset, const uint8_t* bytes, size_t length);

// Writes the new file's bytes to `out`, reading what it needs from `in`;
// returns 0 or a Win32 error.
using LayoutWriter = std::function<uint32_t(platform::File& out, platform::File& in)>;

// The guarded write that every rebuild ends with. `source_path` is the file
// being edited; `alternate_source`, when not null, is read instead of it (a
// freshly encoded picture). An existing target, or the source itself when it
// is the target, is first copied to a "PIC" backup with its read-only mark
// cleared; when the write fails after touching the target the backup is
// copied back, and the target's attributes are restored in any case. When
// the target is the source, the backup is what gets read. A target that did
// not exist is removed again after a failure. Returns 0 or a result code.
HRESULT WriteResultFile(const char* target, const char* source_path, const char* alternate_source,
                        const LayoutWriter& write_layout);

// Copies `from` over `target`, then runs `patch` (when given; 0 or a result
// code) on the copy. With `copy_permissions` the copy takes the permission
// bits of `from`; without, an existing target keeps its own and a new one
// gets 0644 less the umask. An existing target is backed up first and put
// back when a step fails after touching it; a target that did not exist is
// removed again. Returns 0, the mapped Win32 error of the copy, or `patch`'s
// code. Every temporary file is gone on return.
HRESULT CopyOverTarget(const char* from, const char* target, bool copy_permissions,
                       const std::function<HRESULT()>& patch = {});

// The last step of build-then-copy: `built_file`, a complete new file, is
// copied over `target` (CopyOverTarget without permissions). The caller
// still owns (and deletes) `built_file`.
HRESULT CopyBuiltFile(const char* built_file, const char* target);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_SAFE_REPLACE_H_
