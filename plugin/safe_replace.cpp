#include "plugin/safe_replace.h"

#include "platform/temp_files.h"
#include "platform/win32_error.h"

namespace veltora {

using platform::File;
using platform::FileAttributes;

HRESULT MapWin32Error(int64_t code) {
  if (code <= 0) return static_cast<HRESULT>(code);
  return HRESULT_FROM_WIN32(static_cast<int32_t>(code & 0xFFFF));
}

HRESULT MapWriteError(int64_t code) {
  switch (code) {
    case platform::kErrorNotEnoughMemory:
      return E_FILE_NOT_ENOUGH_MEMORY;
    case platform::kErrorOutOfMemory:
      return E_FILE_OUTOFMEMORY;
    case platform::kErrorAccessDenied:
      return E_FILE_ACCESS_DENIED;
    case platform::kErrorCannotMake:
      return E_FILE_CANNOT_MAKE;
    default:
      return MapWin32Error(code);
  }
}

HRESULT ProbeTargetDirectory(const char* path) {
  if (path == nullptr || *path == '\0') return E_INVALIDARG;
  std::string probe;
  if (uint32_t error = platform::GetTempFileName(platform::DirectoryOf(path), kProbePrefix, &probe)) {
    return MapWin32Error(error);
  }
  // A probe that could not be removed is reported rather than left silently.
  return MapWin32Error(platform::DeleteFile(probe.c_str()));
}

uint32_t MakeTempFile(const char* prefix, std::string* path) {
  return platform::MakeTempFile(prefix, path);
}

void TempFile::Remove() {
  if (!path_.empty()) {
    platform::DeleteFile(path_.c_str());
    path_.clear();
  }
}

HRESULT WriteBlockInPlace(const char* path, uint64_t offset, const uint8_t* bytes, size_t length) {
  if (HRESULT probe = ProbeTargetDirectory(path); probe != S_OK) return probe;
  FileAttributes saved = platform::GetFileAttributes(path);
  if (!saved.Valid()) return E_FAIL;
  // The read-only mark is cleared only when it is set, and put back after.
  const bool read_only = saved.flags == platform::kFileAttributeReadOnly;
  uint32_t error = read_only ? platform::SetFileAttributesNormal(path) : platform::kErrorSuccess;
  if (error == platform::kErrorSuccess) {
    File file;
    error = File::Open(path, File::Access::kWriteExisting, &file);
    if (error == platform::kErrorSuccess) error = file.WriteAt(offset, bytes, length);
    uint32_t close_error = file.Close();
    if (error == platform::kErrorSuccess) error = close_error;
  }
  // The result is the write's: a mark that cannot be put back does not undo it.
  if (read_only) platform::SetFileAttributes(path, saved);
  return MapWin32Error(error);
}

namespace {

// Writes the new target from the chosen source; 0 or a Win32 error.
// `*touched` says whether the target was opened (and so created or emptied).
uint32_t WriteTarget(const char* target, const char* read_from, const LayoutWriter& write_layout,
                     bool* touched) {
  File out;
  if (uint32_t error = File::Open(target, File::Access::kCreateAlways, &out)) return error;
  *touched = true;
  File in;
  if (uint32_t error = File::Open(read_from, File::Access::kRead, &in)) return error;
  uint32_t error = write_layout(out, in);
  uint32_t close_error = out.Close();
  return error != platform::kErrorSuccess ? error : close_error;
}

// Undoes a failed write that touched the target: puts the backup back, or,
// without one, removes the target, which did not exist before. The backup is
// kept when it cannot be put back, since it is then the only good copy of
// the user's file.
void UndoWrite(TempFile& backup, const char* target) {
  if (backup.empty()) {
    platform::DeleteFile(target);
  } else if (platform::CopyFile(backup.c_str(), target, false) != platform::kErrorSuccess) {
    backup.Keep();
  }
}

}  // namespace

HRESULT WriteResultFile(const char* target, const char* source_path, const char* alternate_source,
                        const LayoutWriter& write_layout) {
  if (HRESULT probe = ProbeTargetDirectory(target); probe != S_OK) return probe;
  FileAttributes saved = platform::GetFileAttributes(target);
  const bool same = platform::IsSameFile(target, source_path);
  const bool existed = same || saved.Valid();
  // An existing target is backed up first; without a complete backup it is
  // not touched.
  TempFile backup;
  if (existed) {
    if (uint32_t error = backup.Create(kBackupPrefix)) return MapWin32Error(error);
    if (uint32_t error = platform::SetFileAttributesNormal(target)) return MapWin32Error(error);
    if (uint32_t error = platform::CopyFile(target, backup.c_str(), false)) {
      platform::SetFileAttributes(target, saved);
      return MapWin32Error(error);
    }
  }
  const char* read_from = alternate_source != nullptr ? alternate_source
                          : same                      ? backup.c_str()
                                                      : source_path;
  bool touched = false;
  const uint32_t error = WriteTarget(target, read_from, write_layout, &touched);
  if (error != platform::kErrorSuccess && touched) UndoWrite(backup, target);
  if (existed) platform::SetFileAttributes(target, saved);
  return MapWin32Error(error);
}

HRESULT CopyOverTarget(const char* from, const char* target, bool copy_permissions,
                       const std::function<HRESULT()>& patch) {
  TempFile backup;
  if (platform::GetFileAttributes(target).Valid()) {
    if (uint32_t error = backup.Create(kBackupPrefix)) return MapWin32Error(error);
    if (uint32_t error = platform::CopyFile(target, backup.c_str(), false)) {
      return MapWin32Error(error);
    }
  }
  bool touched = false;
  HRESULT result =
      MapWin32Error(platform::CopyFile(from, target, false, copy_permissions, &touched));
  if (result == S_OK && patch) result = patch();
  if (result < 0 && touched) UndoWrite(backup, target);
  return result;
}

HRESULT CopyBuiltFile(const char* built_file, const char* target) {
  return CopyOverTarget(built_file, target, /*copy_permissions=*/false);
}

}  // namespace veltora
