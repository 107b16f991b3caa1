// Rotation by hundredths of a degree.
#ifndef VELTORA_IMAGING_ROTATE_H_
#define VELTORA_IMAGING_ROTATE_H_

#include <cstdint>

#include "imaging/bitmap.h"

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

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_ROTATE_H_
