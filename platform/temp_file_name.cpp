#include "platform/temp_file_name.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "platform/temp_files.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

// Four hex digits give 65535 names per prefix; past that the directory is
// full of our own leftovers and the caller gets "file exists".
constexpr uint32_t kUniqueNames = 0xFFFF;

// A starting point that differs between calls, so that two threads of one
// process (whose names share the process id) do not walk the same sequence
// of names: the clock mixed with a count of the calls made so far.
uint32_t FirstUnique() {
  static std::atomic<uint32_t> calls{0};
  const auto ticks =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const uint64_t mixed = ticks ^ (uint64_t{calls.fetch_add(1, std::memory_order_relaxed)} * 40503u);
  return static_cast<uint32_t>(mixed % kUniqueNames) + 1;
}

// Folders swept by this process. Past this many the record starts again,
// which costs only sweeps, so that a host writing into endless folders
// keeps a bounded record.
constexpr size_t kRememberedFolders = 1024;

struct SweptFolders {
  std::mutex mutex;
  std::unordered_set<std::string> folders;
  uint32_t process_id = 0;  // whose sweeps `folders` records
};

// True the first time `folder` is asked about in this process.
bool FirstVisit(const std::string& folder) {
  static SweptFolders swept;
  const uint32_t pid = CurrentProcessId();
  const std::lock_guard lock(swept.mutex);
  if (swept.process_id != pid || swept.folders.size() >= kRememberedFolders) {
    swept.folders.clear();
    swept.process_id = pid;
  }
  return swept.folders.insert(folder).second;
}

}  // namespace

uint32_t GetTempFileName(const std::string& directory, const char* prefix, std::string* path,
                         uint32_t first_unique) {
  path->clear();
  if (prefix == nullptr) return kErrorInvalidParameter;
  const std::string_view three = std::string_view(prefix).substr(0, kTempPrefixLength);
  const uint32_t pid = CurrentProcessId();
  uint32_t unique =
      first_unique >= 1 && first_unique <= kUniqueNames ? first_unique : FirstUnique();
  uint32_t last_error = kErrorFileExists;
  for (uint32_t tries = 0; tries < kUniqueNames; ++tries) {
    std::string candidate = directory + TempFileName(three, pid, unique);
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
  // The private folder is small, and the only place our killed calls leave
  // their encoded pictures.
  SweepLeftoverTempFilesOnce(directory);
  return GetTempFileName(directory, prefix, path);
}

void SweepLeftoverTempFilesOnce(const std::string& directory) {
  std::error_code error;
  const std::filesystem::path absolute =
      std::filesystem::absolute(directory.empty() ? "." : directory, error);
  // A folder whose spelling cannot be made absolute is swept every time.
  if (error || FirstVisit(absolute.string())) RemoveLeftoverTempFiles(directory);
}

}  // namespace veltora::platform
