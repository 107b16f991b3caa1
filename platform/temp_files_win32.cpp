#include "platform/temp_files.h"

#include <windows.h>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "platform/win32_error.h"

namespace veltora::platform {

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
