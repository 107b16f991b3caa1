// AppendExif: the export that merges a host's records into a JPEG's existing
// EXIF segment (exif_merge.h) and writes the result by build-then-copy.
#include <vector>

#include "create/exif_merge.h"
#include "create/whole_file.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_segments.h"
#include "frame/export_guard.h"
#include "frame/format_detection.h"
#include "frame/safe_replace.h"
#include "frame/veltora.h"
#include "platform/file.h"

namespace veltora::create {
namespace {

using platform::File;

// The source with `segment` in place of the `old_size` bytes at `at`,
// written as a new file that replaces the target.
HRESULT WriteMergedFile(const char* target, std::span<const uint8_t> source, size_t at,
                        size_t old_size, std::span<const uint8_t> segment) {
  const bool exists = platform::GetFileAttributes(target).Valid();
  return ReplaceWithNewFile(target, {exists ? target : nullptr, true, MapWriteError},
                            [&](File& out, const std::string&) {
                              for (const std::span<const uint8_t> part :
                                   {source.first(at), segment, source.subspan(at + old_size)}) {
                                if (const uint32_t error = out.Write(part.data(), part.size())) {
                                  return MapWriteError(error);
                                }
                              }
                              return S_OK;
                            });
}

HRESULT AppendExifBody(const char* target_path, const char* source_path, ImageInfoList* records,
                       int32_t require_exif) {
  if (DetectImageFormat(source_path) != ImageFormat::kJpeg) return E_FAIL;
  if (const HRESULT probe = ProbeTargetDirectory(target_path); probe != S_OK) return probe;
  // The source is opened once: the EXIF check reads the bytes already in
  // memory, and only a file that cannot be read whole is asked again by path,
  // for the check's own answer.
  std::vector<uint8_t> source;
  if (ReadWholeFile(source_path, &source) != S_OK) {
    if (require_exif != 0 && exif::ExifReader(source_path, 0, 0).IsExif() == 0) return E_NOTEXIF;
    return E_FAIL;
  }
  const std::span<const uint8_t> bytes(source);
  if (require_exif != 0 && exif::ExifReader(bytes, 0, 0).IsExif() == 0) return E_NOTEXIF;
  const int64_t at = FindJpegMarker(exif::kJpegApp1, source);
  if (at < 0) return E_FAIL;
  const auto app1 = std::span<const uint8_t>(source).subspan(static_cast<size_t>(at));
  const auto merged = BuildMergedApp1(app1, records);
  if (!merged) return E_FAIL;
  return WriteMergedFile(target_path, source, static_cast<size_t>(at),
                         size_t{2} + merged->old_length, merged->bytes);
}

}  // namespace
}  // namespace veltora::create

VELTORA_API HRESULT AppendExif(const char* target_path, const char* source_path,
                               ImageInfoList* records, int32_t require_exif) {
  if (target_path == nullptr || *target_path == '\0' || source_path == nullptr ||
      *source_path == '\0' || records == nullptr) {
    return E_INVALIDARG;
  }
  return veltora::GuardExport([&] {
    return veltora::create::AppendExifBody(target_path, source_path, records, require_exif);
  });
}
