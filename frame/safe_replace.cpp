#include "frame/safe_replace.h"

#include "platform/replacement_file.h"
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
  // The check makes no file, so a killed patch leaves nothing here to sweep;
  // the writes that do make files sweep the folder before they create one.
  return MapWin32Error(platform::CheckDirectoryWritable(platform::DirectoryOf(path)));
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

namespace {

uint32_t WriteAtAndClose(File& file, uint64_t offset, const uint8_t* bytes, size_t length) {
  uint32_t error = file.WriteAt(offset, bytes, length);
  const uint32_t close_error = file.Close();
  return error != platform::kErrorSuccess ? error : close_error;
}

}  // namespace

HRESULT WriteBlockInPlace(const char* path, uint64_t offset, const uint8_t* bytes, size_t length,
                          File* open_file) {
  if (HRESULT probe = ProbeTargetDirectory(path); probe != S_OK) return probe;
  if (open_file != nullptr) {
    return MapWin32Error(WriteAtAndClose(*open_file, offset, bytes, length));
  }
  // A writable file is written at once; the open refuses a read-only one,
  // which then takes the long way round its mark.
  File file;
  uint32_t error = File::Open(path, File::Access::kWriteExisting, &file);
  if (error == platform::kErrorSuccess) {
    return MapWin32Error(WriteAtAndClose(file, offset, bytes, length));
  }
  const FileAttributes saved = platform::GetFileAttributes(path);
  if (!saved.Valid()) return E_FAIL;
  if (saved.flags != platform::kFileAttributeReadOnly) return MapWin32Error(error);
  // The read-only mark is cleared for the write and put back after.
  error = platform::SetFileAttributesNormal(path);
  if (error == platform::kErrorSuccess) error = File::Open(path, File::Access::kWriteExisting, &file);
  if (error == platform::kErrorSuccess) error = WriteAtAndClose(file, offset, bytes, length);
  // The result is the write's: a mark that cannot be put back does not undo it.
  platform::SetFileAttributes(path, saved);
  return MapWin32Error(error);
}

namespace {

bool IsReadOnly(const FileAttributes& attributes) {
  return attributes.Valid() && attributes.flags == platform::kFileAttributeReadOnly;
}

// Copies `built` over `target` in place, for the targets a rename cannot
// replace. An existing target is backed up first and put back when the copy
// fails; the backup is kept when it cannot be put back, since it is then the
// only good copy of the user's file. A read-only mark is cleared for the copy
// and put back after.
HRESULT CopyOverTarget(const char* built, const char* target, const Replacement& how) {
  const FileAttributes saved = platform::GetFileAttributes(target);
  const FileAttributes like =
      how.like == nullptr ? FileAttributes{} : platform::GetFileAttributes(how.like);
  TempFile backup;
  if (saved.Valid()) {
    if (uint32_t error = backup.Create(kBackupPrefix)) return MapWin32Error(error);
    if (uint32_t error = platform::CopyFile(target, backup.c_str(), false)) {
      return MapWin32Error(error);
    }
    if (IsReadOnly(saved)) {
      if (uint32_t error = platform::SetFileAttributesNormal(target)) return MapWin32Error(error);
    }
  }
  bool touched = false;
  uint32_t error = platform::CopyFile(built, target, false, /*copy_permissions=*/false, &touched);
  if (error != platform::kErrorSuccess && touched) {
    if (backup.empty()) {
      platform::DeleteFile(target);
    } else if (platform::CopyFile(backup.c_str(), target, false) != platform::kErrorSuccess) {
      backup.Keep();
    }
  }
  if (error == platform::kErrorSuccess && like.Valid() && like.mode != saved.mode) {
    platform::SetFileAttributes(target, like);
  } else if (saved.Valid()) {
    platform::SetFileAttributes(target, saved);
  }
  return MapWin32Error(error);
}

// The new file built in the user's temp directory, then copied over the
// target.
HRESULT ReplaceInPlace(const char* target, const Replacement& how, const NewFileWriter& write) {
  TempFile built;
  if (uint32_t error = built.Create(kReplacementPrefix)) return how.map_create_error(error);
  File out;
  if (uint32_t error = File::Open(built.c_str(), File::Access::kCreateAlways, &out)) {
    return how.map_create_error(error);
  }
  if (const HRESULT hr = write(out, built.path()); hr != S_OK) return hr;
  if (uint32_t error = out.Close()) return how.map_create_error(error);
  return CopyOverTarget(built.c_str(), target, how);
}

}  // namespace

HRESULT ReplaceWithNewFile(const char* target, const Replacement& how, const NewFileWriter& write) {
  if (target == nullptr || *target == '\0') return E_INVALIDARG;
  const platform::ReplacementPlan plan = platform::PlanReplacement(target);
  if (!plan.rename) return ReplaceInPlace(target, how, write);
  platform::ReplacementFile out;
  if (uint32_t error = out.Create(plan.path.c_str(), kReplacementPrefix, how.like)) {
    // The folder of a linked file may be closed to us where the link's is not.
    if (error == platform::kErrorAccessDenied && plan.path != target) {
      return ReplaceInPlace(target, how, write);
    }
    return how.map_create_error(error);
  }
  if (const HRESULT hr = write(out.file(), out.path()); hr != S_OK) return hr;
  if (how.refuse_read_only && IsReadOnly(platform::GetFileAttributes(plan.path.c_str()))) {
    return MapWin32Error(platform::kErrorAccessDenied);
  }
  return MapWin32Error(out.Commit(plan.path.c_str()));
}

HRESULT WriteResultFile(const char* target, const ResultWriter& write) {
  if (HRESULT probe = ProbeTargetDirectory(target); probe != S_OK) return probe;
  // A target that is the source exists, so one look at the target says
  // whose permissions the new file takes.
  const bool existed = platform::GetFileAttributes(target).Valid();
  return ReplaceWithNewFile(target, {existed ? target : nullptr, false, MapWin32Error},
                            [&](File& out, const std::string&) { return MapWin32Error(write(out)); });
}

}  // namespace veltora
