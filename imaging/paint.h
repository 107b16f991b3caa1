// Painting bitmaps on a host's device context: a cairo context on Linux
// (paint.cpp), a GDI device context on Windows (paint_win32.cpp). Both paint
// the pixels our own resampling made, one for one; what they share is in
// device_paint.h.
#ifndef VELTORA_IMAGING_PAINT_H_
#define VELTORA_IMAGING_PAINT_H_

#include <cstdint>
#include <optional>

#include "imaging/bitmap.h"
#include "imaging/resample.h"
#include "interface/host_win32.h"

namespace veltora::imaging {

// The one raster operation: the picture replaces what is under it.
constexpr uint32_t kSourceCopy = 0x00CC0020;

// Paint: the whole bitmap stretched onto the rectangle (left, top, right,
// bottom) of `context` with source-copy semantics (clipped to the rectangle;
// cairo: OPERATOR_SOURCE, good filtering, edges extended; GDI: StretchDIBits
// with SRCCOPY in HALFTONE mode). The context's own state is saved and
// restored. 1, or kErrorInvalidArgument for a null context, an empty
// rectangle or another raster operation, kErrorNoImage, kErrorNoMemory when
// the device cannot take the picture.
int32_t PaintBitmap(HDC context, const Bitmap& bitmap, int32_t left, int32_t top, int32_t right,
                    int32_t bottom, uint32_t raster_operation = kSourceCopy);

// The part of the rectangle (left, top, right, bottom) that the context can
// show (inside its clip, in user space, widened to whole pixels), relative
// to the rectangle's top left corner; nullopt when none of it can be seen,
// and for a rectangle whose sides exceed kMaxSide (no bitmap is that large).
std::optional<ResizeWindow> VisiblePart(HDC context, int32_t left, int32_t top, int32_t right, int32_t bottom);

// The depth of the context's device. cairo: the target surface's format, A1
// 1, A8 8, RGB16_565 16, RGB24 and ARGB32 32, anything else 32. GDI:
// GetDeviceCaps(BITSPIXEL).
int32_t SurfaceBitsPerPixel(HDC context);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_PAINT_H_
