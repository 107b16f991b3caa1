#include "plugin/jpeg_exif_encode.h"

#include <optional>
#include <utility>

#include "create/exif_block_builder.h"
#include "create/whole_file.h"
#include "exif/jpeg_segments.h"
#include "frame/safe_replace.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_io.h"
#include "imaging/resample.h"
#include "imaging/save_jpeg.h"
#include "platform/file.h"
#include "platform/side_by_side.h"
#include "plugin/exif_writers.h"

namespace veltora {
namespace {

using imaging::Bitmap;
using platform::File;

constexpr int32_t kCanvasWidth = 160;
constexpr int32_t kCanvasHeight = 120;

// A scaled copy of `image` set up as the library derives bitmaps: same depth,
// palette and copied fields.
bool ScaledCopy(const imaging::DibPicture& picture, int32_t width, int32_t height, Bitmap* scaled) {
  const Bitmap& image = picture.shape();
  if (imaging::SetUpBitmap(scaled, width, height, image.bits_per_pixel) != 1 ||
      imaging::AllocateBitmap(scaled, 1) != 1) {
    return false;
  }
  scaled->palette = imaging::CopyPalette(image.palette);
  imaging::CopyDerivedFields(scaled, image);
  return picture.ResampleInto(scaled) > 0;
}

// Writes the encoded file with `segment` in place of its leading
// application segments: its SOI, the segment, then everything from the first
// marker that is no APPn, COM or other 0xFFE0-0xFFFF code. A stream with
// fewer than four bytes left before such a marker is E_FAIL.
HRESULT WriteWithSegment(File& out, std::span<const uint8_t> encoded,
                         std::span<const uint8_t> segment) {
  if (encoded.size() < 2) return E_FAIL;
  exif::JpegSegmentWalker walker(2, exif::SoiRule::kStandalone);
  std::optional<uint64_t> image_at;
  while (const auto next = walker.Next(encoded)) {
    if (encoded.size() - next->position < 4) break;
    if ((next->marker & 0xFFE0) != 0xFFE0) {
      image_at = next->position;
      break;
    }
  }
  if (!image_at) return E_FAIL;
  const auto rest = encoded.subspan(static_cast<size_t>(*image_at));
  for (const std::span<const uint8_t> part : {encoded.first(2), segment, rest}) {
    if (const uint32_t error = out.Write(part.data(), part.size()); error != 0) {
      return MapWriteError(error);
    }
  }
  return S_OK;  // the replacement flushes and closes the file
}

}  // namespace

ExifThumbnailFit FitExifThumbnail(int32_t width, int32_t height, int32_t view_perspective) {
  if (imaging::ViewPerspectiveExchangesSides(view_perspective)) std::swap(width, height);
  const double a = static_cast<double>(kCanvasWidth) / width;
  const double b = static_cast<double>(kCanvasHeight) / height;
  ExifThumbnailFit fit{};
  if (a <= b) {
    fit.width = kCanvasWidth;
    fit.height = static_cast<int32_t>(height * a);
  } else {
    fit.width = static_cast<int32_t>(width * b);
    fit.height = kCanvasHeight;
  }
  if (fit.width == 0) fit.width = 1;
  if (fit.height == 0) fit.height = 1;
  fit.left = (kCanvasWidth - fit.width) / 2;
  fit.top = (kCanvasHeight - fit.height) / 2;
  return fit;
}

HRESULT MakeExifThumbnail(const imaging::DibPicture& picture, std::vector<uint8_t>* jpeg,
                          int32_t quality) {
  if (jpeg == nullptr || quality < 1 || quality > 100) return E_INVALIDARG;
  if (picture.status() != S_OK) return E_FAIL;
  const Bitmap* image = &picture.shape();
  const ExifThumbnailFit fit =
      FitExifThumbnail(image->width, image->height, image->view_perspective);
  Bitmap scaled;
  Bitmap canvas;
  if (!ScaledCopy(picture, fit.width, fit.height, &scaled) ||
      imaging::CreateBitmap(&canvas, kCanvasWidth, kCanvasHeight, image->bits_per_pixel) != 1) {
    return E_FAIL;
  }
  canvas.palette = imaging::CopyPalette(image->palette);
  if (imaging::FillBitmap(&canvas, 0) != 1 ||
      imaging::PasteBitmap(&canvas, fit.left, fit.top, fit.width, fit.height, scaled) != 1) {
    return E_FAIL;
  }
  HGLOBAL dib = imaging::DibFromBitmap(&canvas);
  if (dib == nullptr) return E_FAIL;
  // Encoded in memory: a file for the stream would only be read back.
  std::vector<uint8_t> stream;
  const HRESULT hr = imaging::EncodeJpegDib(dib, quality, imaging::kJpegModeExif, &stream);
  GlobalFree(dib);
  if (hr < 0) return hr;
  return create::CopyJpegWithoutApp0(stream, jpeg);
}

HRESULT EncodeJpegWithExif(HGLOBAL dib, const char* path, int32_t quality, void* records) {
  if (dib == nullptr || path == nullptr || *path == '\0') return E_INVALIDARG;
  // The stream stays in memory until it is written once, behind the segment.
  // The segment, with the thumbnail it carries, is built meanwhile.
  std::vector<uint8_t> encoded;
  HRESULT encode_result = S_OK;
  // The picture is read where it lies for the thumbnail, not copied.
  const imaging::DibPicture picture(dib);
  std::optional<std::vector<uint8_t>> segment;
  platform::RunSideBySide(
      [&] {
        encode_result = imaging::EncodeJpegDib(dib, quality, imaging::kJpegModeExif, &encoded);
      },
      [&] {
        if (picture.status() != S_OK) return;
        segment = create::BuildExifSegment(
            static_cast<const ImageInfoList*>(records),
            [&picture](std::vector<uint8_t>* thumbnail) {
              return MakeExifThumbnail(picture, thumbnail, create::kExifThumbnailQuality) == S_OK;
            });
      },
      imaging::WorthTwoThreads(dib));
  if (encode_result < 0) return encode_result;
  if (picture.status() != S_OK || !segment) return E_FAIL;

  const bool exists = platform::GetFileAttributes(path).Valid();
  return ReplaceWithNewFile(path, {exists ? path : nullptr, true, MapWriteError},
                            [&](File& out, const std::string&) {
                              return WriteWithSegment(out, encoded, *segment);
                            });
}

}  // namespace veltora
