#include "frame/format_detection.h"

#include <cstring>

#include "platform/hot_path.h"

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

// Extensions are matched letter by letter in ASCII: the answer strcasecmp gives
// in the C locale, without its lookups in the locale's tables, and the same
// whatever locale the host has set.
bool SameAsciiLetters(const char* text, const char* lower) {
  for (; *lower != '\0'; ++text, ++lower) {
    const char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
    if (c != *lower) return false;
  }
  return *text == '\0';
}

}  // namespace

VELTORA_HOT ImageFormat DetectImageFormat(const char* path) {
  if (path == nullptr || *path == '\0') return ImageFormat::kUnknown;
  const char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return ImageFormat::kUnknown;
  const char* extension = dot + 1;  // the first character goes, whatever it is
  if (std::strlen(dot) >= kExtensionCapacity) return ImageFormat::kUnknown;
  for (const ExtensionFormat& entry : kFormatsByExtension) {
    if (SameAsciiLetters(extension, entry.text)) return entry.format;
  }
  return ImageFormat::kUnknown;
}

}  // namespace veltora
