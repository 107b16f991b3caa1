// Image formats and their detection from a path's extension.
#ifndef VELTORA_FRAME_FORMAT_DETECTION_H_
#define VELTORA_FRAME_FORMAT_DETECTION_H_

#include <array>
#include <cstdint>

namespace veltora {

// The single-bit values double as Encode's format flags.
enum class ImageFormat : int32_t {
  kUnknown = -1,
  kJpeg = 1,
  kBmp = 2,
  kPng = 4,
  kTiff = 8,
  kGif = 0x100,
};

// The supported extensions, lower case, without the dot, in the index order
// hosts enumerate them.
inline constexpr std::array<const char*, 8> kExtensionTable = {"png", "tif",  "tiff", "jpeg",
                                                               "jpg", "jpe",  "bmp",  "gif"};

// Looks at the extension of the last path component only (from its last '.',
// compared without regard to case); the file need not exist. Null, empty,
// dot-less and unknown give kUnknown.
ImageFormat DetectImageFormat(const char* path);

}  // namespace veltora

#endif  // VELTORA_FRAME_FORMAT_DETECTION_H_
