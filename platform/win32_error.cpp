#include "platform/win32_error.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace veltora::platform {
namespace {

// True when the directory that would hold `path` does not exist, which is
// when Windows says "path not found" rather than "file not found".
bool DirectoryPartMissing(const char* path) {
  std::string dir(path);
  size_t slash = dir.find_last_of('/');
  if (slash == std::string::npos) return false;  // the current directory exists
  dir.resize(slash == 0 ? 1 : slash);
  struct stat st {};
  return stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

}  // namespace

uint32_t Win32ErrorFromErrno(int error_number, const char* path) {
  switch (error_number) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
    case ENOTDIR:
      return (path != nullptr && DirectoryPartMissing(path)) ? kErrorPathNotFound
                                                             : kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
    case ENXIO:
      return kErrorAccessDenied;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EEXIST:
      return kErrorFileExists;
    case ENAMETOOLONG:
      return kErrorFilenameExceedsRange;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EFBIG:
      return kErrorFileTooLarge;
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EIO:
      return kErrorWriteFault;
    default:
      return kErrorCannotMake;
  }
}

}  // namespace veltora::platform
