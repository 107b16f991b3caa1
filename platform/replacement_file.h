// Whole-file replacement by rename: the new content is built in a file beside
// its target and put in the target's place in one step, so that at every
// instant the target is the old file or the new one, whatever stops the
// process (a kill, a power cut, a full disk).
#ifndef VELTORA_PLATFORM_REPLACEMENT_FILE_H_
#define VELTORA_PLATFORM_REPLACEMENT_FILE_H_

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace veltora::platform {

// Where and how `target` can be replaced by a rename. A symbolic link is
// followed, so that the link stays and the file it names is replaced. A file
// with more than one name (a hard link) cannot be: a rename would give the new
// content to this name only.
struct ReplacementPlan {
  std::string path;     // the file to replace: `target`, or the file its link names
  bool rename = false;  // false: write over the file in place (backup first)
};
ReplacementPlan PlanReplacement(const char* target);

// A new file beside its target, written through `file()` or by path, then
// renamed over the target by Commit. Removed by the destructor unless
// committed.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the file, empty and exclusively, in the folder of `target`, under
  // a temporary name with `prefix` and this process's id (temp_names.h).
  // `like`, when it names an existing file, lends the new file its
  // permissions, and where the system allows its owner, group and extended
  // attributes; otherwise the new file gets the mode of any newly created
  // file. The file is open for writing afterwards. 0 or a Win32 error.
  uint32_t Create(const char* target, const char* prefix, const char* like);

  File& file() { return file_; }
  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }

  // Flushes the new file to disk (reopening it when it was written by path),
  // renames it over `target` and flushes the folder. After a failure the new
  // file is gone and the target is as it was. 0 or a Win32 error.
  uint32_t Commit(const char* target);

 private:
  std::string path_;
  File file_;
  FileAttributes like_;    // what Commit gives the new file, when valid
  std::string like_path_;  // the file whose owner and extended attributes it takes
};

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_REPLACEMENT_FILE_H_
