#include "create/fixed_temp_file.h"

#include "platform/file.h"
#include "platform/temp_files.h"

namespace veltora::create {
namespace {

constexpr uint32_t kErrorFileExists = 80;

}  // namespace

uint32_t FixedTempPath(const char* name, std::string* path) {
  path->clear();
  if (name == nullptr || *name == '\0') return 0;
  std::string directory;
  if (const uint32_t error = platform::GetTempPath(&directory); error != 0) return error;
  *path = directory + name;
  return 0;
}

FixedTempFile::~FixedTempFile() {
  if (!path_.empty()) platform::DeleteFile(path_.c_str());
}

uint32_t FixedTempFile::Create(const char* name) {
  std::string path;
  if (const uint32_t error = FixedTempPath(name, &path); error != 0) return error;
  platform::File file;
  uint32_t error = platform::File::Open(path.c_str(), platform::File::Access::kCreateNew, &file);
  if (error == kErrorFileExists) {
    platform::DeleteFile(path.c_str());
    error = platform::File::Open(path.c_str(), platform::File::Access::kCreateNew, &file);
  }
  if (error != 0) return error;
  path_ = std::move(path);
  return file.Close();
}

}  // namespace veltora::create
