#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "imaging/device_paint.h"
#include "imaging/paint.h"

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
  FillDeviceRows(bitmap, cairo_image_surface_get_data(surface.get()),
                 static_cast<size_t>(cairo_image_surface_get_stride(surface.get())));
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

}  // namespace

int32_t PaintBitmap(HDC context, const Bitmap& bitmap, int32_t left, int32_t top, int32_t right,
                    int32_t bottom, uint32_t raster_operation) {
  if (int32_t refused = CheckPaint(context, bitmap, left, top, right, bottom, raster_operation)) {
    return refused;
  }
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

std::optional<ResizeWindow> VisiblePart(HDC context, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (context == nullptr) return std::nullopt;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  cairo_clip_extents(context, &x1, &y1, &x2, &y2);
  // Clip extents are bounded by the surface; clamping keeps the casts exact.
  auto whole = [](double v) { return static_cast<int64_t>(std::clamp(v, -4e18, 4e18)); };
  return VisibleInClip(left, top, right, bottom, whole(std::floor(x1)), whole(std::floor(y1)), whole(std::ceil(x2)),
                       whole(std::ceil(y2)));
}

int32_t SurfaceBitsPerPixel(HDC context) {
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
