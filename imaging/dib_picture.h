// A host DIB's picture, read for resampling without a copy where it can be:
// the rows of a bottom-up BI_RGB DIB of 24 or 32 bits whose block holds them
// all are read where they lie (exactly the pixels BitmapFromDib would copy);
// any other DIB goes through BitmapFromDib's converted copy.
#ifndef VELTORA_IMAGING_DIB_PICTURE_H_
#define VELTORA_IMAGING_DIB_PICTURE_H_

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/resample.h"
#include "interface/global_memory.h"

namespace veltora::imaging {

class DibPicture {
 public:
  // Locks `dib` for the object's life.
  explicit DibPicture(HGLOBAL dib);
  ~DibPicture();
  DibPicture(const DibPicture&) = delete;
  DibPicture& operator=(const DibPicture&) = delete;

  // S_OK when there is a picture; else BitmapFromDib's error, E_FAIL for a
  // picture without pixels, or CheckBitmapLoaded's error for the copy.
  int32_t status() const { return status_; }
  // Size, depth, resolution, palette and view of the picture (its pixels too
  // when it was copied).
  const Bitmap& shape() const { return source_; }
  // Resamples the whole picture into `target`, created at any size and the
  // picture's depth: 1 or a negative imaging error.
  int32_t ResampleInto(Bitmap* target) const;

 private:
  HGLOBAL dib_;
  const uint8_t* bytes_ = nullptr;
  Bitmap source_;
  RowView rows_{};
  bool in_place_ = false;
  int32_t status_ = 0;
};

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_DIB_PICTURE_H_
