// What the device back ends of paint.h share, and the draw-at operation
// built over them.
#ifndef VELTORA_IMAGING_DEVICE_PAINT_H_
#define VELTORA_IMAGING_DEVICE_PAINT_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "imaging/bitmap.h"
#include "imaging/paint.h"
#include "imaging/resample.h"

namespace veltora::imaging {

// Draw at: PaintBitmap at (x, y) with the given size. Returns non-zero (1)
// on success, 0 on failure.
int32_t DrawBitmapAt(HDC context, const Bitmap& bitmap, int32_t x, int32_t y, int32_t width,
                     int32_t height);

// The arguments PaintBitmap refuses, as it answers them; 0 when it may paint.
int32_t CheckPaint(HDC context, const Bitmap& bitmap, int32_t left, int32_t top, int32_t right,
                   int32_t bottom, uint32_t raster_operation);
// The bitmap as top-down rows of 32-bit pixels, bytes B, G, R, 0 (cairo's
// RGB24 and a 32-bit GDI DIB alike), `stride` bytes apart.
void FillDeviceRows(const Bitmap& bitmap, uint8_t* rows, size_t stride);
// VisiblePart for a clip box (x0, y0)-(x1, y1) in whole pixels.
std::optional<ResizeWindow> VisibleInClip(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                          int64_t x0, int64_t y0, int64_t x1, int64_t y1);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_DEVICE_PAINT_H_
