#include "platform/temp_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

// Four hex digits give 65535 names per prefix; past that the directory is
// full of our own leftovers and the caller gets "file exists".
constexpr uint32_t kUniqueNames = 0xFFFF;

bool IsPrivateDirectory(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0022) == 0;
}

uint32_t EnsurePrivateDirectory(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return Win32ErrorFromErrno(errno, dir.c_str());
  }
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return kErrorAccessDenied;  // a link or a non-directory in our place
  struct stat st {};
  uint32_t error = kErrorSuccess;
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    error = kErrorAccessDenied;
  } else if ((st.st_mode & 0077) != 0 && ::fchmod(fd, 0700) != 0) {
    error = kErrorAccessDenied;
  }
  ::close(fd);
  return error;
}

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

}  // namespace

uint32_t GetTempPath(std::string* directory) {
  directory->clear();
  if (const char* env = std::getenv("TMPDIR"); env != nullptr && env[0] == '/') {
    struct stat st {};
    if (::lstat(env, &st) == 0 && IsPrivateDirectory(st)) {
      *directory = env;
      if (directory->back() != '/') directory->push_back('/');
      return kErrorSuccess;
    }
  }
  std::string dir = "/tmp/veltora-" + std::to_string(::geteuid());
  if (uint32_t error = EnsurePrivateDirectory(dir)) return error;
  *directory = dir + "/";
  return kErrorSuccess;
}

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
  RemoveLeftoverTempFiles(directory);
  return GetTempFileName(directory, prefix, path);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

bool ProcessIsRunning(uint32_t pid) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT32_MAX)) return true;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::vector<std::string> RemoveLeftoverTempFiles(const std::string& directory) {
  std::vector<std::string> removed;
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return removed;
  while (const dirent* entry = ::readdir(dir)) {
    const auto parts = ParseTempFileName(entry->d_name);
    if (!parts || parts->prefix == kBackupPrefix || ProcessIsRunning(parts->pid)) continue;
    // Only our own regular files: a directory or a link that happens to carry
    // such a name is somebody else's.
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) removed.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return removed;
}

}  // namespace veltora::platform
