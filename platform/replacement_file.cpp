#include "platform/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "interface/temp_names.h"
#include "platform/fault_injection.h"
#include "platform/temp_files.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

// Names tried before giving up: each collision means a file of that exact
// name exists, which only a full folder of our own leftovers explains.
constexpr uint32_t kNameTries = 4096;

uint32_t LastError(const char* path = nullptr) { return Win32ErrorFromErrno(errno, path); }

// The file's extended attributes (labels, tags, a quarantine mark) come along
// where both file systems have them; one that cannot be copied does not stop
// the write, as a plain copy of the file would not keep it either.
void CopyExtendedAttributes(const char* from, int to) {
  ssize_t size = ::listxattr(from, nullptr, 0);
  if (size <= 0) return;
  std::vector<char> names(static_cast<size_t>(size));
  size = ::listxattr(from, names.data(), names.size());
  if (size <= 0) return;
  std::vector<char> value;
  const char* end = names.data() + size;
  for (const char* name = names.data(); name < end; name += std::strlen(name) + 1) {
    ssize_t n = ::getxattr(from, name, nullptr, 0);
    if (n < 0) continue;
    value.resize(static_cast<size_t>(n));
    n = ::getxattr(from, name, value.data(), value.size());
    if (n >= 0) ::fsetxattr(to, name, value.data(), static_cast<size_t>(n), 0);
  }
}

// Makes the rename itself durable. A file system that cannot flush a folder
// (EINVAL) has nothing to flush; any other failure is not reported either:
// the target already is the whole new file, and saying otherwise would make
// a caller believe the old one is still there.
void FlushDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  while (::fsync(fd) != 0 && errno == EINTR) {
  }
  ::close(fd);
}

}  // namespace

ReplacementPlan PlanReplacement(const char* target) {
  ReplacementPlan plan{target == nullptr ? "" : target, true};
  struct stat st {};
  if (target == nullptr || ::lstat(target, &st) != 0) return plan;  // a new file
  if (S_ISLNK(st.st_mode)) {
    char* real = ::realpath(target, nullptr);
    // A link to nothing yet is written through, creating the file it names.
    if (real == nullptr) return {plan.path, false};
    plan.path = real;
    std::free(real);
    if (::stat(plan.path.c_str(), &st) != 0) return {target, false};
  }
  // A folder, a device or a FIFO is refused by the writes themselves; a
  // rename would replace it instead.
  plan.rename = S_ISREG(st.st_mode) && st.st_nlink == 1;
  return plan;
}

ReplacementFile::~ReplacementFile() {
  file_.Close();
  if (!path_.empty()) ::unlink(path_.c_str());
}

uint32_t ReplacementFile::Create(const char* target, const char* prefix, const char* like) {
  if (target == nullptr || *target == '\0' || prefix == nullptr) return kErrorInvalidParameter;
  const std::string directory = DirectoryOf(target);
  SweepLeftoverTempFilesOnce(directory);
  // One look at `like` serves the mode, owner and group that Commit gives.
  struct stat st {};
  like_.reset();
  if (like != nullptr && ::stat(like, &st) == 0) {
    like_ = LikeFile{like, st.st_mode & 07777, st.st_uid, st.st_gid};
  }
  // Until Commit gives it the target's mode the file is the owner's alone; a
  // new target's file is created with the mode of any new file.
  const mode_t mode = like_ ? 0600 : 0644;
  const std::string_view three = std::string_view(prefix).substr(0, kTempPrefixLength);
  const uint32_t pid = CurrentProcessId();
  uint32_t unique = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this) >> 4);
  for (uint32_t tries = 0; tries < kNameTries; ++tries, unique += 0x9E37) {
    if (uint32_t fault = CheckFault(FaultSite::kCreate)) return fault;
    std::string candidate = directory + TempFileName(three, pid, unique & 0xFFFF);
    int fd = -1;
    do {
      fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      path_ = std::move(candidate);
      file_ = File(fd, -1);
      return kErrorSuccess;
    }
    if (errno != EEXIST) return LastError(candidate.c_str());
  }
  return kErrorFileExists;
}

uint32_t ReplacementFile::Commit(const char* target) {
  if (path_.empty() || target == nullptr) return kErrorInvalidHandle;
  // A file written by path (a codec library's own writer) is reopened to be
  // flushed and given its attributes.
  if (!file_.IsOpen()) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return LastError(path_.c_str());
    file_ = File(fd, -1);
  }
  uint32_t error = file_.Flush();
  if (error == kErrorSuccess && like_) {
    // The owner first: changing it clears set-id bits that the mode then puts back.
    [[maybe_unused]] const int ignored = ::fchown(file_.fd_, like_->owner, like_->group);
    if (::fchmod(file_.fd_, like_->mode) != 0) error = LastError();
    CopyExtendedAttributes(like_->path.c_str(), file_.fd_);
  }
  if (const uint32_t close_error = file_.Close(); error == kErrorSuccess) error = close_error;
  if (error == kErrorSuccess) error = CheckFault(FaultSite::kRename);
  if (error == kErrorSuccess && ::rename(path_.c_str(), target) != 0) error = LastError(target);
  if (error != kErrorSuccess) return error;  // the destructor removes the new file
  path_.clear();
  FlushDirectory(DirectoryOf(target));
  return kErrorSuccess;
}

}  // namespace veltora::platform
