#include "platform/temp_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

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
