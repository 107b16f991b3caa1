// The picture exports Decode and Encode: thin routes over the imaging layer
// (picture_io.h) and, for Encode's EXIF branches, the EXIF writers.
#include <cstring>
#include <string>

#include "frame/export_guard.h"
#include "frame/format_detection.h"
#include "frame/safe_replace.h"
#include "frame/veltora.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_files.h"
#include "imaging/picture_io.h"
#include "imaging/save_jpeg.h"
#include "plugin/exif_writers.h"
#include "plugin/new_exif_file.h"

namespace veltora::imaging {
namespace {

// The flag bits that name a format; a format from the path's extension is
// added only when its bit is not set already.
uint32_t AddExtensionFormat(uint32_t flags, const char* path) {
  switch (DetectImageFormat(path)) {
    case ImageFormat::kJpeg: return flags | ENCODE_JPEG;  // bit 0 only: MODE1/MODE2 still gain it
    case ImageFormat::kBmp: return flags | ENCODE_BMP;
    case ImageFormat::kPng: return flags | ENCODE_PNG;
    case ImageFormat::kTiff: return flags | ENCODE_TIFF;
    case ImageFormat::kGif: return flags | ENCODE_GIF;
    case ImageFormat::kUnknown: break;
  }
  return flags;
}

// One write of the built file per format bit, in this fixed order; each
// replaces the previous content, so the last set bit decides the file.
struct FormatWrite {
  uint32_t flag;
  bool jpeg;
  int32_t code;  // library save format, or SaveJpeg mode
  int32_t bits;
};
constexpr FormatWrite kWriteOrder[] = {
    {ENCODE_BMP, false, kSaveBmp, 24},
    {ENCODE_JPEG, true, kJpegModeStandard, 0},
    {ENCODE_TIFF, false, kSaveTiff, 24},
    {ENCODE_PNG, false, kSavePng, 24},
    {ENCODE_GIF, false, kSaveGif, 8},
    {ENCODE_JPEG_MODE1, true, kJpegModeFullColour, 0},
    {ENCODE_JPEG_MODE2, true, kJpegModeProgressive, 0},
};

// Steps 6 to 12 of Encode: every plain format written to one temporary file,
// whose bytes then replace the target whole.
//
// The DIB is checked as BitmapFromDib would take it, but converted only
// when a library save needs the bitmap: SaveJpeg reads the host's DIB
// itself, so a JPEG-only call never copies the picture.
HRESULT WritePlainFormats(HGLOBAL dib, const char* path, uint32_t flags, int32_t quality) {
  if (CheckDibConvertible(dib) != S_OK) return E_FAIL;
  Bitmap bitmap;
  if ((flags & (ENCODE_BMP | ENCODE_TIFF | ENCODE_PNG | ENCODE_GIF)) != 0 &&
      (BitmapFromDib(dib, &bitmap) != S_OK || !bitmap.HoldsImage())) {
    return E_FAIL;
  }
  // The savers write into the user's temp directory, so that a save's own
  // failures stay apart from those of putting the file in its place.
  TempFile built;  // deleted on every path
  if (const uint32_t error = built.Create(kReplacementPrefix); error != 0) {
    return MapWin32Error(error);
  }
  int32_t save_result = 0;
  int32_t jpeg_result = 0;
  for (const FormatWrite& write : kWriteOrder) {
    if ((flags & write.flag) == 0) continue;
    if (write.jpeg) {
      jpeg_result = SaveJpeg(dib, built.c_str(), quality, write.code);
      if (jpeg_result >= 0) save_result = 1;
    } else {
      save_result = SaveFile(built.c_str(), bitmap, write.code, write.bits);
    }
  }
  FreeBitmap(&bitmap);
  if (jpeg_result != 0) return jpeg_result;
  if (save_result <= 0) return ResultFromImagingError(save_result);
  const bool exists = platform::GetFileAttributes(path).Valid();
  return ReplaceWithNewFile(path, {exists ? path : nullptr, true, MapWin32Error},
                            [&](platform::File& out, const std::string&) {
                              return MapWin32Error(platform::CopyFileContents(built.c_str(), out));
                            });
}

}  // namespace
}  // namespace veltora::imaging

using veltora::DetectImageFormat;
using veltora::ImageFormat;
namespace imaging = veltora::imaging;

// Returns null on every failure (the handle is the only report); the caller
// owns the DIB and frees it with GlobalFree.
VELTORA_API HGLOBAL Decode(const char* path, int32_t mode) {
  try {
    // What IsSupported checks: a non-empty path with a known extension. The
    // file is not opened before that.
    if (DetectImageFormat(path) == ImageFormat::kUnknown) return nullptr;
    imaging::Bitmap bitmap;
    int32_t loaded = 0;
    if (mode == imaging::kLoadPicture) {
      // Decoded straight into the DIB handed to the host.
      loaded = imaging::LoadPictureFile(path, &bitmap, 24, imaging::kMemoryDib);
    } else if (mode == imaging::kLoadPreview) {
      loaded = imaging::LoadEmbeddedPreview(path, &bitmap, 24);
    } else {
      return nullptr;
    }
    if (loaded != 1) return nullptr;
    return imaging::TakeDib(&bitmap);
  } catch (...) {
    return nullptr;
  }
}

VELTORA_API HRESULT Encode(HGLOBAL dib, const char* path, uint32_t flags, int32_t quality,
                           void* host_data) {
  if (dib == nullptr || path == nullptr || *path == '\0' || flags == 0) return E_INVALIDARG;
  return veltora::GuardExport([&]() -> HRESULT {
    if (const HRESULT probe = veltora::ProbeTargetDirectory(path); probe != S_OK) return probe;
    if ((flags & ENCODE_BY_EXTENSION) != 0) {
      flags = imaging::AddExtensionFormat(flags, path);
      if (host_data != nullptr && (flags & ENCODE_EXIF_RECORDS) != 0) flags |= ENCODE_EXIF;
    }
    if ((flags & ENCODE_NEW_EXIF_FILE) != 0) {
      return veltora::EncodeWithExif(path, flags, dib, quality, host_data);
    }
    if ((flags & ENCODE_EXIF) != 0 && DetectImageFormat(path) == ImageFormat::kJpeg) {
      if ((flags & ENCODE_EXIF_RECORDS) != 0 && host_data != nullptr) {
        return veltora::EncodeJpegWithExif(dib, path, quality, host_data);
      }
      return E_FAIL;
    }
    return imaging::WritePlainFormats(dib, path, flags, quality);
  });
}
