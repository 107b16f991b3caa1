#include "imaging/device_paint.h"

#include <algorithm>

namespace veltora::imaging {

int32_t DrawBitmapAt(HDC context, const Bitmap& bitmap, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
  const int64_t right = int64_t{x} + width, bottom = int64_t{y} + height;
  if (right > INT32_MAX || bottom > INT32_MAX) return 0;
  return PaintBitmap(context, bitmap, x, y, static_cast<int32_t>(right), static_cast<int32_t>(bottom)) == 1 ? 1 : 0;
}

int32_t CheckPaint(HDC context, const Bitmap& bitmap, int32_t left, int32_t top, int32_t right,
                   int32_t bottom, uint32_t raster_operation) {
  if (context == nullptr || raster_operation != kSourceCopy || right <= left || bottom <= top) {
    return kErrorInvalidArgument;
  }
  return bitmap.HoldsImage() ? 0 : kErrorNoImage;
}

void FillDeviceRows(const Bitmap& bitmap, uint8_t* rows, size_t stride) {
  for (int32_t y = 0; y < bitmap.height; ++y) {
    auto* d = reinterpret_cast<uint32_t*>(rows + static_cast<size_t>(y) * stride);
    for (int32_t x = 0; x < bitmap.width; ++x) {
      const auto c = static_cast<uint32_t>(GetPixelColour(bitmap, x, y));
      // 0x00BBGGRR to the devices' 0x00RRGGBB.
      d[x] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
  }
}

std::optional<ResizeWindow> VisibleInClip(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                          int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  if (int64_t{right} - left > kMaxSide || int64_t{bottom} - top > kMaxSide) return std::nullopt;
  x0 = std::max<int64_t>(left, x0);
  y0 = std::max<int64_t>(top, y0);
  x1 = std::min<int64_t>(right, x1);
  y1 = std::min<int64_t>(bottom, y1);
  if (x1 <= x0 || y1 <= y0) return std::nullopt;
  return ResizeWindow{static_cast<int32_t>(x0 - left), static_cast<int32_t>(y0 - top),
                      static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)};
}

}  // namespace veltora::imaging
