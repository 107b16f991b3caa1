#include "platform/temp_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

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

// A starting point that differs between processes, so that two processes do
// not walk the same sequence of names.
uint32_t FirstUnique() {
  auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<uint32_t>((static_cast<uint64_t>(ticks) ^ static_cast<uint64_t>(::getpid())) %
                               kUniqueNames) + 1;
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
  std::string base = directory + std::string(prefix).substr(0, 3);
  uint32_t unique =
      first_unique >= 1 && first_unique <= kUniqueNames ? first_unique : FirstUnique();
  uint32_t last_error = kErrorFileExists;
  for (uint32_t tries = 0; tries < kUniqueNames; ++tries) {
    char name[16];
    std::snprintf(name, sizeof name, "%X.TMP", unique);
    std::string candidate = base + name;
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

}  // namespace veltora::platform
