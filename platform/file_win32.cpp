#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "interface/temp_names.h"
#include "platform/fault_injection.h"
#include "platform/hot_path.h"
#include "platform/temp_files.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

// One ReadFile or WriteFile moves at most this much: the calls count in a
// DWORD, and a gigabyte keeps every count far from its limit.
constexpr size_t kChunk = size_t{1} << 30;
// Copy through a buffer of this size: large enough that a photo takes a few
// dozen calls, small enough for any heap.
constexpr size_t kCopyChunk = size_t{1} << 20;

uint32_t LastError() { return static_cast<uint32_t>(::GetLastError()); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Reads until `size` bytes or the end of the file, from `offset`.
uint32_t ReadFrom(HANDLE handle, uint64_t offset, uint8_t* data, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    OVERLAPPED at = At(offset + *got);
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(std::min(size - *got, kChunk));
    if (!::ReadFile(handle, data + *got, ask, &n, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return kErrorReadFault;
    }
    if (n == 0) break;
    *got += n;
  }
  return kErrorSuccess;
}

// Writes everything at `offset`; a write that moves nothing is a full disk.
uint32_t WriteTo(HANDLE handle, uint64_t offset, const uint8_t* data, size_t size) {
  while (size > 0) {
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(std::min(size, kChunk));
    if (!::WriteFile(handle, data, ask, &n, &at)) return LastError();
    if (n == 0) return kErrorDiskFull;
    data += n;
    size -= n;
    offset += n;
  }
  return kErrorSuccess;
}

// Windows refuses to write or delete a file marked read-only; Wine running
// as root (whose write permission the host system never denies) does not, so
// the mark is also looked at first.
bool IsMarkedReadOnly(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Opens `path` and keeps it only when it is a file on a disk: Windows itself
// refuses a directory (5), and a device or a pipe ("NUL", "\\.\COM1",
// "\\.\pipe\x") is refused with the same answer. The read-only attribute is
// Windows' own: a write open of such a file fails with 5.
VELTORA_HOT uint32_t OpenRegular(const char* path, DWORD access, DWORD share, DWORD disposition,
                                 HANDLE* out) {
  *out = nullptr;
  if ((access & GENERIC_WRITE) != 0 && IsMarkedReadOnly(path)) return kErrorAccessDenied;
  *out = ::CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (*out == INVALID_HANDLE_VALUE) {
    *out = nullptr;
    return LastError();
  }
  if (::GetFileType(*out) != FILE_TYPE_DISK) {
    ::CloseHandle(std::exchange(*out, nullptr));
    return kErrorAccessDenied;
  }
  return kErrorSuccess;
}

// Copies the rest of `in` to `out` at `*position`, which moves along.
uint32_t CopyContents(HANDLE in, HANDLE out, uint64_t* position) {
  try {
    std::vector<uint8_t> chunk(kCopyChunk);
    for (uint64_t offset = 0;;) {
      size_t got = 0;
      if (uint32_t error = ReadFrom(in, offset, chunk.data(), chunk.size(), &got)) return error;
      if (got == 0) return kErrorSuccess;
      if (uint32_t error = WriteTo(out, *position, chunk.data(), got)) return error;
      offset += got;
      *position += got;
    }
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

// Readers let others read and write; writers deny other writers.
constexpr DWORD kShareForReading = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareForWriting = FILE_SHARE_READ;
constexpr DWORD kShareNone = 0;

}  // namespace

VELTORA_HOT File::~File() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      position_(std::exchange(other.position_, 0)),
      size_at_open_(std::exchange(other.size_at_open_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::CloseHandle(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    position_ = std::exchange(other.position_, 0);
    size_at_open_ = std::exchange(other.size_at_open_, -1);
  }
  return *this;
}

VELTORA_HOT uint32_t File::Open(const char* path, Access access, File* out) {
  if (path == nullptr || *path == '\0' || out == nullptr) return kErrorInvalidParameter;
  out->Close();
  DWORD rights = GENERIC_WRITE;
  DWORD share = kShareNone;
  DWORD disposition = OPEN_EXISTING;
  FaultSite site = FaultSite::kOpen;
  switch (access) {
    case Access::kRead:
    case Access::kReadExaminedLater:
      rights = GENERIC_READ;
      share = kShareForReading;
      break;
    case Access::kWriteExisting:
      share = kShareForWriting;
      break;
    case Access::kReadWriteExisting:
      rights = GENERIC_READ | GENERIC_WRITE;
      share = kShareForWriting;
      break;
    case Access::kCreateAlways:
      disposition = CREATE_ALWAYS;
      site = FaultSite::kCreate;
      break;
    case Access::kCreateNew:
      // CREATE_NEW fails on any existing name, a link included, without
      // following it.
      disposition = CREATE_NEW;
      site = FaultSite::kCreate;
      break;
  }
  if (uint32_t fault = CheckFault(site)) return fault;
  HANDLE handle = nullptr;
  if (uint32_t error = OpenRegular(path, rights, share, disposition, &handle)) return error;
  int64_t size_at_open = -1;
  // The open already refused what is not a file on a disk; a later reader
  // asks the size when it needs it.
  if (access == Access::kRead || access == Access::kReadWriteExisting) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle, &size)) {
      const uint32_t error = LastError();
      ::CloseHandle(handle);
      return error;
    }
    size_at_open = size.QuadPart;
  }
  *out = File(handle, size_at_open);
  return kErrorSuccess;
}

VELTORA_HOT uint32_t File::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (handle_ == nullptr) return kErrorInvalidHandle;
  return ReadFrom(handle_, offset, static_cast<uint8_t*>(buffer), size, got);
}

uint32_t File::Read(void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (handle_ == nullptr) return kErrorInvalidHandle;
  const uint32_t error = ReadFrom(handle_, position_, static_cast<uint8_t*>(buffer), size, got);
  position_ += *got;
  return error;
}

uint32_t File::Write(const void* buffer, size_t size) {
  if (handle_ == nullptr) return kErrorInvalidHandle;
  if (uint32_t fault = CheckFault(FaultSite::kWrite)) return fault;
  const uint32_t error = WriteTo(handle_, position_, static_cast<const uint8_t*>(buffer), size);
  if (error == kErrorSuccess) position_ += size;
  return error;
}

uint32_t File::WriteAt(uint64_t offset, const void* buffer, size_t size) {
  if (handle_ == nullptr) return kErrorInvalidHandle;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return kErrorInvalidParameter;
  if (uint32_t fault = CheckFault(FaultSite::kWrite)) return fault;
  return WriteTo(handle_, offset, static_cast<const uint8_t*>(buffer), size);
}

uint32_t File::Seek(uint64_t offset) {
  if (handle_ == nullptr) return kErrorInvalidHandle;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return kErrorInvalidParameter;
  position_ = offset;
  return kErrorSuccess;
}

VELTORA_HOT uint32_t File::Size(uint64_t* size) const {
  *size = 0;
  if (handle_ == nullptr) return kErrorInvalidHandle;
  if (size_at_open_ >= 0) {
    *size = static_cast<uint64_t>(size_at_open_);
    return kErrorSuccess;
  }
  LARGE_INTEGER now{};
  if (!::GetFileSizeEx(handle_, &now)) return LastError();
  *size = static_cast<uint64_t>(now.QuadPart);
  return kErrorSuccess;
}

uint32_t File::Flush() {
  if (handle_ == nullptr) return kErrorInvalidHandle;
  if (uint32_t fault = CheckFault(FaultSite::kFlush)) return fault;
  return ::FlushFileBuffers(handle_) ? kErrorSuccess : LastError();
}

VELTORA_HOT uint32_t File::Close() {
  if (handle_ == nullptr) return kErrorSuccess;
  size_at_open_ = -1;
  position_ = 0;
  return ::CloseHandle(std::exchange(handle_, nullptr)) ? kErrorSuccess : LastError();
}

FileAttributes GetFileAttributes(const char* path) {
  FileAttributes attributes;
  if (path == nullptr) return attributes;
  const DWORD word = ::GetFileAttributesA(path);
  if (word == INVALID_FILE_ATTRIBUTES) return attributes;
  attributes.mode = word;
  if ((word & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    attributes.flags = kFileAttributeDirectory;
  } else {
    attributes.flags =
        (word & FILE_ATTRIBUTE_READONLY) != 0 ? kFileAttributeReadOnly : kFileAttributeNormal;
  }
  return attributes;
}

uint32_t SetFileAttributes(const char* path, const FileAttributes& attributes) {
  if (path == nullptr || !attributes.Valid()) return kErrorInvalidParameter;
  if (uint32_t fault = CheckFault(FaultSite::kAttributes)) return fault;
  if (!::SetFileAttributesA(path, attributes.mode)) return LastError();
  return kErrorSuccess;
}

uint32_t SetFileAttributesNormal(const char* path) {
  if (path == nullptr) return kErrorInvalidParameter;
  if (uint32_t fault = CheckFault(FaultSite::kAttributes)) return fault;
  if (!::SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) return LastError();
  return kErrorSuccess;
}

uint32_t CopyFile(const char* from, const char* to, bool fail_if_exists, bool copy_permissions,
                  bool* to_opened) {
  if (to_opened != nullptr) *to_opened = false;
  if (from == nullptr || to == nullptr || *from == '\0' || *to == '\0') {
    return kErrorInvalidParameter;
  }
  if (uint32_t fault = CheckFault(FaultSite::kCopy)) return fault;
  // By hand rather than CopyFileA: both ends must be files on a disk, and
  // the caller must learn whether `to` was touched.
  HANDLE in = nullptr;
  if (uint32_t error = OpenRegular(from, GENERIC_READ, kShareForReading, OPEN_EXISTING, &in)) {
    return error;
  }
  const DWORD source_attributes = ::GetFileAttributesA(from);
  HANDLE out = nullptr;
  if (uint32_t error = OpenRegular(to, GENERIC_WRITE, kShareNone,
                                   fail_if_exists ? CREATE_NEW : CREATE_ALWAYS, &out)) {
    ::CloseHandle(in);
    return error;
  }
  if (to_opened != nullptr) *to_opened = true;
  uint64_t end = 0;
  uint32_t error = CopyContents(in, out, &end);
  ::CloseHandle(in);
  if (!::CloseHandle(out) && error == kErrorSuccess) error = LastError();
  // The attributes go on last: a read-only mark set earlier would refuse the
  // writes above.
  if (error == kErrorSuccess && copy_permissions && source_attributes != INVALID_FILE_ATTRIBUTES &&
      !::SetFileAttributesA(to, source_attributes)) {
    error = LastError();
  }
  return error;
}

uint32_t CopyFileContents(const char* from, File& to) {
  if (from == nullptr || *from == '\0') return kErrorInvalidParameter;
  if (!to.IsOpen()) return kErrorInvalidHandle;
  if (uint32_t fault = CheckFault(FaultSite::kCopy)) return fault;
  File in;
  if (uint32_t error = File::Open(from, File::Access::kRead, &in)) return error;
  return CopyContents(in.handle_, to.handle_, &to.position_);
}

uint32_t DeleteFile(const char* path) {
  if (path == nullptr || *path == '\0') return kErrorInvalidParameter;
  if (uint32_t fault = CheckFault(FaultSite::kDelete)) return fault;
  if (IsMarkedReadOnly(path)) return kErrorAccessDenied;
  if (!::DeleteFileA(path)) return LastError();
  return kErrorSuccess;
}

namespace {

bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  // No access rights and backup semantics: the identity of anything,
  // whatever its sharing, without reading it.
  HANDLE handle = ::CreateFileA(path, 0, kShareForReading, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = ::GetFileInformationByHandle(handle, info) != 0;
  ::CloseHandle(handle);
  return ok;
}

std::string FullPathUpper(const char* path) {
  char buffer[MAX_PATH * 4];
  const DWORD n = ::GetFullPathNameA(path, sizeof buffer, buffer, nullptr);
  if (n == 0 || n >= sizeof buffer) return {};
  ::CharUpperBuffA(buffer, n);
  return std::string(buffer, n);
}

}  // namespace

bool IsSameFile(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (FileIdentity(a, &ia) && FileIdentity(b, &ib)) {
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }
  const std::string fa = FullPathUpper(a);
  return !fa.empty() && fa == FullPathUpper(b);
}

std::string DirectoryOf(const char* path) {
  std::string dir(path == nullptr ? "" : path);
  const size_t separator = dir.find_last_of("/\\");
  if (separator != std::string::npos) {
    dir.resize(separator + 1);
  } else if (dir.size() >= 2 && dir[1] == ':') {
    dir.resize(2);
  } else {
    dir = "./";
  }
  return dir;
}

uint32_t CheckDirectoryWritable(const std::string& directory) {
  // Windows tells whether a file may be created in a folder (its ACLs, a
  // read-only volume) only by creating one. The probe carries our process id,
  // so that one a killed call left is removed by a later write there.
  std::string probe;
  if (uint32_t error = GetTempFileName(directory, kProbePrefix, &probe)) return error;
  return DeleteFile(probe.c_str());
}

}  // namespace veltora::platform
