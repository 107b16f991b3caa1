// Packed DIBs in movable global memory: the library's conversions between a
// DIB block and a bitmap, and the JPEG writer's DIB entry point.
#ifndef VELTORA_IMAGING_DIB_MEMORY_H_
#define VELTORA_IMAGING_DIB_MEMORY_H_

#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "interface/global_memory.h"

namespace veltora::imaging {

// Bitmap from DIB: decodes the DIB block (host layout rules, see
// packed_dib.h) into `bitmap`. The block passes to the library: it is freed
// here on every path, so the caller must not use it afterwards. 1 or a
// negative error (kErrorInvalidArgument for a null or unlockable block or a
// block shorter than its header).
int32_t AttachDib(Bitmap* bitmap, HGLOBAL dib);

// DIB from bitmap: a new movable block holding the bitmap as a packed DIB
// (40-byte header, full colour table for indexed depths, bottom-up rows).
// The caller owns it (GlobalFree). Null for a bitmap without data or when
// memory is short.
HGLOBAL MakeDib(const Bitmap& bitmap);

// DIB from bitmap, consuming the bitmap: rows held in a DIB block
// (kMemoryDib) are handed over in place, with the header and colour table
// written in front of them; other rows are copied as by MakeDib. The bitmap
// is empty afterwards either way; null as for MakeDib.
HGLOBAL TakeDib(Bitmap* bitmap);

// The JPEG writer's entry: encodes the host DIB (read only, kept by the
// caller) to `path` with the quality and mode of save_jpeg.h. Returns 0, or
// on failure ResultFromImagingError(e) (0x82000000 | -e, negative), the code
// the exports report for library error e, so callers may return it as is.
int32_t SaveJpeg(HGLOBAL dib, const char* path, int32_t quality, int32_t mode);
// The same encoding into `encoded`, for writers that put the stream into a
// file of their own: no file is made. Results as for SaveJpeg.
int32_t EncodeJpegDib(HGLOBAL dib, int32_t quality, int32_t mode, std::vector<uint8_t>* encoded);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_DIB_MEMORY_H_
