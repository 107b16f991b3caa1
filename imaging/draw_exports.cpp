// The drawing exports Draw and DrawImage: pictures painted on the host's
// device context (cairo on Linux, GDI on Windows), which is only drawn on.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "frame/export_guard.h"
#include "frame/veltora.h"
#include "imaging/device_paint.h"
#include "imaging/paint.h"
#include "imaging/picture_io.h"
#include "imaging/resample.h"
#include "imaging/rotate.h"

namespace veltora::imaging {
namespace {

constexpr int32_t kMaxAngle = 36000;  // hundredths of a degree, either way

bool IsRectEmpty(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return right <= left || bottom <= top;
}

// Sides of a non-empty rectangle; they may exceed 32 bits, and the resize
// that follows refuses what no bitmap can be.
int32_t Side(int32_t low, int32_t high) {
  return static_cast<int32_t>(std::min<int64_t>(int64_t{high} - low, INT32_MAX));
}

// c -> (c * (100 - p) + 255 * p) / 100, truncated toward zero, low 8 bits
// kept. p is not range-checked, so the products are taken in 64 bits.
std::array<uint8_t, 256> WhiteningTable(int32_t percent) {
  std::array<uint8_t, 256> table{};
  for (int64_t c = 0; c < 256; ++c) {
    const int64_t value = (c * (100 - int64_t{percent}) + 255 * int64_t{percent}) / 100;
    table[static_cast<size_t>(c)] = static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF);
  }
  return table;
}

// Whitens every pixel (the picture's packed DIB has the bitmap's own width
// and height, so no DIB is made to learn them). Direct on 24- and 32-bit rows (the fourth byte
// is not a colour channel); other depths pixel by pixel through the palette.
void Whiten(Bitmap* bitmap, int32_t percent) {
  const std::array<uint8_t, 256> table = WhiteningTable(percent);
  const int32_t width = bitmap->width, height = bitmap->height;
  const int32_t bits = bitmap->bits_per_pixel;
  if (bits == 24 || bits == 32) {
    const size_t bpp = static_cast<size_t>(bits / 8);
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* p = bitmap->Row(y);
      for (int32_t x = 0; x < width; ++x, p += bpp) {
        p[0] = table[p[0]];
        p[1] = table[p[1]];
        p[2] = table[p[2]];
      }
    }
    return;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const auto colour = static_cast<uint32_t>(GetPixelColour(*bitmap, x, y));
      const uint32_t whitened = table[colour & 0xFF] | (uint32_t{table[(colour >> 8) & 0xFF]} << 8) |
                                (uint32_t{table[(colour >> 16) & 0xFF]} << 16);
      SetPixelColour(bitmap, x, y, whitened);
    }
  }
}

// The crop rectangle clipped to a picture of width x height in 64 bits, so
// that sides beyond 32 bits still cover what they reach; nullopt when empty
// after clipping (the trim refuses it).
std::optional<ResizeWindow> ClipCrop(int64_t width, int64_t height, int32_t left, int32_t top, int32_t right,
                                     int32_t bottom) {
  const int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
  const int64_t x1 = std::min<int64_t>(right, width), y1 = std::min<int64_t>(bottom, height);
  if (x1 <= x0 || y1 <= y0) return std::nullopt;
  return ResizeWindow{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                      static_cast<int32_t>(y1 - y0)};
}

// Paints `shown`, the visible window of a picture stretched onto the
// rectangle at (left, top), where that window lies.
int32_t PaintWindow(HDC dc, const Bitmap& shown, int32_t left, int32_t top, const ResizeWindow& window) {
  const int32_t x = left + window.x, y = top + window.y;
  return PaintBitmap(dc, shown, x, y, x + window.width, y + window.height, kSourceCopy);
}

// Only the part of the rectangle the device can show is resampled and
// painted; the whole rectangle must still be a size a bitmap can have, as
// the stretch of the whole picture would need.
HRESULT DrawDib(HDC dc, HGLOBAL dib, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Bitmap original;  // the host's picture stays as it is
  if (BitmapFromDib(dib, &original) != S_OK) return E_FAIL;
  const int32_t width = Side(left, right), height = Side(top, bottom);
  if (CheckSize(width, height) != 1) return E_FAIL;
  const std::optional<ResizeWindow> window = VisiblePart(dc, left, top, right, bottom);
  if (!window) return S_OK;
  Bitmap shown;
  if (ResizeBitmapWindow(original, width, height, *window, kResizeFiltered, &shown) != 1) return E_FAIL;
  // A 1-bit device takes the picture through draw-at (position and size);
  // every other device through the rectangle paint.
  if (SurfaceBitsPerPixel(dc) == 1) {
    return DrawBitmapAt(dc, shown, left + window->x, top + window->y, window->width, window->height) != 0 ? S_OK
                                                                                                          : E_FAIL;
  }
  return PaintWindow(dc, shown, left, top, *window) == 1 ? S_OK : E_FAIL;
}

// Turns by quarter turns are exact pixel moves, made on the whole picture;
// other angles turn, cut and scale only the visible window in one pass.
HRESULT DrawFile(const char* path, HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t angle,
                 int32_t crop_left, int32_t crop_top, int32_t crop_right, int32_t crop_bottom, int32_t whiten,
                 int32_t whiten_percent) {
  Bitmap bitmap;  // released on every path by its destructor
  if (LoadPictureFile(path, &bitmap, 24) != 1) return E_FAIL;
  if (whiten > 0) Whiten(&bitmap, whiten_percent);
  const bool crop = !IsRectEmpty(crop_left, crop_top, crop_right, crop_bottom);
  const int32_t width = Side(left, right), height = Side(top, bottom);
  Bitmap shown;
  std::optional<ResizeWindow> window;
  if (angle % 9000 == 0) {
    if (TurnQuarters(&bitmap, angle) != 1) return E_FAIL;
    if (crop) {
      const std::optional<ResizeWindow> part =
          ClipCrop(bitmap.width, bitmap.height, crop_left, crop_top, crop_right, crop_bottom);
      if (!part || TrimBitmap(&bitmap, part->x, part->y, part->width, part->height) != 1) return E_FAIL;
    }
    if (CheckSize(width, height) != 1) return E_FAIL;
    window = VisiblePart(dc, left, top, right, bottom);
    if (window && ResizeBitmapWindow(bitmap, width, height, *window, kResizeFiltered, &shown) != 1) return E_FAIL;
  } else {
    const CanvasSize canvas = TurnedCanvasSize(bitmap.width, bitmap.height, angle);
    if (CheckSize(canvas.width, canvas.height) != 1) return E_FAIL;
    const std::optional<ResizeWindow> part =
        crop ? ClipCrop(canvas.width, canvas.height, crop_left, crop_top, crop_right, crop_bottom)
             : ResizeWindow{0, 0, static_cast<int32_t>(canvas.width), static_cast<int32_t>(canvas.height)};
    if (!part || CheckSize(width, height) != 1) return E_FAIL;
    window = VisiblePart(dc, left, top, right, bottom);
    if (window && TurnScaledWindow(bitmap, angle, *part, width, height, *window, &shown) != 1) return E_FAIL;
  }
  // The host sees what was painted; nothing visible is nothing to paint.
  if (window) PaintWindow(dc, shown, left, top, *window);
  return S_OK;
}

}  // namespace
}  // namespace veltora::imaging

namespace imaging = veltora::imaging;

VELTORA_API HRESULT Draw(HDC dc, HGLOBAL dib, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (dc == nullptr || dib == nullptr || imaging::IsRectEmpty(left, top, right, bottom)) return E_INVALIDARG;
  return veltora::GuardExport([&] { return imaging::DrawDib(dc, dib, left, top, right, bottom); });
}

VELTORA_API HRESULT DrawImage(const char* path, HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom,
                              int32_t angle, int32_t crop_left, int32_t crop_top, int32_t crop_right,
                              int32_t crop_bottom, int32_t whiten, int32_t whiten_percent) {
  if (path == nullptr || std::strlen(path) == 0 || dc == nullptr || imaging::IsRectEmpty(left, top, right, bottom) ||
      angle < -imaging::kMaxAngle || angle > imaging::kMaxAngle) {
    return E_INVALIDARG;
  }
  return veltora::GuardExport([&] {
    return imaging::DrawFile(path, dc, left, top, right, bottom, angle, crop_left, crop_top, crop_right, crop_bottom,
                             whiten, whiten_percent);
  });
}
