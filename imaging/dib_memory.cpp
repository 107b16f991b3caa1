#include "imaging/dib_memory.h"

#include <cstring>
#include <new>
#include <span>

#include "frame/veltora.h"
#include "imaging/packed_dib.h"
#include "imaging/save_jpeg.h"

namespace veltora::imaging {
namespace {

// Locks a block for the span of one scope.
class LockedBlock {
 public:
  explicit LockedBlock(HGLOBAL handle) : handle_(handle), bytes_(static_cast<uint8_t*>(GlobalLock(handle))) {}
  ~LockedBlock() {
    if (bytes_ != nullptr) GlobalUnlock(handle_);
  }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;
  std::span<const uint8_t> bytes() const {
    return bytes_ == nullptr ? std::span<const uint8_t>() : std::span<const uint8_t>(bytes_, GlobalSize(handle_));
  }
  uint8_t* data() { return bytes_; }

 private:
  HGLOBAL handle_;
  uint8_t* bytes_;
};

int32_t DecodeHostDib(HGLOBAL dib, Bitmap* bitmap) {
  LockedBlock block(dib);
  if (block.bytes().size() < kDibHeaderSize) return kErrorInvalidArgument;
  return DecodePackedDib(block.bytes(), DibRules::kHost, std::nullopt, bitmap, nullptr);
}

}  // namespace

int32_t AttachDib(Bitmap* bitmap, HGLOBAL dib) {
  int32_t result = kErrorInvalidArgument;
  if (bitmap != nullptr && dib != nullptr) {
    FreeBitmap(bitmap);
    try {
      result = DecodeHostDib(dib, bitmap);
    } catch (const std::bad_alloc&) {
      result = kErrorNoMemory;
    }
    if (result != 1) FreeBitmap(bitmap);
  }
  GlobalFree(dib);
  return result;
}

HGLOBAL MakeDib(const Bitmap& bitmap) {
  if (!bitmap.HoldsImage()) return nullptr;
  // Written straight into the block: a decoded picture is copied once.
  HGLOBAL handle = GlobalAlloc(GHND, PackedDibBytes(bitmap));
  if (handle == nullptr) return nullptr;
  {
    LockedBlock block(handle);
    if (block.data() == nullptr) {
      GlobalFree(handle);
      return nullptr;
    }
    WritePackedDib(bitmap, block.data());
  }
  return handle;
}

HGLOBAL TakeDib(Bitmap* bitmap) {
  if (bitmap == nullptr || !bitmap->HoldsImage()) return nullptr;
  if (!bitmap->pixels.bottom_up()) {
    HGLOBAL copy = MakeDib(*bitmap);
    FreeBitmap(bitmap);
    return copy;
  }
  HGLOBAL handle = bitmap->pixels.TakeDib();
  {
    LockedBlock block(handle);
    WritePackedDibFront(*bitmap, block.data());
  }
  FreeBitmap(bitmap);
  return handle;
}

// The common host DIB, bottom-up BI_RGB at 24 or 32 bits with all its rows
// in the block, is encoded where it lies; 1 when it was (with `result` set),
// 0 when the DIB needs the general decoder.
int32_t EncodeJpegInPlace(HGLOBAL dib, int32_t quality, int32_t mode, std::vector<uint8_t>* encoded,
                          int32_t* result) {
  LockedBlock block(dib);
  const std::span<const uint8_t> bytes = block.bytes();
  if (bytes.size() < kDibHeaderSize) return 0;
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes.data(), sizeof header);
  const int32_t bits = header.biBitCount;
  if ((bits != 24 && bits != 32) || header.biCompression != kBiRgb || header.biWidth < 1 || header.biHeight < 1 ||
      CheckSize(header.biWidth, header.biHeight) != 1) {
    return 0;
  }
  const size_t stride = RowStride(header.biWidth, bits);
  const uint64_t needed = kDibHeaderSize + uint64_t{stride} * static_cast<uint64_t>(header.biHeight);
  if (stride == 0 || needed > bytes.size()) return 0;
  *result = EncodeJpegRows(bytes.data() + kDibHeaderSize, header.biWidth, stride, header.biHeight, bits,
                           /*bottom_up=*/true, quality, mode, encoded);
  if (*result == 0) SetJfifDensity(encoded, header.biXPelsPerMeter, header.biYPelsPerMeter);
  return 1;
}

int32_t EncodeJpegDib(HGLOBAL dib, int32_t quality, int32_t mode, std::vector<uint8_t>* encoded) {
  if (dib == nullptr || encoded == nullptr) return ResultFromImagingError(kErrorInvalidArgument);
  try {
    int32_t r = 0;
    if (EncodeJpegInPlace(dib, quality, mode, encoded, &r) != 1) {
      Bitmap bitmap;
      if (const int32_t decoded = DecodeHostDib(dib, &bitmap); decoded != 1) {
        return ResultFromImagingError(decoded);
      }
      r = EncodeJpeg(bitmap, quality, mode, encoded);
    }
    return r == 0 ? 0 : ResultFromImagingError(r);
  } catch (const std::bad_alloc&) {
    return ResultFromImagingError(kErrorNoMemory);
  }
}

int32_t SaveJpeg(HGLOBAL dib, const char* path, int32_t quality, int32_t mode) {
  if (dib == nullptr || path == nullptr || *path == '\0') return ResultFromImagingError(kErrorInvalidArgument);
  std::vector<uint8_t> encoded;
  if (const int32_t r = EncodeJpegDib(dib, quality, mode, &encoded); r != 0) return r;
  const int32_t r = WriteJpegFile(path, encoded);
  return r == 0 ? 0 : ResultFromImagingError(r);
}

}  // namespace veltora::imaging
