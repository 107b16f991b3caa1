#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/hot_path.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

// Copy through a buffer of this size: large enough that a photo takes a few
// dozen system calls, small enough to live on any stack of heap.
constexpr size_t kCopyChunk = 1 << 20;

uint32_t LastError(const char* path = nullptr) { return Win32ErrorFromErrno(errno, path); }

// Writes everything, at `offset` when it is not negative, else at the
// position.
uint32_t WriteAll(int fd, const uint8_t* data, size_t size, int64_t offset = -1) {
  while (size > 0) {
    ssize_t n = offset >= 0 ? ::pwrite(fd, data, size, static_cast<off_t>(offset))
                            : ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return kErrorDiskFull;
    data += n;
    size -= static_cast<size_t>(n);
    if (offset >= 0) offset += n;
  }
  return kErrorSuccess;
}

// Opens `path` without ever waiting (a FIFO without a writer would hold a
// blocking open forever) and keeps it only when it is a regular file: a
// directory, a device or a FIFO is refused with access denied, as Windows
// refuses to open a directory as a file. `st` receives what the open saw; a
// name created by this open is a new regular file and is not examined. The
// descriptor stays non-blocking: reads and writes of a regular file wait for
// the disk whatever the flag says, so clearing it would only cost a call.
//
// The owner's write bit is the read-only mark, for root too (whom the system
// lets write any file): an existing file without it is not opened for
// writing (access denied), and it is truncated only once it was let through.
// To tell a file this open creates (which may get a mode without the bit)
// from an existing one, a creating open tries an exclusive create first.
// Without `examine` the descriptor is kept unexamined (a reader that never
// needs the size then saves the fstat; File::Size examines it later).
VELTORA_HOT uint32_t OpenRegular(const char* path, int flags, mode_t mode, bool examine, int* fd,
                                 struct stat* st) {
  const bool writes = (flags & O_ACCMODE) != O_RDONLY;
  const bool truncate = (flags & O_TRUNC) != 0;
  bool created_new = (flags & O_EXCL) != 0;
  auto open_once = [&](int with) {
    do {
      *fd = ::open(path, with | O_NONBLOCK, mode);
    } while (*fd < 0 && errno == EINTR);
  };
  if ((flags & O_CREAT) != 0 && !created_new) {
    open_once((flags & ~O_TRUNC) | O_EXCL);
    created_new = *fd >= 0;
    if (*fd < 0 && errno != EEXIST) return LastError(path);
    if (*fd < 0) open_once(flags & ~(O_CREAT | O_TRUNC));
  } else {
    open_once(flags & ~O_TRUNC);
  }
  if (*fd < 0) return LastError(path);
  if (!examine) return kErrorSuccess;
  uint32_t error = kErrorSuccess;
  if (!created_new && ::fstat(*fd, st) != 0) {
    error = LastError();
  } else if (!created_new && !S_ISREG(st->st_mode)) {
    error = kErrorAccessDenied;
  } else if (!created_new && writes && (st->st_mode & S_IWUSR) == 0) {
    error = kErrorAccessDenied;
  } else if (truncate && !created_new && ::ftruncate(*fd, 0) != 0) {
    error = LastError(path);
  }
  if (error != kErrorSuccess) ::close(std::exchange(*fd, -1));
  return error;
}

}  // namespace

VELTORA_HOT File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_at_open_(std::exchange(other.size_at_open_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_at_open_ = std::exchange(other.size_at_open_, -1);
  }
  return *this;
}

VELTORA_HOT uint32_t File::Open(const char* path, Access access, File* out) {
  if (path == nullptr || *path == '\0' || out == nullptr) return kErrorInvalidParameter;
  out->Close();
  int flags = O_CLOEXEC;
  mode_t mode = 0644;
  FaultSite site = FaultSite::kOpen;
  switch (access) {
    case Access::kRead:
    case Access::kReadExaminedLater:
      flags |= O_RDONLY;
      break;
    case Access::kWriteExisting:
      flags |= O_WRONLY;
      break;
    case Access::kReadWriteExisting:
      flags |= O_RDWR;
      break;
    case Access::kCreateAlways:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      site = FaultSite::kCreate;
      break;
    case Access::kCreateNew:
      flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
      mode = 0600;
      site = FaultSite::kCreate;
      break;
  }
  if (uint32_t fault = CheckFault(site)) return fault;
  int fd = -1;
  struct stat st {};
  const bool examine = access != Access::kReadExaminedLater;
  if (uint32_t error = OpenRegular(path, flags, mode, examine, &fd, &st)) return error;
  int64_t size_at_open = -1;
  if (access == Access::kRead || access == Access::kReadWriteExisting) {
    size_at_open = static_cast<int64_t>(st.st_size);
  }
  if (!examine) size_at_open = kExaminedLater;
  *out = File(fd, size_at_open);
  return kErrorSuccess;
}

VELTORA_HOT uint32_t File::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (fd_ < 0) return kErrorInvalidHandle;
  auto* p = static_cast<uint8_t*>(buffer);
  while (*got < size) {
    ssize_t n = ::pread(fd_, p + *got, size - *got, static_cast<off_t>(offset + *got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return kErrorReadFault;
    }
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return kErrorSuccess;
}

uint32_t File::Read(void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (fd_ < 0) return kErrorInvalidHandle;
  auto* p = static_cast<uint8_t*>(buffer);
  while (*got < size) {
    ssize_t n = ::read(fd_, p + *got, size - *got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return kErrorReadFault;
    }
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return kErrorSuccess;
}

uint32_t File::Write(const void* buffer, size_t size) {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (uint32_t fault = CheckFault(FaultSite::kWrite)) return fault;
  return WriteAll(fd_, static_cast<const uint8_t*>(buffer), size);
}

uint32_t File::WriteAt(uint64_t offset, const void* buffer, size_t size) {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return kErrorInvalidParameter;
  if (uint32_t fault = CheckFault(FaultSite::kWrite)) return fault;
  return WriteAll(fd_, static_cast<const uint8_t*>(buffer), size, static_cast<int64_t>(offset));
}

uint32_t File::Seek(uint64_t offset) {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return kErrorInvalidParameter;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return LastError();
  return kErrorSuccess;
}

VELTORA_HOT uint32_t File::Size(uint64_t* size) const {
  *size = 0;
  if (fd_ < 0) return kErrorInvalidHandle;
  if (size_at_open_ >= 0) {
    *size = static_cast<uint64_t>(size_at_open_);
    return kErrorSuccess;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return LastError();
  if (size_at_open_ == kExaminedLater && !S_ISREG(st.st_mode)) return kErrorAccessDenied;
  *size = static_cast<uint64_t>(st.st_size);
  return kErrorSuccess;
}

uint32_t File::Flush() {
  if (fd_ < 0) return kErrorInvalidHandle;
  if (uint32_t fault = CheckFault(FaultSite::kFlush)) return fault;
  while (::fsync(fd_) != 0) {
    if (errno != EINTR) return LastError();
  }
  return kErrorSuccess;
}

VELTORA_HOT uint32_t File::Close() {
  if (fd_ < 0) return kErrorSuccess;
  size_at_open_ = -1;
  int rc = ::close(std::exchange(fd_, -1));
  return rc == 0 || errno == EINTR ? kErrorSuccess : LastError();
}

FileAttributes GetFileAttributes(const char* path) {
  FileAttributes attributes;
  struct stat st {};
  if (path == nullptr || ::stat(path, &st) != 0) return attributes;
  attributes.mode = st.st_mode & 07777;
  if (S_ISDIR(st.st_mode)) {
    attributes.flags = kFileAttributeDirectory;
  } else {
    attributes.flags = (st.st_mode & S_IWUSR) ? kFileAttributeNormal : kFileAttributeReadOnly;
  }
  return attributes;
}

uint32_t SetFileAttributes(const char* path, const FileAttributes& attributes) {
  if (path == nullptr || !attributes.Valid()) return kErrorInvalidParameter;
  if (uint32_t fault = CheckFault(FaultSite::kAttributes)) return fault;
  if (::chmod(path, static_cast<mode_t>(attributes.mode)) != 0) return LastError(path);
  return kErrorSuccess;
}

uint32_t SetFileAttributesNormal(const char* path) {
  FileAttributes attributes = GetFileAttributes(path);
  if (!attributes.Valid()) return LastError(path);
  attributes.mode |= S_IWUSR;
  return SetFileAttributes(path, attributes);
}

namespace {

// Copies the rest of `in` to `out`. The kernel copies when it can (no trip
// through this process's memory; a clone where the file system shares
// extents); where it cannot, a read-write loop carries on from the same
// positions. `size` is the input's size when opened: a kernel copy that finds
// nothing at all in a file that had bytes is not believed.
uint32_t CopyContents(int in, int out, off_t size) {
  constexpr size_t kKernelChunk = size_t{1} << 30;
  bool copied = false;
  for (;;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kKernelChunk, 0);
    if (n > 0) {
      copied = true;
      continue;
    }
    if (n == 0 && (copied || size == 0)) return kErrorSuccess;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
        errno != EBADF) {
      return LastError();
    }
    break;  // the kernel cannot copy between these two: copy by hand
  }
  std::vector<uint8_t> chunk(kCopyChunk);
  for (;;) {
    const ssize_t n = ::read(in, chunk.data(), chunk.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return kErrorReadFault;
    }
    if (n == 0) return kErrorSuccess;
    if (const uint32_t error = WriteAll(out, chunk.data(), static_cast<size_t>(n))) return error;
  }
}

}  // namespace

uint32_t CopyFile(const char* from, const char* to, bool fail_if_exists, bool copy_permissions,
                  bool* to_opened) {
  if (to_opened != nullptr) *to_opened = false;
  if (from == nullptr || to == nullptr || *from == '\0' || *to == '\0') {
    return kErrorInvalidParameter;
  }
  if (uint32_t fault = CheckFault(FaultSite::kCopy)) return fault;
  int in = -1;
  struct stat st {};
  if (uint32_t error = OpenRegular(from, O_RDONLY | O_CLOEXEC, 0, true, &in, &st)) return error;
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (fail_if_exists ? O_EXCL : 0);
  int out = -1;
  struct stat out_st {};
  if (uint32_t error =
          OpenRegular(to, flags, copy_permissions ? (st.st_mode & 07777) : 0644, true, &out, &out_st)) {
    ::close(in);
    return error;
  }
  if (to_opened != nullptr) *to_opened = true;
  uint32_t error = CopyContents(in, out, st.st_size);
  if (error == kErrorSuccess && copy_permissions && ::fchmod(out, st.st_mode & 07777) != 0) {
    error = LastError();
  }
  ::close(in);
  if (::close(out) != 0 && error == kErrorSuccess && errno != EINTR) error = LastError();
  return error;
}

uint32_t CopyFileContents(const char* from, File& to) {
  if (from == nullptr || *from == '\0') return kErrorInvalidParameter;
  if (!to.IsOpen()) return kErrorInvalidHandle;
  if (uint32_t fault = CheckFault(FaultSite::kCopy)) return fault;
  File in;
  if (uint32_t error = File::Open(from, File::Access::kRead, &in)) return error;
  uint64_t size = 0;
  if (uint32_t error = in.Size(&size)) return error;
  return CopyContents(in.fd_, to.fd_, static_cast<off_t>(size));
}

uint32_t DeleteFile(const char* path) {
  if (path == nullptr || *path == '\0') return kErrorInvalidParameter;
  if (uint32_t fault = CheckFault(FaultSite::kDelete)) return fault;
  // unlink refuses a directory with EISDIR, which maps to access denied.
  if (::unlink(path) != 0) return LastError(path);
  return kErrorSuccess;
}

bool IsSameFile(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  // One name resolves to one file, whether it exists or not.
  if (std::strcmp(a, b) == 0) return true;
  struct stat sa {}, sb {};
  const bool a_exists = ::stat(a, &sa) == 0;
  const bool b_exists = ::stat(b, &sb) == 0;
  if (a_exists && b_exists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  // A name that leads to no file is never the name of one that exists: the
  // canonical form of the one that exists holds no link and no missing part.
  if (a_exists != b_exists) return false;
  std::error_code ec_a, ec_b;
  auto ca = std::filesystem::weakly_canonical(a, ec_a);
  auto cb = std::filesystem::weakly_canonical(b, ec_b);
  return !ec_a && !ec_b && ca == cb;
}

std::string DirectoryOf(const char* path) {
  std::string dir(path == nullptr ? "" : path);
  size_t slash = dir.find_last_of('/');
  if (slash == std::string::npos) return "./";
  dir.resize(slash + 1);
  return dir;
}

uint32_t CheckDirectoryWritable(const std::string& directory) {
  if (uint32_t fault = CheckFault(FaultSite::kCreate)) return fault;
  // Write and search rights are what adding a name needs; the effective ids
  // decide, as they decide for the create.
  if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
    return kErrorSuccess;
  }
  if (errno == ENOENT || errno == ENOTDIR) return kErrorPathNotFound;
  return LastError(directory.c_str());
}

}  // namespace veltora::platform
