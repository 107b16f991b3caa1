#include "imaging/save_jpeg.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <new>

#include "platform/file.h"

namespace veltora::imaging {
namespace {

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

}  // namespace

int32_t EncodeJpegRows(const uint8_t* pixels, int32_t width, size_t pitch, int32_t height, int32_t bits,
                       bool bottom_up, int32_t quality, int32_t mode, std::vector<uint8_t>* out) {
  if (out == nullptr || pixels == nullptr || (bits != 24 && bits != 32)) return kErrorInvalidArgument;
  int subsampling = TJSAMP_420;
  int flags = TJFLAG_ACCURATEDCT;
  switch (mode) {
    case kJpegModeStandard: break;
    case kJpegModeFullColour: subsampling = TJSAMP_444; break;
    case kJpegModeProgressive: flags |= TJFLAG_PROGRESSIVE; break;
    case kJpegModeExif: subsampling = TJSAMP_422; break;
    default: return kErrorInvalidArgument;
  }
  if (bottom_up) flags |= TJFLAG_BOTTOMUP;
  if (const int32_t r = CheckSize(width, height); r != 1) return r;
  std::unique_ptr<void, TjDeleter> handle(tjInitCompress());
  if (!handle) return kErrorNoMemory;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(handle.get(), pixels, width, static_cast<int>(pitch), height,
                                 bits == 32 ? TJPF_BGRX : TJPF_BGR, &buffer, &size, subsampling,
                                 std::clamp(quality, 1, 100), flags);
  std::unique_ptr<unsigned char, TjBufferDeleter> owned(buffer);
  if (result != 0 || buffer == nullptr) return kErrorEncode;
  try {
    out->assign(buffer, buffer + size);
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
  return 0;
}

void SetJfifDensity(std::vector<uint8_t>* jpeg, int32_t x_pixels_per_metre, int32_t y_pixels_per_metre) {
  static constexpr uint8_t kJfifStart[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
  constexpr size_t kUnitsAt = 13;
  if (jpeg->size() < sizeof kJfifStart + 7 || !std::equal(std::begin(kJfifStart), std::end(kJfifStart), jpeg->begin())) {
    return;
  }
  const long x = std::lround(x_pixels_per_metre * 0.0254), y = std::lround(y_pixels_per_metre * 0.0254);
  if (x < 1 || y < 1 || x > 0xFFFF || y > 0xFFFF) return;
  const uint8_t density[] = {1, static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x), static_cast<uint8_t>(y >> 8),
                             static_cast<uint8_t>(y)};
  std::copy(std::begin(density), std::end(density), jpeg->begin() + kUnitsAt);
}

int32_t EncodeJpeg(const Bitmap& bitmap, int32_t quality, int32_t mode, std::vector<uint8_t>* out) {
  if (out == nullptr) return kErrorInvalidArgument;
  if (mode != kJpegModeStandard && mode != kJpegModeFullColour && mode != kJpegModeProgressive &&
      mode != kJpegModeExif) {
    return kErrorInvalidArgument;
  }
  if (!bitmap.HoldsImage()) return kErrorNoImage;
  try {
    Bitmap converted;
    const Bitmap* source = &bitmap;
    if (IsIndexedDepth(bitmap.bits_per_pixel) || (bitmap.flags & kBitmapHasAlpha) != 0) {
      if (const int32_t r = ChangeBitDepth(&converted, bitmap, 24); r != 1) return r;
      source = &converted;
    }
    const int32_t r = EncodeJpegRows(source->pixels.data(), source->width, source->stride, source->height,
                                     source->bits_per_pixel, source->pixels.bottom_up(), quality, mode, out);
    if (r == 0) SetJfifDensity(out, bitmap.x_pixels_per_metre, bitmap.y_pixels_per_metre);
    return r;
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
}

int32_t WriteJpegFile(const char* path, const std::vector<uint8_t>& bytes) {
  if (path == nullptr || *path == '\0') return kErrorInvalidArgument;
  platform::File file;
  if (platform::File::Open(path, platform::File::Access::kCreateAlways, &file) != 0) return kErrorFileOpen;
  if (file.Write(bytes.data(), bytes.size()) != 0 || file.Close() != 0) return kErrorFileWrite;
  return 0;
}

int32_t SaveJpegBitmap(const Bitmap& bitmap, const char* path, int32_t quality, int32_t mode) {
  if (path == nullptr || *path == '\0') return kErrorInvalidArgument;
  std::vector<uint8_t> bytes;
  if (const int32_t r = EncodeJpeg(bitmap, quality, mode, &bytes); r != 0) return r;
  return WriteJpegFile(path, bytes);
}

}  // namespace veltora::imaging
