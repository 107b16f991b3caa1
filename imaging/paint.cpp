#include "imaging/paint.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace veltora::imaging {
namespace {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// The bitmap as an opaque cairo RGB24 surface (B, G, R, x bytes in memory
// on little-endian machines, the same order as ours).
Surface MakeSurface(const Bitmap& bitmap) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, bitmap.width, bitmap.height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface.get()));
  for (int32_t y = 0; y < bitmap.height; ++y) {
    auto* d = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int32_t x = 0; x < bitmap.width; ++x) {
      d[x] = static_cast<uint32_t>(GetPixelColour(bitmap, x, y));
      // 0x00BBGGRR to cairo's 0x00RRGGBB.
      d[x] = ((d[x] & 0xFF) << 16) | (d[x] & 0xFF00) | ((d[x] >> 16) & 0xFF);
    }
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

}  // namespace

int32_t PaintBitmap(cairo_t* context, const Bitmap& bitmap, int32_t left, int32_t top, int32_t right,
                    int32_t bottom, uint32_t raster_operation) {
  if (context == nullptr || raster_operation != kSourceCopy || right <= left || bottom <= top) {
    return kErrorInvalidArgument;
  }
  if (!bitmap.HoldsImage()) return kErrorNoImage;
  Surface surface = MakeSurface(bitmap);
  if (!surface) return kErrorNoMemory;
  const double width = static_cast<double>(right) - left, height = static_cast<double>(bottom) - top;
  cairo_save(context);
  cairo_rectangle(context, left, top, width, height);
  cairo_clip(context);
  cairo_translate(context, left, top);
  cairo_scale(context, width / bitmap.width, height / bitmap.height);
  cairo_set_source_surface(context, surface.get(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(context), CAIRO_FILTER_GOOD);
  cairo_pattern_set_extend(cairo_get_source(context), CAIRO_EXTEND_PAD);
  cairo_set_operator(context, CAIRO_OPERATOR_SOURCE);
  cairo_paint(context);
  cairo_restore(context);
  return cairo_status(context) == CAIRO_STATUS_SUCCESS ? 1 : kErrorNoMemory;
}

int32_t DrawBitmapAt(cairo_t* context, const Bitmap& bitmap, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
  const int64_t right = int64_t{x} + width, bottom = int64_t{y} + height;
  if (right > INT32_MAX || bottom > INT32_MAX) return 0;
  return PaintBitmap(context, bitmap, x, y, static_cast<int32_t>(right), static_cast<int32_t>(bottom)) == 1 ? 1 : 0;
}

std::optional<ResizeWindow> VisiblePart(cairo_t* context, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (context == nullptr || int64_t{right} - left > kMaxSide || int64_t{bottom} - top > kMaxSide) return std::nullopt;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  cairo_clip_extents(context, &x1, &y1, &x2, &y2);
  // Clip extents are bounded by the surface; clamping keeps the casts exact.
  auto whole = [](double v) { return static_cast<int64_t>(std::clamp(v, -4e18, 4e18)); };
  const int64_t x0 = std::max<int64_t>(left, whole(std::floor(x1))), y0 = std::max<int64_t>(top, whole(std::floor(y1)));
  const int64_t xe = std::min<int64_t>(right, whole(std::ceil(x2))), ye = std::min<int64_t>(bottom, whole(std::ceil(y2)));
  if (xe <= x0 || ye <= y0) return std::nullopt;
  return ResizeWindow{static_cast<int32_t>(x0 - left), static_cast<int32_t>(y0 - top), static_cast<int32_t>(xe - x0),
                      static_cast<int32_t>(ye - y0)};
}

int32_t SurfaceBitsPerPixel(cairo_t* context) {
  if (context == nullptr) return 0;
  cairo_surface_t* target = cairo_get_target(context);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) return 32;
  switch (cairo_image_surface_get_format(target)) {
    case CAIRO_FORMAT_A1: return 1;
    case CAIRO_FORMAT_A8: return 8;
    case CAIRO_FORMAT_RGB16_565: return 16;
    default: return 32;
  }
}

}  // namespace veltora::imaging
