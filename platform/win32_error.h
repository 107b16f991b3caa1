// Win32 error numbers, the vocabulary in which the file layer reports
// failures; the plug-in's result codes are built from them. On Windows the
// calls report them themselves; the errno mapping below is the Linux file
// layer's.
#ifndef VELTORA_PLATFORM_WIN32_ERROR_H_
#define VELTORA_PLATFORM_WIN32_ERROR_H_

#include <cstdint>

namespace veltora::platform {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorOutOfMemory = 14;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorSharingViolation = 32;  // Windows only: another handle denies sharing
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorCannotMake = 82;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorFilenameExceedsRange = 206;
constexpr uint32_t kErrorFileTooLarge = 223;

// Maps an errno value to the Win32 error a Windows file call would report.
//   ENOENT/ENOTDIR -> 2 (file not found), or 3 when `path` is given and a
//   directory part of it is missing; EACCES/EPERM/EROFS/ETXTBSY -> 5;
//   ENOMEM -> 8; ENOSPC/EDQUOT -> 112; EEXIST -> 80; ENAMETOOLONG -> 206;
//   EMFILE/ENFILE -> 4; EFBIG -> 223; EISDIR -> 5 (Windows refuses to open a
//   directory as a file with access denied), and so ENXIO -> 5 (a FIFO or
//   device opened without its other end is no file either); EBADF -> 6;
//   EINVAL -> 87; ENOTEMPTY -> 145; EIO -> 29 (the device failed); anything
//   else -> 82.
uint32_t Win32ErrorFromErrno(int error_number, const char* path = nullptr);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_WIN32_ERROR_H_
