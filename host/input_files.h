// The files a subcommand works on: the paths named on the command line, with
// each folder standing for the pictures in it, and what can be said about a
// file before the plug-in is asked (so that a user reads a cause, not a code).
#ifndef VELTORA_HOST_INPUT_FILES_H_
#define VELTORA_HOST_INPUT_FILES_H_

#include <optional>
#include <string>
#include <vector>

namespace veltora::host {

// Why a path cannot be handed to the plug-in: a short label for the closing
// summary ("no such file") and the sentence printed for the file.
struct Cause {
  std::string label;
  std::string text;
};

// The extensions the plug-in accepts ("jpg", "tif", ...), lower case.
using Extensions = std::vector<std::string>;

// `named` in order, each folder replaced by the files in it whose extension
// is in `extensions` (sorted by path; with `recursive` also those in its
// sub-folders). Other paths stay as given, so a missing file is reported
// rather than dropped. Throws HostError (a usage error) when `named` is
// empty: a command given no file has nothing to do.
std::vector<std::string> ExpandInputs(const std::vector<std::string>& named, bool recursive,
                                      const Extensions& extensions);

// What keeps the plug-in from reading `path`, found without opening it (a
// FIFO is never opened): no such file, a folder, a special file, or an
// extension the plug-in does not accept.
std::optional<Cause> UnreadableCause(const std::string& path, const Extensions& extensions);

// What keeps the plug-in from replacing the existing file `path`: it is
// read-only.
std::optional<Cause> ReadOnlyCause(const std::string& path);

// What keeps the plug-in from writing into `folder`: missing or read-only.
std::optional<Cause> FolderCause(const std::string& folder);

}  // namespace veltora::host

#endif  // VELTORA_HOST_INPUT_FILES_H_
