// IsExifFile, IsExifEx, GetOrientation, GetDateTimeOriginal: the questions a
// host asks about every file it lists, answered without decoding pixels.
#include <cstring>

#include "exif/exif_reader.h"
#include "exif/maker_note_reader.h"
#include "frame/export_guard.h"
#include "frame/format_detection.h"
#include "frame/veltora.h"
#include "platform/hot_path.h"
#include "query/query_support.h"

VELTORA_API HRESULT IsExifFile(const char* path, uint32_t* is_exif) {
  return veltora::GuardExport([&]() -> HRESULT {
    if (path == nullptr || path[0] == '\0' || is_exif == nullptr) return E_INVALIDARG;
    *is_exif = 0;
    if (!veltora::query::IsJpegOrTiffPath(path)) return S_OK;
    // Presence only: the metadata bytes are not needed.
    veltora::exif::ExifReader reader(path, 0, 0);
    *is_exif = static_cast<uint32_t>(reader.IsExif());
    return S_OK;
  });
}

VELTORA_API HRESULT IsExifEx(const char* path, uint32_t* is_exif, uint32_t* has_print_matching,
                             uint32_t* is_exif_version22) {
  return veltora::GuardExport([&]() -> HRESULT {
    if (path == nullptr) return E_INVALIDARG;
    if (is_exif == nullptr && has_print_matching == nullptr && is_exif_version22 == nullptr) {
      return E_INVALIDARG;
    }
    // Only the version test looks into the EXIF directory's values.
    veltora::exif::MakerNoteReader reader(path, is_exif_version22 != nullptr ? 1 : 0, 0);
    if (is_exif != nullptr) *is_exif = static_cast<uint32_t>(reader.IsExif());
    if (has_print_matching != nullptr) {
      *has_print_matching = static_cast<uint32_t>(reader.HasPrintMatching());
    }
    if (is_exif_version22 != nullptr) {
      *is_exif_version22 = static_cast<uint32_t>(reader.IsExifVersion22());
    }
    return S_OK;
  });
}

VELTORA_API VELTORA_HOT HRESULT GetOrientation(const char* path, uint32_t* primary_orientation,
                                               uint32_t* thumbnail_orientation,
                                               int32_t allow_tiff) {
  return veltora::GuardExport([&]() VELTORA_HOT -> HRESULT {
    if (primary_orientation != nullptr) *primary_orientation = 0;
    if (thumbnail_orientation != nullptr) *thumbnail_orientation = 0;
    if (primary_orientation == nullptr && thumbnail_orientation == nullptr) return E_FAIL;
    const veltora::ImageFormat format = veltora::DetectImageFormat(path);
    if (format == veltora::ImageFormat::kTiff && allow_tiff == 0) return S_OK;
    if (format != veltora::ImageFormat::kJpeg && format != veltora::ImageFormat::kTiff) {
      return E_FAIL;
    }
    veltora::exif::ExifReader reader(path, veltora::exif::ExifReader::kReadOnDemand, 0);
    if (!reader.IsExif() && !reader.HasTiffDimensions()) return E_NOTEXIF;
    if (primary_orientation != nullptr) *primary_orientation = reader.GetOrientationTag(0);
    if (thumbnail_orientation != nullptr) *thumbnail_orientation = reader.GetOrientationTag(1);
    return S_OK;
  });
}

VELTORA_API VELTORA_HOT HRESULT GetDateTimeOriginal(const char* path, SYSTEMTIME* date_time) {
  return veltora::GuardExport([&]() VELTORA_HOT -> HRESULT {
    if (date_time == nullptr) return E_FAIL;
    std::memset(date_time, 0, sizeof *date_time);
    if (!veltora::query::IsJpegOrTiffPath(path)) return E_FAIL;
    veltora::exif::ExifReader reader(path, veltora::exif::ExifReader::kReadOnDemand, 0);
    if (!reader.IsExif()) return E_NOTEXIF;
    SYSTEMTIME parsed{};
    if (reader.GetCaptureTime(&parsed) != 1) return E_FAIL;
    // A camera whose clock was never set writes zeros: a readable text that
    // names no moment. It is answered, but with an empty date.
    if (!veltora::query::IsCalendarDateTime(parsed)) return S_FALSE;
    parsed.wDayOfWeek = 0;
    parsed.wMilliseconds = 0;
    *date_time = parsed;
    return S_OK;
  });
}
