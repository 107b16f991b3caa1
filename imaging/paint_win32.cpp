#include <windows.h>

#include <new>
#include <vector>

#include "imaging/device_paint.h"
#include "imaging/paint.h"

namespace veltora::imaging {

int32_t PaintBitmap(HDC context, const Bitmap& bitmap, int32_t left, int32_t top, int32_t right,
                    int32_t bottom, uint32_t raster_operation) {
  if (int32_t refused = CheckPaint(context, bitmap, left, top, right, bottom, raster_operation)) {
    return refused;
  }
  const size_t stride = static_cast<size_t>(bitmap.width) * 4;
  std::vector<uint8_t> rows;
  try {
    rows.resize(stride * static_cast<size_t>(bitmap.height));
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
  FillDeviceRows(bitmap, rows.data(), stride);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = bitmap.width;
  info.bmiHeader.biHeight = -bitmap.height;  // top-down rows, as filled
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const int saved = ::SaveDC(context);
  if (saved == 0) return kErrorNoMemory;
  // Our resampling has made the picture the size it is painted at, so GDI
  // copies pixels one for one; HALFTONE only matters for a real stretch.
  ::SetStretchBltMode(context, HALFTONE);
  ::SetBrushOrgEx(context, 0, 0, nullptr);
  ::IntersectClipRect(context, left, top, right, bottom);
  const int lines = ::StretchDIBits(context, left, top, right - left, bottom - top, 0, 0, bitmap.width,
                                    bitmap.height, rows.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  ::RestoreDC(context, saved);
  return lines > 0 ? 1 : kErrorNoMemory;
}

std::optional<ResizeWindow> VisiblePart(HDC context, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (context == nullptr) return std::nullopt;
  RECT clip{};
  const int region = ::GetClipBox(context, &clip);
  if (region == ERROR || region == NULLREGION) return std::nullopt;
  return VisibleInClip(left, top, right, bottom, clip.left, clip.top, clip.right, clip.bottom);
}

int32_t SurfaceBitsPerPixel(HDC context) {
  return context == nullptr ? 0 : ::GetDeviceCaps(context, BITSPIXEL);
}

}  // namespace veltora::imaging
