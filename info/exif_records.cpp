#include "info/exif_records.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "exif/byte_source.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_segments.h"
#include "info/record_parser.h"
#include "plugin/format_detection.h"
#include "plugin/veltora.h"

namespace veltora::info {
namespace {

// Marker, length field and "Exif\0\0" in front of the TIFF data.
constexpr size_t kApp1HeaderSize = 10;
// The APP1 length counts itself (2 bytes) and the 6-byte identifier.
constexpr uint32_t kApp1LengthOverhead = 8;

// The bytes of the first APP1 segment, from its marker to the end of the
// segment or of the file; nullopt when the file cannot be read or has none.
std::optional<std::vector<uint8_t>> ReadFirstApp1(const char* path) {
  exif::SourceReader file;
  if (!file.Open(exif::ByteSource::FromPath(path))) return std::nullopt;
  const auto read_at = [&file](uint64_t offset, std::span<uint8_t> out) {
    return file.ReadAt(offset, out.data(), out.size());
  };
  exif::JpegSegmentWalker walk(0, exif::SoiRule::kStandalone);
  while (const std::optional<exif::JpegSegment> segment = walk.Next(read_at)) {
    if (segment->marker != exif::kJpegApp1) continue;
    const uint64_t wanted = uint64_t{segment->length} + 2;
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min(wanted, file.size() - segment->position)));
    if (!file.ReadExact(segment->position, bytes.data(), bytes.size())) return std::nullopt;
    return bytes;
  }
  return std::nullopt;
}

// The whole file; nullopt when it cannot be read, or does not fit the
// 32-bit sizes the TIFF structure is read with, or memory is short.
std::optional<std::vector<uint8_t>> ReadWholeFile(const char* path) {
  exif::SourceReader file;
  if (!file.Open(exif::ByteSource::FromPath(path))) return std::nullopt;
  if (file.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(file.size()));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!file.ReadExact(0, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

bool CarriesExif(const char* path, ImageFormat format) {
  if (format != ImageFormat::kJpeg && format != ImageFormat::kTiff) return false;
  return exif::ExifReader(path, 0, 0).IsExif() != 0;
}

}  // namespace

HRESULT ParseExifSegment(std::span<const uint8_t> segment, ImageInfoList* list, uint32_t flags) {
  if (segment.data() == nullptr || list == nullptr || (flags & INFO_REQUEST_MASK) == 0) {
    return E_INVALIDARG;
  }
  if (segment.size() < kApp1HeaderSize || segment[0] != 0xFF || segment[1] != 0xE1 ||
      std::memcmp(segment.data() + 4, "Exif", 4) != 0) {
    return E_FAIL;
  }
  const uint32_t length = exif::Read16(segment.data() + 2, exif::kBigEndian);
  const uint32_t declared = (length - kApp1LengthOverhead) & 0xFFFF;
  const size_t size = std::min<size_t>(declared, segment.size() - kApp1HeaderSize);
  return ParseTiffBlock(segment.data() + kApp1HeaderSize, static_cast<uint32_t>(size), list, flags);
}

HRESULT CollectExifRecords(const char* path, ImageInfoList* list, uint32_t flags) {
  if (path == nullptr || path[0] == '\0' || list == nullptr || (flags & INFO_REQUEST_MASK) == 0) {
    return E_INVALIDARG;
  }
  const ImageFormat format = DetectImageFormat(path);
  if (!CarriesExif(path, format)) return E_NOTEXIF;
  HRESULT result = E_FAIL;
  if (format == ImageFormat::kJpeg) {
    if (const auto segment = ReadFirstApp1(path)) result = ParseExifSegment(*segment, list, flags);
  } else if (const auto file = ReadWholeFile(path)) {
    result = ParseTiffBlock(file->data(), static_cast<uint32_t>(file->size()), list, flags);
  }
  return result >= 0 ? S_OK : E_FAIL;
}

}  // namespace veltora::info
