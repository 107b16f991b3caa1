#include "platform/replacement_file.h"

#include <windows.h>

#include <string_view>

#include "interface/temp_names.h"
#include "platform/fault_injection.h"
#include "platform/temp_files.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

// Names tried before giving up: each collision means a file of that exact
// name exists, which only a full folder of our own leftovers explains.
constexpr uint32_t kNameTries = 4096;

uint32_t LastError() { return static_cast<uint32_t>(::GetLastError()); }

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
  file_.Close();
  if (path_.empty()) return;
  // A read-only mark from `like` would refuse the delete.
  ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(path_.c_str());
}

uint32_t ReplacementFile::Create(const char* target, const char* prefix, const char* like) {
  if (target == nullptr || *target == '\0' || prefix == nullptr) return kErrorInvalidParameter;
  const std::string directory = DirectoryOf(target);
  SweepLeftoverTempFilesOnce(directory);
  // The attributes go on at Commit: a read-only mark now would refuse the
  // writes.
  like_.reset();
  if (const FileAttributes seen = like == nullptr ? FileAttributes{} : GetFileAttributes(like);
      seen.Valid()) {
    like_ = LikeFile{like, seen.mode, 0, 0};  // Windows keeps no owner a copy could take
  }
  const std::string_view three = std::string_view(prefix).substr(0, kTempPrefixLength);
  const uint32_t pid = CurrentProcessId();
  uint32_t unique = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this) >> 4);
  for (uint32_t tries = 0; tries < kNameTries; ++tries, unique += 0x9E37) {
    std::string candidate = directory + TempFileName(three, pid, unique & 0xFFFF);
    const uint32_t error = File::Open(candidate.c_str(), File::Access::kCreateNew, &file_);
    if (error == kErrorSuccess) {
      path_ = std::move(candidate);
      return kErrorSuccess;
    }
    if (error != kErrorFileExists) return error;
  }
  return kErrorFileExists;
}

uint32_t ReplacementFile::Commit(const char* target) {
  if (path_.empty() || target == nullptr) return kErrorInvalidHandle;
  // A file written by path (a codec library's own writer) is reopened to be
  // flushed.
  if (!file_.IsOpen()) {
    HANDLE handle = ::CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    file_ = File(handle, -1);
  }
  uint32_t error = file_.Flush();
  if (const uint32_t close_error = file_.Close(); error == kErrorSuccess) error = close_error;
  if (error == kErrorSuccess && like_ &&
      !::SetFileAttributesA(path_.c_str(), like_->mode & ~DWORD{FILE_ATTRIBUTE_DIRECTORY})) {
    error = LastError();
  }
  if (error == kErrorSuccess) error = CheckFault(FaultSite::kRename);
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
  if (error != kErrorSuccess) return error;  // the destructor removes the new file
  path_.clear();
  return kErrorSuccess;
}

}  // namespace veltora::platform
