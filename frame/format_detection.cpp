#include "frame/format_detection.h"

#include <strings.h>

#include <cstring>

namespace veltora {
namespace {

// The extension is taken into a buffer of this many characters; a longer one
// cannot name a format anyway.
constexpr size_t kExtensionCapacity = 256;

struct ExtensionFormat {
  const char* text;
  ImageFormat format;
};

// Compared in this order; the first match wins.
constexpr ExtensionFormat kFormatsByExtension[] = {
    {"bmp", ImageFormat::kBmp},  {"jpg", ImageFormat::kJpeg}, {"jpeg", ImageFormat::kJpeg},
    {"jpe", ImageFormat::kJpeg}, {"tif", ImageFormat::kTiff}, {"tiff", ImageFormat::kTiff},
    {"png", ImageFormat::kPng},  {"gif", ImageFormat::kGif},
};

}  // namespace

ImageFormat DetectImageFormat(const char* path) {
  if (path == nullptr || *path == '\0') return ImageFormat::kUnknown;
  const char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return ImageFormat::kUnknown;
  const char* extension = dot + 1;  // the first character goes, whatever it is
  if (std::strlen(dot) >= kExtensionCapacity) return ImageFormat::kUnknown;
  for (const ExtensionFormat& entry : kFormatsByExtension) {
    if (::strcasecmp(extension, entry.text) == 0) return entry.format;
  }
  return ImageFormat::kUnknown;
}

}  // namespace veltora
