// Safe file replacement: every export that writes a file goes through these.
// They prove a target directory writable before any work, replace a target
// whole or not at all (a new file renamed over it; where that cannot be, a
// backup put back byte for byte, with its attributes, when the write fails),
// and delete every temporary file they make before returning.
#ifndef VELTORA_FRAME_SAFE_REPLACE_H_
#define VELTORA_FRAME_SAFE_REPLACE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "frame/veltora.h"
#include "interface/temp_names.h"
#include "platform/file.h"

namespace veltora {

// 0x80070000 | (code & 0xFFFF) for a code > 0; a code <= 0 is returned as it
// is (0 is success, a negative value already is a result code).
HRESULT MapWin32Error(int64_t code);

// For failures creating or writing a newly built file: 8, 14, 5 and 82 get
// the module's own codes (E_FILE_NOT_ENOUGH_MEMORY, E_FILE_OUTOFMEMORY,
// E_FILE_ACCESS_DENIED, E_FILE_CANNOT_MAKE); others go through MapWin32Error.
HRESULT MapWriteError(int64_t code);

// Proves that a file can be created in the directory of `path`, with the
// answer that creating and deleting a "CHK" file there would give, but
// without touching the folder (platform::CheckDirectoryWritable). A path
// without '/' probes the current directory. Returns 0, or the mapped Win32
// error (0x80070003 for a missing directory, 0x80070005 for a write-protected
// one).
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
// saved attributes afterwards (also after a failure). No backup is made: the
// one write of a few bytes at their place leaves the file whole at every
// instant, as the old bytes or the new ones.
// With `open_file`, the file at `path` that the caller opened for reading and
// writing (File::Access::kReadWriteExisting, which a read-only file refuses)
// to read what it patches, the write goes through it after the folder check,
// and it is closed.
// Returns 0, E_FAIL when the attributes cannot be read, or the mapped Win32
// error of the open, seek or write.
[[nodiscard]] HRESULT WriteBlockInPlace(const char* path, uint64_t offset, const uint8_t* bytes,
                                        size_t length, platform::File* open_file = nullptr);

// Writes a new file's bytes into `out`, the open, empty new file, which lives
// at `out_path` (a writer that saves by path closes `out` first). Returns 0
// or a result code.
using NewFileWriter = std::function<HRESULT(platform::File& out, const std::string& out_path)>;

// How ReplaceWithNewFile treats the target beyond its bytes.
struct Replacement {
  // The existing file whose permissions (and owner and extended attributes
  // where the system lets us) the new file gets; null or a missing file: the
  // mode of any new file.
  const char* like = nullptr;
  // A read-only existing target is refused with 0x80070005, as a copy over
  // it is; otherwise it is written and stays read-only.
  bool refuse_read_only = false;
  // Maps a failure to create the new file.
  HRESULT (*map_create_error)(int64_t) = MapWin32Error;
};

// Every whole-file write ends here. The new file is written beside the target
// and renamed over it, so that at every instant the target is the old file or
// the new one, whatever stops the process; the write reads its source while
// the target is still whole, so no backup is needed. Where a rename cannot
// be used (a file with several names, a link whose folder is closed to us),
// the new file is built in the user's temp directory and copied over the
// target after a "PIC" backup, which puts the old bytes back on failure.
// Returns 0 or a result code; no temporary file remains, except a backup
// that could not be put back.
HRESULT ReplaceWithNewFile(const char* target, const Replacement& how, const NewFileWriter& write);

// Writes the new file's bytes to `out`; returns 0 or a Win32 error.
using ResultWriter = std::function<uint32_t(platform::File& out)>;

// The guarded write that every rebuild ends with; the writer reads the file
// being edited, which stays whole until the new file takes its place. The
// target, when it exists (or is the source), keeps its permissions,
// read-only mark included. Returns 0 or a result code.
HRESULT WriteResultFile(const char* target, const ResultWriter& write);

}  // namespace veltora

#endif  // VELTORA_FRAME_SAFE_REPLACE_H_
