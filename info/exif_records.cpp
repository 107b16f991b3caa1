#include "info/exif_records.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "exif/byte_source.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_segments.h"
#include "frame/format_detection.h"
#include "frame/veltora.h"
#include "info/record_parser.h"

namespace veltora::info {
namespace {

// Marker, length field and "Exif\0\0" in front of the TIFF data.
constexpr size_t kApp1HeaderSize = 10;
// The APP1 length counts itself (2 bytes) and the 6-byte identifier.
constexpr uint32_t kApp1LengthOverhead = 8;

// Bytes read from a file: not zero-filled first, as every byte is read over.
struct FileBytes {
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
  std::span<const uint8_t> span() const { return {data.get(), size}; }
};

// `n` bytes at `offset`, or nullopt when they cannot all be read (or memory
// for them is short).
std::optional<FileBytes> ReadBytes(exif::SourceReader& file, uint64_t offset, size_t n) {
  FileBytes bytes{std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[n]), n};
  if (bytes.data == nullptr || !file.ReadExact(offset, bytes.data.get(), n)) return std::nullopt;
  return bytes;
}

// The bytes of the first APP1 segment, from its marker to the end of the
// segment or of the file; nullopt when the file cannot be read or has none.
std::optional<FileBytes> ReadFirstApp1(const char* path) {
  exif::SourceReader file;
  if (!file.Open(exif::ByteSource::FromPath(path))) return std::nullopt;
  const auto read_at = [&file](uint64_t offset, std::span<uint8_t> out) {
    return file.ReadAt(offset, out.data(), out.size());
  };
  exif::JpegSegmentWalker walk(0, exif::SoiRule::kStandalone);
  while (const std::optional<exif::JpegSegment> segment = walk.Next(read_at)) {
    if (segment->marker != exif::kJpegApp1) continue;
    const uint64_t wanted = uint64_t{segment->length} + 2;
    return ReadBytes(file, segment->position, static_cast<size_t>(std::min(wanted, file.size() - segment->position)));
  }
  return std::nullopt;
}

// The whole file; nullopt when it cannot be read, or does not fit the
// 32-bit sizes the TIFF structure is read with, or memory is short.
std::optional<FileBytes> ReadWholeFile(const char* path) {
  exif::SourceReader file;
  if (!file.Open(exif::ByteSource::FromPath(path))) return std::nullopt;
  if (file.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return ReadBytes(file, 0, static_cast<size_t>(file.size()));
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
  const uint32_t length = bytes::Read16(segment.data() + 2, bytes::kBigEndian);
  const uint32_t declared = (length - kApp1LengthOverhead) & 0xFFFF;
  const size_t size = std::min<size_t>(declared, segment.size() - kApp1HeaderSize);
  return ParseTiffBlock(segment.data() + kApp1HeaderSize, static_cast<uint32_t>(size), list, flags);
}

HRESULT CollectExifRecords(const char* path, ImageInfoList* list, uint32_t flags) {
  if (path == nullptr || path[0] == '\0' || list == nullptr || (flags & INFO_REQUEST_MASK) == 0) {
    return E_INVALIDARG;
  }
  const ImageFormat format = DetectImageFormat(path);
  if (format != ImageFormat::kJpeg && format != ImageFormat::kTiff) return E_NOTEXIF;
  // The presence test of IsExifFile. For a JPEG the same scan also loads the
  // TIFF data of the last APP1 segment: when that is the first one too (the
  // usual case), it is the block to parse and the file is opened only once.
  // (A load that fails makes the scan fail, as an unreadable file does.)
  const bool jpeg = format == ImageFormat::kJpeg;
  const exif::ExifReader reader(path, jpeg ? 1 : 0, 0);
  if (reader.IsExif() == 0) return E_NOTEXIF;
  HRESULT result = E_FAIL;
  if (jpeg && !reader.LoadedData().empty() &&
      reader.Jpeg().firstApp1Offset == reader.Jpeg().app1Offset) {
    // Its size is the APP1 length less 8, cut to the file's end, as
    // ParseExifSegment would take it.
    result = ParseTiffBlock(reader.LoadedData().data(),
                            static_cast<uint32_t>(reader.LoadedData().size()), list, flags);
  } else if (jpeg) {
    if (const auto segment = ReadFirstApp1(path)) result = ParseExifSegment(segment->span(), list, flags);
  } else if (const auto file = ReadWholeFile(path)) {
    result = ParseTiffBlock(file->data.get(), static_cast<uint32_t>(file->size), list, flags);
  }
  return result >= 0 ? S_OK : E_FAIL;
}

}  // namespace veltora::info
