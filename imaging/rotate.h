// Rotation by hundredths of a degree.
#ifndef VELTORA_IMAGING_ROTATE_H_
#define VELTORA_IMAGING_ROTATE_H_

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/resample.h"

namespace veltora::imaging {

// Turns the picture clockwise (as seen on screen, rows top-down) by a
// multiple of 9000 hundredths of a degree, taken modulo 36000: exact pixel
// moves, no sampling. Other angles are kErrorInvalidArgument (they are drawn
// by TurnScaledWindow). Returns 1 or a negative error.
int32_t TurnQuarters(Bitmap* bitmap, int32_t hundredths);

// The bounding box of a width x height picture turned by `hundredths`
// (w |cos| + h |sin| by w |sin| + h |cos|, rounded to the nearest pixel; not
// checked against the caps).
struct CanvasSize {
  int64_t width = 0, height = 0;
};
CanvasSize TurnedCanvasSize(int32_t width, int32_t height, int32_t hundredths);

// Turn and scale in one pass, for display. The picture turned clockwise on
// its bounding box (TurnedCanvasSize; uncovered canvas white) is cut to
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
