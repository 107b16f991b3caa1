#include "imaging/dib_memory.h"

#include <cstring>
#include <new>
#include <span>

#include "imaging/packed_dib.h"
#include "imaging/save_jpeg.h"
#include "plugin/veltora.h"

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
  try {
    const std::vector<uint8_t> bytes = EncodePackedDib(bitmap);
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (handle == nullptr) return nullptr;
    LockedBlock block(handle);
    if (block.data() == nullptr) {
      GlobalFree(handle);
      return nullptr;
    }
    std::memcpy(block.data(), bytes.data(), bytes.size());
    return handle;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int32_t SaveJpeg(HGLOBAL dib, const char* path, int32_t quality, int32_t mode) {
  if (dib == nullptr || path == nullptr || *path == '\0') return ResultFromImagingError(kErrorInvalidArgument);
  try {
    Bitmap bitmap;
    if (const int32_t r = DecodeHostDib(dib, &bitmap); r != 1) return ResultFromImagingError(r);
    const int32_t r = SaveJpegBitmap(bitmap, path, quality, mode);
    return r == 0 ? 0 : ResultFromImagingError(r);
  } catch (const std::bad_alloc&) {
    return ResultFromImagingError(kErrorNoMemory);
  }
}

}  // namespace veltora::imaging
