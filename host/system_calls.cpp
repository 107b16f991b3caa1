#include "host/system_calls.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltora::host {
namespace {

// The errno behind each Win32 number the plug-in's file layer maps to.
int ErrnoFor(uint32_t win32_error) {
  switch (win32_error) {
    case 2:
    case 3: return ENOENT;
    case 4: return EMFILE;
    case 5: return EACCES;
    case 8: return ENOMEM;
    case 80: return EEXIST;
    case 112: return ENOSPC;
    case 206: return ENAMETOOLONG;
    case 223: return EFBIG;
    default: return 0;
  }
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

bool MayWrite(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

bool ProcessIsRunning(uint32_t pid) {
  if (pid == 0 || pid > INT32_MAX) return true;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::string SystemMessage(uint32_t win32_error) {
  const int error = ErrnoFor(win32_error);
  return error == 0 ? std::string() : std::string(std::strerror(error));
}

}  // namespace veltora::host
