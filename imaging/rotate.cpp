#include "imaging/rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

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

}  // namespace

int32_t RotateBitmap(Bitmap* bitmap, int32_t hundredths, int32_t mode, uint32_t fill_colour) {
  if (bitmap == nullptr || (mode & ~kRotateDisplay) != 0) return kErrorInvalidArgument;
  if (!bitmap->HoldsImage()) return kErrorNoImage;
  const int32_t angle = ((hundredths % 36000) + 36000) % 36000;
  try {
    if (angle % 9000 == 0 && ((mode & kRotateResizeCanvas) != 0 || angle % 18000 == 0)) {
      return angle == 0 ? 1 : RotateQuarterTurns(bitmap, angle / 9000);
    }
    const double theta = angle / 100.0 * std::numbers::pi / 180.0;
    const double c = std::cos(theta), s = std::sin(theta);
    const int32_t w = bitmap->width, h = bitmap->height;
    int64_t out_w = w, out_h = h;
    if ((mode & kRotateResizeCanvas) != 0) {
      out_w = std::max<int64_t>(1, std::llround(w * std::fabs(c) + h * std::fabs(s)));
      out_h = std::max<int64_t>(1, std::llround(w * std::fabs(s) + h * std::fabs(c)));
    }
    Bitmap out;
    if (const int32_t r = CheckSize(out_w, out_h); r != 1) return r;
    if (const int32_t r = CreateBitmap(&out, static_cast<int32_t>(out_w), static_cast<int32_t>(out_h),
                                       bitmap->bits_per_pixel);
        r != 1) {
      return r;
    }
    out.palette = bitmap->palette;
    out.flags = bitmap->flags;
    CopyDerivedFields(&out, *bitmap);
    const int32_t bits = bitmap->bits_per_pixel;
    const bool bilinear = (mode & kRotateInterpolate) != 0 && bits >= 24;
    const size_t bpp = static_cast<size_t>(std::max(bits / 8, 1));
    uint8_t fill[4] = {static_cast<uint8_t>(fill_colour >> 16), static_cast<uint8_t>(fill_colour >> 8),
                       static_cast<uint8_t>(fill_colour), 0xFF};
    const double ocx = static_cast<double>(out_w) / 2, ocy = static_cast<double>(out_h) / 2;
    const double icx = w / 2.0, icy = h / 2.0;
    for (int32_t y = 0; y < out.height; ++y) {
      uint8_t* d = out.Row(y);
      for (int32_t x = 0; x < out.width; ++x) {
        const double u = x + 0.5 - ocx, v = y + 0.5 - ocy;
        // Inverse of the clockwise turn, into source pixel-centre coordinates.
        const double sx = u * c + v * s + icx - 0.5;
        const double sy = -u * s + v * c + icy - 0.5;
        if (!bilinear) {
          const int64_t nx = std::llround(sx), ny = std::llround(sy);
          if (nx >= 0 && ny >= 0 && nx < w && ny < h) {
            CopyPixel(*bitmap, static_cast<int32_t>(nx), static_cast<int32_t>(ny), &out, x, y);
          } else if (bits >= 24) {
            std::memcpy(d + static_cast<size_t>(x) * bpp, fill, bpp);
          } else {
            SetPixelColour(&out, x, y, fill_colour);
          }
          continue;
        }
        const double fx0 = std::floor(sx), fy0 = std::floor(sy);
        if (fx0 < -1 || fy0 < -1 || fx0 >= w || fy0 >= h) {
          std::memcpy(d + static_cast<size_t>(x) * bpp, fill, bpp);
          continue;
        }
        const int32_t x0 = static_cast<int32_t>(fx0), y0 = static_cast<int32_t>(fy0);
        const int32_t ax = static_cast<int32_t>(std::lround((sx - fx0) * 256));
        const int32_t ay = static_cast<int32_t>(std::lround((sy - fy0) * 256));
        const uint8_t* p[4];
        for (int k = 0; k < 4; ++k) {
          const int32_t px = x0 + (k & 1), py = y0 + (k >> 1);
          p[k] = (px >= 0 && py >= 0 && px < w && py < h)
                     ? bitmap->Row(py) + static_cast<size_t>(px) * bpp
                     : fill;
        }
        for (size_t ch = 0; ch < bpp; ++ch) {
          const int32_t top = p[0][ch] * (256 - ax) + p[1][ch] * ax;
          const int32_t bottom = p[2][ch] * (256 - ax) + p[3][ch] * ax;
          d[static_cast<size_t>(x) * bpp + ch] = static_cast<uint8_t>((top * (256 - ay) + bottom * ay + 32768) >> 16);
        }
      }
    }
    *bitmap = std::move(out);
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
  return 1;
}

}  // namespace veltora::imaging
