// The one failure that stops a whole host command, as opposed to one file.
#ifndef VELTORA_HOST_HOST_ERROR_H_
#define VELTORA_HOST_HOST_ERROR_H_

#include <stdexcept>
#include <string>

namespace veltora::host {

// Exit status of the host.
constexpr int kExitOk = 0;
// At least one file failed; the others were still processed.
constexpr int kExitFileFailed = 1;
// The command could not run at all: a usage error, a plug-in that cannot be
// loaded, or an export the command needs is missing.
constexpr int kExitCannotRun = 2;

// Thrown for a condition that prevents the command from running (exit 2);
// main prints "veltora: <what>" on stderr. Per-file failures never throw.
class HostError : public std::runtime_error {
 public:
  explicit HostError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace veltora::host

#endif  // VELTORA_HOST_HOST_ERROR_H_
