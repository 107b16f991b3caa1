// Fuzzes picture decoding over bytes in memory: the JPEG stream check, the
// header query and the decoders of every format the library reads (found by
// the bytes), the straight decode into a DIB block against the converted
// native picture, then the round trip through a packed DIB in global memory.
// Aborts on any broken invariant; crashes and sanitizer reports are bugs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "imaging/bitmap.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_files.h"
#include "imaging/picture_io.h"

namespace {

using namespace veltora::imaging;

// Far below the library's own cap: a header may declare any size within
// kMaxDecodedPixels legitimately, but decoding 100 MPix per input would
// make the fuzzer measure memory bandwidth instead of finding bugs.
constexpr int64_t kFuzzPixelCap = int64_t{1} << 22;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int32_t well_formed = CheckJpegStream(data, size);
  Require(well_formed == 0 || well_formed == 1);

  const std::span<const uint8_t> bytes(data, size);
  FileInformation info;
  if (QueryMemory(bytes, &info) != 1) return 0;
  Require(info.width >= 1 && info.height >= 1 && info.width <= kMaxSide && info.height <= kMaxSide);
  if (int64_t{info.width} * info.height > kFuzzPixelCap) return 0;

  Bitmap bitmap;
  const int32_t loaded = LoadMemory(bytes, &bitmap, 0, kOrderBgr);
  Require(loaded == 1 || loaded < 0);
  if (loaded != 1) {
    Require(!bitmap.HoldsImage());
    return 0;
  }
  Require(bitmap.width == info.width && bitmap.height == info.height);
  Require(bitmap.pixels.size() == bitmap.stride * static_cast<size_t>(bitmap.height));

  // Straight into a DIB block at 24 bits: the same DIB as the native
  // picture converted and copied.
  Bitmap straight, converted = bitmap;
  Require(ChangeBitDepth(&converted, converted, 24) == 1);
  Require(LoadMemory(bytes, &straight, 24, kOrderBgr, kMemoryDib) == 1);
  HGLOBAL taken = TakeDib(&straight), copied = MakeDib(converted);
  Require(taken != nullptr && copied != nullptr && GlobalSize(taken) == GlobalSize(copied));
  Require(std::memcmp(GlobalLock(taken), GlobalLock(copied), GlobalSize(copied)) == 0);
  GlobalFree(taken);
  GlobalFree(copied);

  // Through a host DIB and back: the same picture.
  HGLOBAL dib = MakeDib(bitmap);
  Require(dib != nullptr);
  Bitmap back;
  Require(BitmapFromDib(dib, &back) == 0);
  GlobalFree(dib);
  Require(back.width == bitmap.width && back.height == bitmap.height);
  for (int32_t y = 0; y < bitmap.height; y += 1 + bitmap.height / 8) {
    for (int32_t x = 0; x < bitmap.width; x += 1 + bitmap.width / 8) {
      Require(GetPixelColour(back, x, y) == GetPixelColour(bitmap, x, y));
    }
  }
  return 0;
}
