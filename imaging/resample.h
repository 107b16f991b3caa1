// Scaling: resize in place and resample into a prepared bitmap.
#ifndef VELTORA_IMAGING_RESAMPLE_H_
#define VELTORA_IMAGING_RESAMPLE_H_

#include <cstdint>

#include "imaging/bitmap.h"

namespace veltora::imaging {

// Resize modes.
//  kResizeNearest: each target pixel takes the source pixel under its centre.
//  kResizeFiltered: separable Catmull-Rom cubic (a = -0.5); when shrinking,
//    the kernel is widened by the scale factor so that every source pixel
//    contributes (area-correct, no aliasing). Integer weights summing to
//    exactly 1 per tap set, so flat areas keep their exact colour. Edges are
//    extended. Shrinking an axis by 4 or more first averages integer boxes
//    (leaving the cubic a factor of 2 to 4), which costs one visit per
//    source pixel instead of about 4 x factor. Indexed bitmaps are always
//    scaled by nearest neighbour so that they keep their palette.
constexpr int32_t kResizeNearest = 0;
constexpr int32_t kResizeFiltered = 2;

// Resize: the bitmap becomes width x height. Returns 1, kErrorInvalidArgument
// for an unknown mode or bad size, kErrorNoImage, kErrorTooLarge, kErrorNoMemory.
int32_t ResizeBitmap(Bitmap* bitmap, int32_t width, int32_t height, int32_t mode);

// Resample: scales `source` into `target`, which must already be set up and
// allocated at its wanted size (filtered). When the depths differ the
// picture is scaled at the source's depth and then converted to the target's
// depth and palette (nearest entry). Returns 1 (> 0) or a negative error.
int32_t ResampleBitmap(const Bitmap& source, Bitmap* target);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_RESAMPLE_H_
