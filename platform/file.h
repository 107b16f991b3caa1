// Files with Win32 error numbers: the file calls the plug-in makes, with the
// failures reported the way the Windows calls report them. On Windows these
// are the calls themselves (file_win32.cpp: GetLastError's own numbers, paths
// in the ANSI code page separated by '/' or '\\'); on Linux (file.cpp) errno
// is mapped (win32_error.h) and paths are '/'-separated byte strings, never
// transcoded. Every call passes the fault-injection seam first.
#ifndef VELTORA_PLATFORM_FILE_H_
#define VELTORA_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "platform/win32_error.h"

#if defined(_WIN32)
// windows.h names its ANSI and wide pairs by macros; these names are ours.
#include "interface/host_win32.h"
#undef CopyFile
#undef DeleteFile
#undef GetFileAttributes
#undef SetFileAttributes
#endif

namespace veltora::platform {

// An open file; move-only, closed by its destructor. All calls return a Win32
// error number, 0 on success.
class File {
 public:
  enum class Access : uint8_t {
    kRead,  // existing file, read only
    // Existing file, read only, opened without examining it: the first Size
    // call examines it, and refuses anything but a regular file with 5 as
    // the open itself does for kRead. Reads of a directory or a FIFO fail.
    kReadExaminedLater,
    kWriteExisting,  // existing file, written in place: neither created nor truncated
    // Existing file, read and then written in place by one call: examined
    // and shared as kWriteExisting, sized as kRead.
    kReadWriteExisting,
    kCreateAlways,  // created, or truncated when it exists
    kCreateNew,     // created; fails with 80 when the name exists (links not followed)
  };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // New files are created with mode 0644 less the umask (0600 for kCreateNew,
  // which makes temporary files; on Windows both are FILE_ATTRIBUTE_NORMAL).
  // Only regular files are opened, and the open never waits: a directory, a
  // device or a FIFO answers 5 at once. On Windows a reader lets others read
  // and write the file, a writer lets others only read it, and a creator
  // shares nothing; an open that meets a conflicting handle answers 32
  // (sharing violation).
  static uint32_t Open(const char* path, Access access, File* out);

  // Reads up to `size` bytes at `offset`; `*got` < size only at the end of
  // the file. Does not move the position used by Read and Write.
  uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got);
  uint32_t Read(void* buffer, size_t size, size_t* got);
  // Replaces `bytes` with the whole file. 0; 223 when the file is larger
  // than `limit` (nothing is allocated); 8 when memory is short; 30 when a
  // read fails and 38 when the file ends early (`bytes` is then empty); or
  // the error of the size query.
  uint32_t ReadAll(std::vector<uint8_t>* bytes, uint64_t limit = UINT64_MAX);
  // Writes all `size` bytes or reports the error (disk full is 112, a file
  // size limit 223; a short write is never reported as success).
  uint32_t Write(const void* buffer, size_t size);
  // Writes all `size` bytes at `offset` without moving the position.
  uint32_t WriteAt(uint64_t offset, const void* buffer, size_t size);
  uint32_t Seek(uint64_t offset);
  // A file opened for reading answers from the size seen at open (which the
  // open examines anyway), saving a system call on every query; one opened
  // with kReadExaminedLater is examined by each call (see there).
  uint32_t Size(uint64_t* size) const;
  // Flushes what was written to the disk itself (fsync); 0 or a Win32 error.
  uint32_t Flush();
  // Closes the file; reports a deferred write error of the close itself.
  uint32_t Close();
  bool IsOpen() const;

 private:
  friend class ReplacementFile;
  friend uint32_t CopyFileContents(const char* from, File& to);
#if defined(_WIN32)
  File(void* handle, int64_t size_at_open) : handle_(handle), size_at_open_(size_at_open) {}
  // Reads and writes are positioned calls at `position_`, so that ReadAt and
  // WriteAt (which Windows lets move the system's pointer) leave it alone.
  void* handle_ = nullptr;  // HANDLE; null when closed
  uint64_t position_ = 0;
#else
  File(int fd, int64_t size_at_open) : fd_(fd), size_at_open_(size_at_open) {}
  int fd_ = -1;
#endif
  // -1: not read-only, ask the system; kExaminedLater: ask it, and refuse a
  // file that is not regular.
  static constexpr int64_t kExaminedLater = -2;
  int64_t size_at_open_ = -1;
};

#if defined(_WIN32)
inline bool File::IsOpen() const { return handle_ != nullptr; }
#else
inline bool File::IsOpen() const { return fd_ >= 0; }
#endif

// Shared by both platforms: it stands on Size and ReadAt alone.
inline uint32_t File::ReadAll(std::vector<uint8_t>* bytes, uint64_t limit) {
  bytes->clear();
  uint64_t size = 0;
  if (const uint32_t error = Size(&size)) return error;
  if (size > limit || size > bytes->max_size()) return kErrorFileTooLarge;
  try {
    bytes->resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  size_t got = 0;
  uint32_t error = ReadAt(0, bytes->data(), bytes->size(), &got);
  if (error == 0 && got != bytes->size()) error = kErrorHandleEof;
  if (error != 0) bytes->clear();
  return error;
}

// File attributes. Only the read-only mark has a meaning here: on Linux it is
// the owner's write permission bit. The mode is carried along so that
// restoring saved attributes puts the exact old permission bits back (on
// Windows it is the whole attribute word: hidden, system, archive and the rest).
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

struct FileAttributes {
  uint32_t flags = kInvalidFileAttributes;
  uint32_t mode = 0;  // permission bits as stat reports them (07777); Windows: the attributes
  bool Valid() const { return flags != kInvalidFileAttributes; }
};

// flags == kInvalidFileAttributes when the path cannot be examined.
FileAttributes GetFileAttributes(const char* path);
// Puts `attributes.mode` back on the file.
uint32_t SetFileAttributes(const char* path, const FileAttributes& attributes);
// FILE_ATTRIBUTE_NORMAL: clears the read-only mark (adds the owner write bit;
// on Windows clears every attribute, as the call does).
uint32_t SetFileAttributesNormal(const char* path);

// Copies the bytes and permission bits of `from` to `to`, replacing `to`
// unless `fail_if_exists`. A failure may leave `to` partly written, or
// created, once `to` has been opened; `*to_opened`, when given, says whether
// it was (a failure before that leaves `to` as it was).
// With `copy_permissions` false only the bytes are copied: an existing `to`
// keeps its mode and a new one is created 0644 less the umask (for built
// files, whose temporary 0600 mode must not reach the user's file).
// Both ends must be regular files (see File::Open).
uint32_t CopyFile(const char* from, const char* to, bool fail_if_exists,
                  bool copy_permissions = true, bool* to_opened = nullptr);
// Appends the bytes of the file `from` to the open file `to` (at its
// position); 0 or a Win32 error.
uint32_t CopyFileContents(const char* from, File& to);
uint32_t DeleteFile(const char* path);

// True when both paths name the same file (device and inode; on Windows the
// volume and file index), or, when either does not exist yet, the same
// canonical path. Linux paths are case-sensitive, so no case folding is done
// there; Windows compares full paths without regard to case.
bool IsSameFile(const char* a, const char* b);

// The directory part of `path` with its trailing separator, or "./" for a
// path without any: such a path names a file in the current directory. On
// Windows '\\' separates too, and "C:name" gives "C:" (that drive's current
// directory).
std::string DirectoryOf(const char* path);

// 0 when this process may create a file in `directory` (ending with '/'), or
// the Win32 error that creating one would give: 3 when the folder is missing
// (or a part of its path is not a folder), 5 when it is closed to us or on a
// read-only file system. Asks the system rather than creating and deleting
// a file, which gives the same answer for three calls more.
uint32_t CheckDirectoryWritable(const std::string& directory);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_FILE_H_
