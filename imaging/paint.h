// Painting bitmaps on a host's device context, a cairo context.
#ifndef VELTORA_IMAGING_PAINT_H_
#define VELTORA_IMAGING_PAINT_H_

#include <cairo.h>

#include <cstdint>
#include <optional>

#include "imaging/bitmap.h"
#include "imaging/resample.h"

namespace veltora::imaging {

// The one raster operation: the picture replaces what is under it.
constexpr uint32_t kSourceCopy = 0x00CC0020;

// Paint: the whole bitmap stretched onto the rectangle (left, top, right,
// bottom) of `context` with source-copy semantics (cairo OPERATOR_SOURCE,
// clipped to the rectangle, good filtering, edges extended). The context's
// own state is saved and restored. 1, or kErrorInvalidArgument for a null
// context, an empty rectangle or another raster operation, kErrorNoImage,
// kErrorNoMemory when cairo cannot make the surface.
int32_t PaintBitmap(cairo_t* context, const Bitmap& bitmap, int32_t left, int32_t top, int32_t right,
                    int32_t bottom, uint32_t raster_operation = kSourceCopy);

// Draw at: the same at (x, y) with the given size. Returns non-zero (1) on
// success, 0 on failure.
int32_t DrawBitmapAt(cairo_t* context, const Bitmap& bitmap, int32_t x, int32_t y, int32_t width,
                     int32_t height);

// The part of the rectangle (left, top, right, bottom) that the context can
// show (inside its clip, in user space, widened to whole pixels), relative
// to the rectangle's top left corner; nullopt when none of it can be seen,
// and for a rectangle whose sides exceed kMaxSide (no bitmap is that large).
std::optional<ResizeWindow> VisiblePart(cairo_t* context, int32_t left, int32_t top, int32_t right, int32_t bottom);

// The depth of the context's target surface: A1 1, A8 8, RGB16_565 16,
// RGB24 and ARGB32 32, anything else 32.
int32_t SurfaceBitsPerPixel(cairo_t* context);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_PAINT_H_
