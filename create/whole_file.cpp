#include "create/whole_file.h"

#include <optional>

#include "exif/jpeg_segments.h"
#include "frame/safe_replace.h"
#include "platform/file.h"
#include "platform/win32_error.h"

namespace veltora::create {
namespace {

using exif::JpegSegment;
using exif::JpegSegmentWalker;
using exif::SoiRule;

constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x8007000E);

// Offset of the first pair FF D9 at or after `from`.
std::optional<size_t> FindScanEnd(std::span<const uint8_t> bytes, size_t from) {
  for (size_t i = from; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9) return i;
  }
  return std::nullopt;
}

}  // namespace

HRESULT ReadWholeFile(const char* path, std::vector<uint8_t>* bytes) {
  if (path == nullptr || *path == '\0' || bytes == nullptr) return E_INVALIDARG;
  platform::File file;
  if (const uint32_t error = platform::File::Open(path, platform::File::Access::kRead, &file);
      error != 0) {
    return MapWin32Error(error);
  }
  switch (const uint32_t error = file.ReadAll(bytes)) {
    case platform::kErrorSuccess:
      return S_OK;
    case platform::kErrorNotEnoughMemory:
    case platform::kErrorFileTooLarge:
      return kOutOfMemory;
    case platform::kErrorReadFault:
    case platform::kErrorHandleEof:
      return E_FAIL;  // fewer bytes than the file's size were read
    default:
      return MapWin32Error(error);  // its size could not be read
  }
}

int64_t FindJpegMarker(uint16_t code, std::span<const uint8_t> bytes) {
  JpegSegmentWalker walker(0, SoiRule::kStandalone);
  while (const std::optional<JpegSegment> segment = walker.Next(bytes)) {
    if (segment->marker == code) return static_cast<int64_t>(segment->position);
    if (segment->marker == exif::kJpegSos && code == exif::kJpegEoi) {
      const auto end = FindScanEnd(bytes, static_cast<size_t>(segment->position) + 2);
      return end ? static_cast<int64_t>(*end) : -1;
    }
    if (segment->cut) break;
  }
  return -1;
}

HRESULT CopyJpegWithoutApp0(std::span<const uint8_t> jpeg, std::vector<uint8_t>* out) {
  out->clear();
  JpegSegmentWalker walker(0, SoiRule::kStandalone);
  while (const std::optional<JpegSegment> segment = walker.Next(jpeg)) {
    if (segment->cut) return E_FAIL;
    const auto at = static_cast<size_t>(segment->position);
    if (segment->marker == exif::kJpegSos) {
      const auto scan_end = FindScanEnd(jpeg, at + 2);
      const size_t end = scan_end ? *scan_end + 2 : jpeg.size();
      out->insert(out->end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at),
                  jpeg.begin() + static_cast<std::ptrdiff_t>(end));
      return S_OK;
    }
    const bool standalone = segment->marker == exif::kJpegSoi || segment->marker == exif::kJpegEoi;
    const size_t size = standalone ? 2 : size_t{2} + segment->length;
    if (size > jpeg.size() - at) return E_FAIL;
    if (segment->marker == exif::kJpegApp0) continue;
    out->insert(out->end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at),
                jpeg.begin() + static_cast<std::ptrdiff_t>(at + size));
    if (segment->marker == exif::kJpegEoi) return S_OK;
  }
  return E_FAIL;
}

}  // namespace veltora::create
