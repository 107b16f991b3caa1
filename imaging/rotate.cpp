#include "imaging/rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>

#include <pixman.h>

namespace veltora::imaging {
namespace {

// Moves one pixel between bitmaps of the same depth.
void CopyPixel(const Bitmap& source, int32_t sx, int32_t sy, Bitmap* target, int32_t tx, int32_t ty) {
  if (source.bits_per_pixel >= 8) {
    const size_t bpp = static_cast<size_t>(source.bits_per_pixel / 8);
    std::memcpy(target->Row(ty) + static_cast<size_t>(tx) * bpp, source.Row(sy) + static_cast<size_t>(sx) * bpp, bpp);
  } else {
    // Palettes are identical, so the nearest entry is the same index.
    SetPixelColour(target, tx, ty, static_cast<uint32_t>(GetPixelColour(source, sx, sy)));
  }
}

int32_t RotateQuarterTurns(Bitmap* bitmap, int turns) {
  const int32_t w = bitmap->width, h = bitmap->height;
  Bitmap out;
  const bool swap = (turns % 2) != 0;
  if (const int32_t r = CreateBitmap(&out, swap ? h : w, swap ? w : h, bitmap->bits_per_pixel); r != 1) return r;
  out.palette = bitmap->palette;
  out.flags = bitmap->flags;
  CopyDerivedFields(&out, *bitmap);
  for (int32_t y = 0; y < out.height; ++y) {
    for (int32_t x = 0; x < out.width; ++x) {
      int32_t sx = x, sy = y;
      switch (turns) {
        case 1: sx = y; sy = h - 1 - x; break;
        case 2: sx = w - 1 - x; sy = h - 1 - y; break;
        case 3: sx = w - 1 - y; sy = x; break;
        default: break;
      }
      CopyPixel(*bitmap, sx, sy, &out, x, y);
    }
  }
  *bitmap = std::move(out);
  return 1;
}

double Radians(int32_t hundredths) {
  const int32_t angle = ((hundredths % 36000) + 36000) % 36000;
  return angle / 100.0 * std::numbers::pi / 180.0;
}

struct PixmanImageDeleter {
  void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanImageDeleter>;

// A 24-bit bitmap's rectangle (x, y, width, height) as a pixman image over
// its rows (heap rows, top-down; x a multiple of 4 keeps the start aligned).
PixmanImage ImageOf(Bitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height) {
  auto* bits = reinterpret_cast<uint32_t*>(bitmap->Row(y) + static_cast<size_t>(x) * 3);
  return PixmanImage(pixman_image_create_bits(PIXMAN_r8g8b8, width, height, bits, static_cast<int>(bitmap->stride)));
}

}  // namespace

CanvasSize TurnedCanvasSize(int32_t width, int32_t height, int32_t hundredths) {
  const double theta = Radians(hundredths);
  const double c = std::fabs(std::cos(theta)), s = std::fabs(std::sin(theta));
  return {std::max<int64_t>(1, std::llround(width * c + height * s)),
          std::max<int64_t>(1, std::llround(width * s + height * c))};
}

int32_t TurnScaledWindow(const Bitmap& source, int32_t hundredths, const ResizeWindow& crop, int32_t full_width,
                         int32_t full_height, const ResizeWindow& window, Bitmap* out) {
  if (out == nullptr || out == &source || source.bits_per_pixel != 24 || source.pixels.bottom_up()) {
    return kErrorInvalidArgument;
  }
  if (!source.HoldsImage()) return kErrorNoImage;
  if (CheckSize(full_width, full_height) != 1 || crop.width < 1 || crop.height < 1 || window.width < 1 ||
      window.height < 1) {
    return kErrorInvalidArgument;
  }
  try {
    const CanvasSize canvas = TurnedCanvasSize(source.width, source.height, hundredths);
    // Canvas pixels per target pixel; the source is reduced by whole boxes
    // until bilinear sampling steps at most two of its pixels.
    const double ax = static_cast<double>(crop.width) / full_width, ay = static_cast<double>(crop.height) / full_height;
    const int32_t step = std::max(1, static_cast<int32_t>(std::min(ax, ay) / 2));
    Bitmap reduced;
    Bitmap* from = const_cast<Bitmap*>(&source);  // pixman reads it only
    if (step > 1) {
      if (const int32_t r = ReduceBitmap(source, step, step, &reduced); r != 1) return r;
      from = &reduced;
    }
    if (const int32_t r = CreateBitmap(out, window.width, window.height, 24); r != 1) return r;
    CopyDerivedFields(out, source);
    if (const int32_t r = FillBitmap(out, 0x00FFFFFF); r != 1) return r;

    // Window pixel -> target -> canvas (u, centred) -> source -> reduced
    // source, all affine: source = (u.x c + u.y s, -u.x s + u.y c) + centre.
    const double theta = Radians(hundredths), c = std::cos(theta), s = std::sin(theta);
    const double bx = crop.x + window.x * ax - static_cast<double>(canvas.width) / 2;
    const double by = crop.y + window.y * ay - static_cast<double>(canvas.height) / 2;
    double m[2][3] = {{c * ax, s * ay, c * bx + s * by + source.width / 2.0},
                      {-s * ax, c * ay, -s * bx + c * by + source.height / 2.0}};
    for (double& v : m[0]) v /= step;
    for (double& v : m[1]) v /= step;
    // Only the share of the source the window reaches is given to pixman,
    // which keeps its coordinates small.
    double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
    for (const double px : {0.0, static_cast<double>(window.width)}) {
      for (const double py : {0.0, static_cast<double>(window.height)}) {
        for (int k = 0; k < 2; ++k) {
          const double v = m[k][0] * px + m[k][1] * py + m[k][2];
          lo[k] = std::min(lo[k], v);
          hi[k] = std::max(hi[k], v);
        }
      }
    }
    const int64_t x0 = std::clamp<int64_t>(static_cast<int64_t>(std::floor(lo[0])) - 2, 0, from->width) / 4 * 4;
    const int64_t y0 = std::clamp<int64_t>(static_cast<int64_t>(std::floor(lo[1])) - 2, 0, from->height);
    const int64_t x1 = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(hi[0])) + 2, 0, from->width);
    const int64_t y1 = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(hi[1])) + 2, 0, from->height);
    if (x1 <= x0 || y1 <= y0) return 1;  // the window shows only uncovered canvas
    m[0][2] -= static_cast<double>(x0);
    m[1][2] -= static_cast<double>(y0);
    pixman_f_transform inverse{};
    for (int k = 0; k < 2; ++k) {
      for (int j = 0; j < 3; ++j) inverse.m[k][j] = m[k][j];
    }
    inverse.m[2][2] = 1;
    pixman_transform_t transform;
    if (!pixman_transform_from_pixman_f_transform(&transform, &inverse)) return kErrorTooLarge;
    PixmanImage src = ImageOf(from, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                              static_cast<int32_t>(y1 - y0));
    PixmanImage dst = ImageOf(out, 0, 0, window.width, window.height);
    if (!src || !dst) return kErrorNoMemory;
    pixman_image_set_transform(src.get(), &transform);
    pixman_image_set_filter(src.get(), PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(src.get(), PIXMAN_REPEAT_NONE);
    // Outside the picture the source is transparent: the white stays.
    pixman_image_composite32(PIXMAN_OP_OVER, src.get(), nullptr, dst.get(), 0, 0, 0, 0, 0, 0, window.width,
                             window.height);
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
  return 1;
}

int32_t TurnQuarters(Bitmap* bitmap, int32_t hundredths) {
  if (bitmap == nullptr || hundredths % 9000 != 0) return kErrorInvalidArgument;
  if (!bitmap->HoldsImage()) return kErrorNoImage;
  const int32_t angle = ((hundredths % 36000) + 36000) % 36000;
  try {
    return angle == 0 ? 1 : RotateQuarterTurns(bitmap, angle / 9000);
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
}

}  // namespace veltora::imaging
