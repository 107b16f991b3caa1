#include "host/input_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "host/host_error.h"
#include "host/system_calls.h"

namespace veltora::host {
namespace {

namespace fs = std::filesystem;

std::string LowerExtension(const fs::path& path) {
  std::string extension = path.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

bool Accepted(const fs::path& path, const Extensions& extensions) {
  return std::find(extensions.begin(), extensions.end(), LowerExtension(path)) != extensions.end();
}

std::string ExtensionList(const Extensions& extensions) {
  std::string list;
  for (const std::string& extension : extensions) list += (list.empty() ? "" : ", ") + extension;
  return list;
}

// Adds the pictures under `walk`; a folder without any stays in the list,
// so that it is reported rather than passed over in silence.
template <typename Iterator>
void AddPictures(const std::string& folder, Iterator walk, const Extensions& extensions,
                 std::vector<std::string>& into) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto end = Iterator(); walk != end; walk.increment(error)) {
    if (error) break;
    std::error_code kind_error;
    if (walk->is_regular_file(kind_error) && Accepted(walk->path(), extensions)) {
      found.push_back(walk->path().string());
    }
  }
  if (found.empty()) found.push_back(folder);
  std::sort(found.begin(), found.end());
  into.insert(into.end(), found.begin(), found.end());
}

}  // namespace

std::vector<std::string> ExpandInputs(const std::vector<std::string>& named, bool recursive,
                                      const Extensions& extensions) {
  if (named.empty()) throw HostError("no file given; name FILE... (a folder stands for its pictures)");
  std::vector<std::string> files;
  for (const std::string& path : named) {
    std::error_code error;
    if (!fs::is_directory(path, error)) {
      files.push_back(path);
    } else if (recursive) {
      AddPictures(path,
                  fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied,
                                                   error),
                  extensions, files);
    } else {
      AddPictures(path, fs::directory_iterator(path, error), extensions, files);
    }
  }
  return files;
}

std::optional<Cause> UnreadableCause(const std::string& path, const Extensions& extensions) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) return Cause{"no such file", "no such file"};
  if (error) return Cause{"unreadable", "cannot be examined: " + error.message()};
  if (status.type() == fs::file_type::directory) {
    return Cause{"a folder", "a folder without pictures (" + ExtensionList(extensions) +
                                 "); -r also looks in its sub-folders"};
  }
  if (status.type() != fs::file_type::regular) {
    return Cause{"not a regular file", "not a regular file (a FIFO, device or socket); not opened"};
  }
  if (!Accepted(path, extensions)) {
    return Cause{"extension", "the plug-in takes files by extension, and ." + LowerExtension(path) +
                                  " is not one of " + ExtensionList(extensions)};
  }
  return std::nullopt;
}

std::optional<Cause> ReadOnlyCause(const std::string& path) {
  std::error_code error;
  if (fs::exists(path, error) && !MayWrite(path)) return Cause{"read-only", "the file is read-only"};
  return std::nullopt;
}

std::optional<Cause> FolderCause(const std::string& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    return Cause{"no such folder", "the folder " + folder + " does not exist"};
  }
  if (!MayWrite(folder)) return Cause{"read-only folder", "the folder " + folder + " is read-only"};
  return std::nullopt;
}

}  // namespace veltora::host
