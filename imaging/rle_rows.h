// The run-length coded rows of BMP files (BI_RLE8 and BI_RLE4).
#ifndef VELTORA_IMAGING_RLE_ROWS_H_
#define VELTORA_IMAGING_RLE_ROWS_H_

#include <cstdint>

#include "bytes/byte_view.h"
#include "imaging/bitmap.h"

namespace veltora::imaging {

// Decodes the coded rows in `data` into `out`, already created at the
// picture's size at 8 bits (RLE8) or 4 bits (RLE4) and zero-filled; the
// coded rows start with the bottom row, as the format stores them. Pixels
// the codes never reach keep index 0: the end-of-bitmap code and deltas leave
// them so on purpose, and data that ends without its end-of-bitmap code
// keeps what it decoded, as viewers show such files. Runs reaching past the
// right edge are cut there. Every read stays inside `data`; the work is
// bounded by its size (a code of two bytes paints at most 255 pixels).
void DecodeRleRows(bytes::ByteView data, Bitmap* out);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_RLE_ROWS_H_
