#include "imaging/picture_io.h"

#include <cstring>
#include <new>

#include "bytes/byte_view.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_segments.h"
#include "frame/format_detection.h"
#include "frame/veltora.h"
#include "imaging/dib_memory.h"
#include "imaging/dib_picture.h"
#include "imaging/packed_dib.h"
#include "imaging/picture_files.h"
#include "imaging/save_jpeg.h"
#include "platform/file.h"
#include "platform/side_by_side.h"

namespace veltora::imaging {
namespace {

// A BMP file of this size or less holds its headers and nothing else.
constexpr int64_t kBmpHeadersOnly = 54;
// Pictures are loaded with B, G, R colour order.
constexpr int32_t kLoadOrder = kOrderBgr;

// A TIFF is accepted when it is larger on disk than its decoded samples or
// LZW compressed; the rule needs only the header, so it is applied before
// the pixels are decoded.
int32_t LoadAcceptedTiff(const char* path, Bitmap* bitmap, int32_t bits, int32_t memory_kind) {
  std::vector<uint8_t> bytes;
  if (const int32_t r = ReadPictureFile(path, &bytes); r != 1) return r;
  FileInformation info;
  if (const int32_t r = QueryMemory(bytes, &info); r != 1) return r;
  if (info.file_size <= info.decoded_size && std::memcmp(info.compression, "LZW", 4) != 0) return 0;
  return LoadMemory(bytes, bitmap, bits, kLoadOrder, memory_kind);
}

int32_t LoadAccepted(const char* path, Bitmap* bitmap, int32_t bits, int32_t memory_kind) {
  FileInformation info;
  switch (DetectImageFormat(path)) {
    case ImageFormat::kBmp: {
      const int32_t r = LoadFile(path, bitmap, bits, kLoadOrder, &info, memory_kind);
      if (r != 1) return r;
      if (info.file_size > kBmpHeadersOnly) return 1;
      FreeBitmap(bitmap);
      return 0;
    }
    case ImageFormat::kJpeg:
      if (CheckJpegFile(path) == 0) return 0;
      return LoadFile(path, bitmap, bits, kLoadOrder, nullptr, memory_kind);
    case ImageFormat::kPng: {
      if (const int32_t r = QueryFile(path, &info); r != 1) return r;
      if (const int32_t r = LoadFile(path, bitmap, info.bits_per_pixel, kLoadOrder, nullptr, memory_kind); r != 1) {
        return r;
      }
      const int32_t r = ChangeBitDepth(bitmap, *bitmap, bits);
      if (r != 1) FreeBitmap(bitmap);
      return r;
    }
    case ImageFormat::kTiff:
      return LoadAcceptedTiff(path, bitmap, bits, memory_kind);
    default:
      return LoadFile(path, bitmap, bits, kLoadOrder, nullptr, memory_kind);
  }
}

}  // namespace

int32_t LoadPictureFile(const char* path, Bitmap* bitmap, int32_t bits, int32_t memory_kind) {
  if (bitmap == nullptr) return kErrorInvalidArgument;
  try {
    return LoadAccepted(path, bitmap, bits, memory_kind);
  } catch (...) {
    FreeBitmap(bitmap);
    return 0;
  }
}

int32_t LoadEmbeddedPreview(const char* path, Bitmap* bitmap, int32_t /*bits*/) {
  if (bitmap == nullptr) return kErrorInvalidArgument;
  FreeBitmap(bitmap);
  if (path == nullptr || *path == '\0') return 0;
  try {
    // Heap memory, not pages: the reader lives for this call only.
    exif::ExifReader reader(path, /*load_data=*/1, /*use_page_allocator=*/0);
    std::vector<uint8_t> thumbnail;
    if (reader.GetThumbnail(&thumbnail) == 0 || thumbnail.empty()) return 0;
    if (reader.IsExifTiff() == 0) {
      if (reader.IsExifJpeg() == 0) return 0;
      if (CheckJpegStream(thumbnail.data(), thumbnail.size()) != 1) return 0;
    }
    return LoadMemory(thumbnail, bitmap, 24, kLoadOrder);
  } catch (...) {
    FreeBitmap(bitmap);
    return 0;
  }
}

int32_t CheckJpegFile(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  platform::File file;
  if (platform::File::Open(path, platform::File::Access::kRead, &file) != 0) return 0;
  uint64_t size = 0;
  if (file.Size(&size) != 0 || size < 2) return 0;
  uint8_t head[2] = {0, 0};
  size_t got = 0;
  if (file.ReadAt(0, head, 2, &got) != 0 || got != 2) return 0;
  if (head[0] != 0xFF || head[1] != 0xD8) return 1;
  std::vector<uint8_t> bytes;
  if (file.ReadAll(&bytes, kMaxFileBytes) != 0) return 0;
  return CheckJpegStream(bytes.data(), bytes.size());
}

namespace {

// Walks the entropy-coded data of a scan from `p` to FF D9 or the end of the
// data. False when a marker other than a restart, a further scan, a table or
// a fill byte interrupts it.
bool ScanDataIsClean(const uint8_t* buffer, size_t length, size_t p) {
  const bytes::ByteView view(buffer, length, bytes::kBigEndian);
  // Every step moves p forward by at least 1, so the walk ends.
  while (p + 1 < length) {
    if (buffer[p] != 0xFF) {
      ++p;
      continue;
    }
    const uint8_t next = buffer[p + 1];
    if (next == 0xD9) break;
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xDA || next == 0xFF) {
      ++p;
    } else if (next == 0xC4 || next == 0xDB) {
      const std::optional<uint16_t> table_length = view.U16(p + 2);
      p = table_length ? p + size_t{2} + *table_length : p + 1;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int32_t CheckJpegStream(const uint8_t* buffer, size_t length) {
  if (buffer == nullptr || length < 2) return 0;
  const std::span<const uint8_t> bytes(buffer, length);
  exif::JpegSegmentWalker walk(0, exif::SoiRule::kStandalone);
  bool started = false;
  while (const auto segment = walk.Next(bytes)) {
    if (segment->marker == exif::kJpegSoi) {
      started = true;
      continue;
    }
    if (segment->marker == exif::kJpegEoi) break;
    if (segment->marker == exif::kJpegSos) {
      // The scan data is checked from behind the marker to FF D9 or the end of the data.
      const auto scan = static_cast<size_t>(segment->position) + 2;
      return started && ScanDataIsClean(buffer, length, scan) ? 1 : 0;
    }
    // The stream must open with SOI, and no header may be cut off.
    if (segment->cut || !started) return 0;
  }
  return started ? 1 : 0;
}

int64_t PackedDibSize(const BITMAPINFOHEADER* header) {
  if (header == nullptr) return -1;
  const int64_t bits = header->biBitCount;
  const int64_t stride = ((int64_t{header->biWidth} * bits + 31) / 32) * 4;
  int64_t rows = 0;
  // Saturates instead of wrapping: a header asking for more than 2^63 bytes
  // is as unusable as one asking for exactly that.
  if (__builtin_mul_overflow(stride, int64_t{header->biHeight}, &rows)) {
    return (stride < 0) != (header->biHeight < 0) ? INT64_MIN / 2 : INT64_MAX / 2;
  }
  int64_t size = 40 + rows;
  if (bits > 0 && bits < 16) size += 4 * (int64_t{1} << bits);
  if (header->biCompression == BI_BITFIELDS) size += 12;
  return size;
}

namespace {

// Beyond the largest DIB a picture within the pixel cap can need, the
// header is nonsense; the decoder would refuse it anyway.
constexpr int64_t kLargestDib = 40 + 1024 + 12 + kMaxDecodedPixels * 4 + int64_t{kMaxSide} * 4;

// PackedDibSize of the locked DIB's header (top-down DIBs sized by the
// magnitude of biHeight), or -1 when the block or the size is unusable.
int64_t UsableDibSize(const uint8_t* bytes, size_t held) {
  if (bytes == nullptr || held < sizeof(BITMAPINFOHEADER)) return -1;
  BITMAPINFOHEADER sized;
  std::memcpy(&sized, bytes, sizeof sized);
  if (sized.biHeight < 0) sized.biHeight = sized.biHeight == INT32_MIN ? INT32_MAX : -sized.biHeight;
  const int64_t n = PackedDibSize(&sized);
  return n < 40 || n > kLargestDib ? -1 : n;
}

// The header (and bit-field masks) as the library's copy would hold them:
// zero beyond what the block holds.
bool HeaderDecodes(const uint8_t* bytes, size_t held) {
  uint8_t head[kDibHeaderSize + 12] = {};
  std::memcpy(head, bytes, std::min(held, sizeof head));
  return DecodePackedDib(head, DibRules::kHost, std::nullopt, nullptr, nullptr) == 1;
}

class ScopedLock {
 public:
  explicit ScopedLock(HGLOBAL handle) : handle_(handle), bytes_(static_cast<const uint8_t*>(GlobalLock(handle))) {}
  ~ScopedLock() {
    if (bytes_ != nullptr) GlobalUnlock(handle_);
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  const uint8_t* bytes() const { return bytes_; }
  size_t size() const { return bytes_ == nullptr ? 0 : GlobalSize(handle_); }

 private:
  HGLOBAL handle_;
  const uint8_t* bytes_;
};

}  // namespace

int32_t CheckDibConvertible(HGLOBAL dib) {
  if (dib == nullptr) return E_INVALIDARG;
  ScopedLock lock(dib);
  if (lock.bytes() == nullptr) return E_FAIL;
  return UsableDibSize(lock.bytes(), lock.size()) > 0 && HeaderDecodes(lock.bytes(), lock.size()) ? S_OK : E_FAIL;
}

int32_t BitmapFromDib(HGLOBAL dib, Bitmap* bitmap) {
  if (dib == nullptr || bitmap == nullptr) return E_INVALIDARG;
  bitmap->width = 0;
  bitmap->height = 0;
  ScopedLock lock(dib);
  if (lock.bytes() == nullptr) return E_FAIL;
  const size_t held = lock.size();
  const int64_t n = UsableDibSize(lock.bytes(), held);
  if (n < 0) return E_FAIL;
  // Zero-filled as a whole only where the host's block is shorter than its
  // header says; the rest is overwritten at once.
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, static_cast<size_t>(n));
  auto* target = static_cast<uint8_t*>(copy != nullptr ? GlobalLock(copy) : nullptr);
  if (target == nullptr) {
    GlobalFree(copy);
    return E_FAIL;
  }
  const size_t copied = std::min(static_cast<size_t>(n), held);
  std::memcpy(target, lock.bytes(), copied);
  std::memset(target + copied, 0, static_cast<size_t>(n) - copied);
  GlobalUnlock(copy);
  return AttachDib(bitmap, copy) == 1 ? S_OK : E_FAIL;
}

HGLOBAL DibFromBitmap(const Bitmap* bitmap) { return bitmap == nullptr ? nullptr : MakeDib(*bitmap); }

int32_t CheckBitmapLoaded(const Bitmap* bitmap) {
  if (bitmap == nullptr) return E_INVALIDARG;
  return bitmap->HoldsImage() ? S_OK : E_FAIL;
}

std::vector<uint8_t> LoadDibCopy(const char* path, int32_t mode) {
  if (path == nullptr || *path == '\0' || (mode != kLoadPicture && mode != kLoadPreview)) return {};
  Bitmap bitmap;
  const int32_t loaded =
      mode == kLoadPicture ? LoadPictureFile(path, &bitmap, 24) : LoadEmbeddedPreview(path, &bitmap, 24);
  if (loaded != 1) return {};
  HGLOBAL dib = DibFromBitmap(&bitmap);
  FreeBitmap(&bitmap);
  if (dib == nullptr) return {};
  std::vector<uint8_t> copy;
  if (const auto* bytes = static_cast<const uint8_t*>(GlobalLock(dib)); bytes != nullptr) {
    try {
      copy.assign(bytes, bytes + GlobalSize(dib));
    } catch (const std::bad_alloc&) {
      copy.clear();
    }
    GlobalUnlock(dib);
  }
  GlobalFree(dib);
  return copy;
}

int32_t EncodeMainImage(uint32_t flags, HGLOBAL dib, int32_t quality, std::vector<uint8_t>* out) {
  if (out == nullptr) return E_INVALIDARG;
  if ((flags & kWriteJpegFlags) != 0) return EncodeJpegDib(dib, quality, kJpegModeExif, out);
  if ((flags & kWriteTiff) == 0) return E_FAIL;
  Bitmap bitmap;
  if (BitmapFromDib(dib, &bitmap) != S_OK) return E_FAIL;
  if (CheckBitmapLoaded(&bitmap) != S_OK) return E_FAIL;
  const int32_t r = EncodeFile(bitmap, kSaveTiff, 24, out);
  FreeBitmap(&bitmap);
  return r > 0 ? S_OK : ResultFromImagingError(r);
}

int32_t EncodeMainAndThumbnail(uint32_t flags, HGLOBAL dib, int32_t quality,
                               std::vector<uint8_t>* main, std::vector<uint8_t>* thumbnail) {
  int32_t main_result = S_OK, thumbnail_result = S_OK;
  platform::RunSideBySide(
      [&] { main_result = EncodeMainImage(flags, dib, quality, main); },
      [&] { thumbnail_result = EncodeThumbnail(flags, dib, quality, thumbnail); },
      WorthTwoThreads(dib));
  return main_result < 0 ? main_result : thumbnail_result;
}

bool WorthTwoThreads(HGLOBAL dib) {
  constexpr size_t kLargeDibBytes = size_t{256} << 10;
  return dib != nullptr && GlobalSize(dib) >= kLargeDibBytes;
}

ThumbnailFit FitThumbnail(int32_t width, int32_t height) {
  ThumbnailFit fit{};
  if (3 * int64_t{width} < 4 * int64_t{height}) {
    fit.height = kThumbnailHeight;
    fit.width = static_cast<int32_t>(int64_t{width} * kThumbnailHeight / height);
  } else {
    fit.width = kThumbnailWidth;
    fit.height = static_cast<int32_t>(int64_t{height} * kThumbnailWidth / width);
  }
  if (fit.width == 0) fit.width = 1;
  if (fit.height == 0) fit.height = 1;
  fit.left = (kThumbnailWidth - fit.width) / 2;
  fit.top = (kThumbnailHeight - fit.height) / 2;
  return fit;
}

int32_t EncodeThumbnail(uint32_t flags, HGLOBAL dib, int32_t quality, std::vector<uint8_t>* out) {
  const bool jpeg = (flags & kWriteJpegFlags) != 0;
  if (out == nullptr || dib == nullptr || (!jpeg && (flags & kWriteTiff) == 0)) return E_INVALIDARG;
  // Large host pictures are resampled where they lie (the same pixels the
  // library's copy would hold); others go through BitmapFromDib.
  const DibPicture picture(dib);
  if (picture.status() != S_OK) return picture.status();
  const Bitmap& source = picture.shape();
  const ThumbnailFit fit = FitThumbnail(source.width, source.height);
  int32_t hr = S_OK;

  Bitmap scaled;
  auto prepare = [&source](Bitmap* b, int32_t w, int32_t h) {
    if (SetUpBitmap(b, w, h, source.bits_per_pixel) != 1 || AllocateBitmap(b, 1) != 1) return false;
    b->palette = CopyPalette(source.palette);
    CopyDerivedFields(b, source);
    return true;
  };
  if (!prepare(&scaled, fit.width, fit.height)) return ResultFromImagingError(kErrorNoMemory);
  const int32_t resampled = picture.ResampleInto(&scaled);
  if (resampled <= 0) hr = ResultFromImagingError(resampled);

  Bitmap canvas;
  if (fit.width == kThumbnailWidth && fit.height == kThumbnailHeight) {
    canvas = std::move(scaled);
  } else {
    if (!prepare(&canvas, kThumbnailWidth, kThumbnailHeight)) return ResultFromImagingError(kErrorNoMemory);
    const int32_t r = PasteBitmap(&canvas, fit.left, fit.top, fit.width, fit.height, scaled, 0, 0, kPasteCopy);
    if (r <= 0) hr = ResultFromImagingError(r);
    FreeBitmap(&scaled);
  }
  if (hr >= 0) {
    if (jpeg) {
      HGLOBAL thumbnail = DibFromBitmap(&canvas);
      hr = thumbnail != nullptr ? EncodeJpegDib(thumbnail, quality, kJpegModeExif, out)
                                : ResultFromImagingError(kErrorNoMemory);
      GlobalFree(thumbnail);
    } else {
      const int32_t r = EncodeFile(canvas, kSaveTiff, 24, out);
      hr = r > 0 ? S_OK : ResultFromImagingError(r);
    }
  }
  return hr;
}

}  // namespace veltora::imaging
