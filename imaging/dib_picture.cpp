#include "imaging/dib_picture.h"

#include <cstring>

#include "imaging/packed_dib.h"
#include "imaging/picture_io.h"
#include "interface/result_codes.h"

namespace veltora::imaging {
namespace {

// A bottom-up BI_RGB DIB of 24 or 32 bits whose block holds all its rows:
// the rows viewed where they lie, and the record (no pixels) the copy would
// get.
bool ViewDibRows(const uint8_t* bytes, size_t held, Bitmap* record, RowView* view) {
  if (bytes == nullptr || held < kDibHeaderSize) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, bytes, sizeof h);
  if ((h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB || h.biHeight < 1 ||
      CheckSize(h.biWidth, h.biHeight) != 1) {
    return false;
  }
  const size_t stride = RowStride(h.biWidth, h.biBitCount);
  if (stride == 0 || kDibHeaderSize + uint64_t{stride} * static_cast<uint64_t>(h.biHeight) > held) return false;
  record->width = h.biWidth;
  record->height = h.biHeight;
  record->bits_per_pixel = h.biBitCount;
  record->x_pixels_per_metre = h.biXPelsPerMeter;
  record->y_pixels_per_metre = h.biYPelsPerMeter;
  view->top = bytes + kDibHeaderSize + stride * static_cast<size_t>(h.biHeight - 1);
  view->pitch = -static_cast<ptrdiff_t>(stride);
  view->width = h.biWidth;
  view->height = h.biHeight;
  view->bits_per_pixel = h.biBitCount;
  return true;
}

}  // namespace

DibPicture::DibPicture(HGLOBAL dib) : dib_(dib) {
  if (dib == nullptr) {
    status_ = E_INVALIDARG;
    return;
  }
  bytes_ = static_cast<const uint8_t*>(GlobalLock(dib));
  in_place_ = ViewDibRows(bytes_, bytes_ == nullptr ? 0 : GlobalSize(dib), &source_, &rows_);
  if (!in_place_) {
    if (status_ = BitmapFromDib(dib, &source_); status_ != S_OK) return;
  }
  if (source_.width < 1 || source_.height < 1) {
    status_ = E_FAIL;
  } else if (!in_place_) {
    status_ = CheckBitmapLoaded(&source_);
  }
}

DibPicture::~DibPicture() {
  if (bytes_ != nullptr) GlobalUnlock(dib_);
}

int32_t DibPicture::ResampleInto(Bitmap* target) const {
  return in_place_ ? ResampleRows(rows_, target) : ResampleBitmap(source_, target);
}

}  // namespace veltora::imaging
