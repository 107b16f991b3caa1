// Scaling: resize in place and resample into a prepared bitmap.
#ifndef VELTORA_IMAGING_RESAMPLE_H_
#define VELTORA_IMAGING_RESAMPLE_H_

#include <cstddef>
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

// A part of a resize's result: the pixels from (x, y), width x height.
struct ResizeWindow {
  int32_t x = 0, y = 0, width = 0, height = 0;
};
// Resize window: `out` (a record other than `source`) receives the window of
// `source` resized to full_width x full_height: the same pixels the resize
// gives there, at the cost of the window alone (and of one visit of the
// source when it shrinks). The full size must be one ResizeBitmap accepts;
// a window reaching outside it is kErrorInvalidArgument.
int32_t ResizeBitmapWindow(const Bitmap& source, int32_t full_width, int32_t full_height, const ResizeWindow& window,
                           int32_t mode, Bitmap* out);

// Reduce: `out` receives `source` (24 or 32 bits) averaged over boxes of
// step_x x step_y pixels, ceil(width / step_x) x ceil(height / step_y); a
// box cut by the edge averages what it covers. 1 or a negative error.
int32_t ReduceBitmap(const Bitmap& source, int32_t step_x, int32_t step_y, Bitmap* out);

// Resample: scales `source` into `target`, which must already be set up and
// allocated at its wanted size (filtered). When the depths differ the
// picture is scaled at the source's depth and then converted to the target's
// depth and palette (nearest entry). Returns 1 (> 0) or a negative error.
int32_t ResampleBitmap(const Bitmap& source, Bitmap* target);

// Rows of 24- or 32-bit pixels where they lie (a host DIB's block): `top`
// is the top row, `pitch` the signed distance in bytes from a row to the
// one below it (negative for bottom-up rows). The caller keeps the bytes.
struct RowView {
  const uint8_t* top = nullptr;
  ptrdiff_t pitch = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits_per_pixel = 0;
  const uint8_t* Row(int32_t y) const { return top + static_cast<ptrdiff_t>(y) * pitch; }
};

// Resample from a view into `target`, set up and allocated at its wanted
// size and at the view's depth: the same pixels ResampleBitmap gives for a
// bitmap of those rows, without copying a large source first.
int32_t ResampleRows(const RowView& source, Bitmap* target);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_RESAMPLE_H_
