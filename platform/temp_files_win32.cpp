#include "platform/temp_files.h"

#include <windows.h>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

// Unique numbers run from 1 to 0xFFFF per prefix and process; past that the
// directory is full of this process's own files and the caller gets "file
// exists".
constexpr uint32_t kUniqueNames = 0xFFFF;

// A starting point that differs between calls, so that calls running side by
// side do not walk the same sequence of names.
uint32_t FirstUnique() {
  LARGE_INTEGER ticks{};
  ::QueryPerformanceCounter(&ticks);
  return static_cast<uint32_t>(static_cast<uint64_t>(ticks.QuadPart) % kUniqueNames) + 1;
}

}  // namespace

uint32_t GetTempPath(std::string* directory) {
  directory->clear();
  // The user's own temp directory (TMP, TEMP or the profile's), which the
  // system already keeps private to the user.
  char buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  if (n == 0) return static_cast<uint32_t>(::GetLastError());
  if (n >= sizeof buffer) return kErrorFilenameExceedsRange;
  const DWORD attributes = ::GetFileAttributesA(buffer);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kErrorPathNotFound;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return kErrorAccessDenied;
  directory->assign(buffer, n);
  return kErrorSuccess;
}

uint32_t GetTempFileName(const std::string& directory, const char* prefix, std::string* path,
                         uint32_t first_unique) {
  path->clear();
  if (prefix == nullptr) return kErrorInvalidParameter;
  const uint32_t pid = CurrentProcessId();
  uint32_t unique =
      first_unique >= 1 && first_unique <= kUniqueNames ? first_unique : FirstUnique();
  uint32_t last_error = kErrorFileExists;
  for (uint32_t tries = 0; tries < kUniqueNames; ++tries) {
    std::string candidate = directory + TempFileName(prefix, pid, unique);
    File file;
    last_error = File::Open(candidate.c_str(), File::Access::kCreateNew, &file);
    if (last_error == kErrorSuccess) {
      last_error = file.Close();
      if (last_error != kErrorSuccess) {
        DeleteFile(candidate.c_str());
        return last_error;
      }
      *path = std::move(candidate);
      return kErrorSuccess;
    }
    if (last_error != kErrorFileExists) return last_error;
    unique = unique % kUniqueNames + 1;
  }
  return last_error;
}

uint32_t MakeTempFile(const char* prefix, std::string* path) {
  std::string directory;
  if (uint32_t error = GetTempPath(&directory)) {
    path->clear();
    return error;
  }
  return GetTempFileName(directory, prefix, path);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::GetCurrentProcessId()); }

bool ProcessIsRunning(uint32_t pid) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no such id
  // A process that has ended but whose handle someone still holds has an
  // exit code; only one still running times out here.
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

std::vector<std::string> RemoveLeftoverTempFiles(const std::string& directory) {
  std::vector<std::string> removed;
  WIN32_FIND_DATAA found{};
  const std::string pattern =
      directory + std::string(kTempNameMark) + "*" + std::string(kTempNameExtension);
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return removed;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    const std::optional<TempNameParts> parts = ParseTempFileName(found.cFileName);
    if (!parts || parts->prefix == kBackupPrefix || ProcessIsRunning(parts->pid)) continue;
    const std::string path = directory + found.cFileName;
    if (DeleteFile(path.c_str()) == kErrorSuccess) removed.push_back(found.cFileName);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return removed;
}

}  // namespace veltora::platform
