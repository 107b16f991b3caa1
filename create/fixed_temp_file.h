// The fixed-name temporary files of JPEG encoding with EXIF. They live in the
// user's private temp directory (platform/temp_files.h), so only this user's
// calls share them; calls must not overlap (see plugin/veltora.h).
#ifndef VELTORA_CREATE_FIXED_TEMP_FILE_H_
#define VELTORA_CREATE_FIXED_TEMP_FILE_H_

#include <cstdint>
#include <string>

namespace veltora::create {

inline constexpr char kThumbnailTempName[] = "__TMP__.002";  // the encoded thumbnail
inline constexpr char kMainImageTempName[] = "__TMP__.003";  // the encoded main image

// The temp directory followed by `name`; an empty name leaves `path` empty.
// 0 or the Win32 error of finding the temp directory.
uint32_t FixedTempPath(const char* name, std::string* path);

// One fixed-name file, created exclusively (never through a link) and
// deleted when the object goes, on every path. A file of that name left
// behind by an interrupted call is removed first: nobody else can create one
// in the private directory.
class FixedTempFile {
 public:
  FixedTempFile() = default;
  ~FixedTempFile();
  FixedTempFile(const FixedTempFile&) = delete;
  FixedTempFile& operator=(const FixedTempFile&) = delete;

  // 0 or a Win32 error; the file exists (empty) after success.
  uint32_t Create(const char* name);
  const char* c_str() const { return path_.c_str(); }

 private:
  std::string path_;
};

}  // namespace veltora::create

#endif  // VELTORA_CREATE_FIXED_TEMP_FILE_H_
