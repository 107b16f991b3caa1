// Rotation by hundredths of a degree.
#ifndef VELTORA_IMAGING_ROTATE_H_
#define VELTORA_IMAGING_ROTATE_H_

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/resample.h"

namespace veltora::imaging {

// Rotate mode bits.
//  kRotateResizeCanvas: the result is the bounding box of the turned picture
//    (w |cos| + h |sin| by w |sin| + h |cos|, rounded to the nearest pixel);
//    without it the bitmap keeps its size and the corners are cut.
//  kRotateInterpolate: bilinear sampling (edges blend into the fill colour);
//    without it, nearest neighbour. Indexed bitmaps always use nearest.
// Callers that turn pictures for display use kRotateDisplay (3).
constexpr int32_t kRotateResizeCanvas = 0x1;
constexpr int32_t kRotateInterpolate = 0x2;
constexpr int32_t kRotateDisplay = kRotateResizeCanvas | kRotateInterpolate;

// Rotate: positive angles turn the picture clockwise as seen on screen
// (rows top-down), in hundredths of a degree; any value is taken modulo
// 36000. Multiples of 9000 are exact pixel moves (no sampling, no fill).
// Uncovered area takes `fill_colour` (0x00BBGGRR; nearest palette entry for
// indexed bitmaps; opaque on 32-bit bitmaps). Returns 1 or a negative error.
int32_t RotateBitmap(Bitmap* bitmap, int32_t hundredths, int32_t mode, uint32_t fill_colour);

// The size of the canvas RotateBitmap with kRotateResizeCanvas gives a
// width x height picture (not checked against the caps).
struct CanvasSize {
  int64_t width = 0, height = 0;
};
CanvasSize TurnedCanvasSize(int32_t width, int32_t height, int32_t hundredths);

// Turn and scale in one pass, for display. The picture turned as by
// RotateBitmap with kRotateDisplay (uncovered canvas white) is cut to
// `crop` (a rectangle of the turned canvas, inside it) and scaled to
// full_width x full_height; `out` receives `window` of that result and
// nothing else is made. Sampling is bilinear (pixman's affine transform) from
// the source first box-reduced to at most twice the spacing of the target's
// pixels, so the cost is the window plus one visit of the source whatever
// the sizes. 24-bit sources only. 1 or a negative error (kErrorTooLarge when
// the window's share of the source is beyond pixman's 16-bit coordinates).
int32_t TurnScaledWindow(const Bitmap& source, int32_t hundredths, const ResizeWindow& crop, int32_t full_width,
                         int32_t full_height, const ResizeWindow& window, Bitmap* out);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_ROTATE_H_
