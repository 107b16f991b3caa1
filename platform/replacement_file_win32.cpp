#include "platform/replacement_file.h"

#include <windows.h>

#include "platform/temp_files.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

uint32_t LastError() { return static_cast<uint32_t>(::GetLastError()); }

// Writes the file's bytes through to the disk. The file is opened again by
// name: it may have been written by path rather than through file().
uint32_t FlushToDisk(const char* path) {
  HANDLE handle = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  uint32_t error = ::FlushFileBuffers(handle) ? kErrorSuccess : LastError();
  if (!::CloseHandle(handle) && error == kErrorSuccess) error = LastError();
  return error;
}

}  // namespace

ReplacementPlan PlanReplacement(const char* target) {
  ReplacementPlan plan;
  if (target == nullptr) return plan;
  plan.path = target;
  HANDLE handle = ::CreateFileA(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    plan.rename = true;  // nothing there yet (or unreadable): the rename creates it
    return plan;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
  ::CloseHandle(handle);
  // A link (reparse point) or a file with a second name is written in place:
  // a rename would replace the link itself, or give the new bytes to one
  // name only.
  plan.rename = known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                info.nNumberOfLinks <= 1;
  return plan;
}

ReplacementFile::~ReplacementFile() {
  if (path_.empty()) return;
  file_.Close();
  DeleteFile(path_.c_str());
}

uint32_t ReplacementFile::Create(const char* target, const char* prefix, const char* like) {
  if (target == nullptr || prefix == nullptr) return kErrorInvalidParameter;
  if (uint32_t error = GetTempFileName(DirectoryOf(target), prefix, &path_)) return error;
  // The attributes go on at Commit: a read-only mark now would refuse the
  // writes.
  like_ = like != nullptr ? GetFileAttributes(like) : FileAttributes{};
  if (uint32_t error = File::Open(path_.c_str(), File::Access::kWriteExisting, &file_)) {
    DeleteFile(path_.c_str());
    path_.clear();
    return error;
  }
  return kErrorSuccess;
}

uint32_t ReplacementFile::Commit(const char* target) {
  if (target == nullptr || path_.empty()) return kErrorInvalidParameter;
  uint32_t error = file_.Close();
  if (error == kErrorSuccess) error = FlushToDisk(path_.c_str());
  if (error == kErrorSuccess && like_.Valid() &&
      !::SetFileAttributesA(path_.c_str(), like_.mode & ~DWORD{FILE_ATTRIBUTE_DIRECTORY})) {
    error = LastError();
  }
  // A read-only target refuses to be replaced: its mark is cleared just
  // before the move and put back if the move fails.
  const DWORD old_attributes = ::GetFileAttributesA(target);
  const bool read_only = old_attributes != INVALID_FILE_ATTRIBUTES &&
                         (old_attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (error == kErrorSuccess && read_only &&
      !::SetFileAttributesA(target, old_attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
    error = LastError();
  }
  if (error == kErrorSuccess &&
      !::MoveFileExA(path_.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastError();
    if (read_only) ::SetFileAttributesA(target, old_attributes);
  }
  if (error != kErrorSuccess) {
    // A read-only mark from `like` would refuse the delete.
    ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFile(path_.c_str());
  }
  path_.clear();
  return error;
}

}  // namespace veltora::platform
