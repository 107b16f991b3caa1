// The imaging library's bitmap record and its kernel operations: set up,
// allocate, create, free, copy, fill, pixels, trim, paste, depth changes.
//
// Conventions of the whole imaging library (imaging/*.h):
//  - Success is 1 unless an operation says otherwise; failures are the
//    negative kError* values below, which the exports report as
//    0x82000000 | -e (ResultFromImagingError).
//  - Rows are addressed from the top (Row(y)) and stored top-down, or
//    bottom-up inside a DIB block (kMemoryDib); padded to 4 bytes as in a
//    packed DIB, colour bytes in B, G, R order (the only colour order, code
//    kOrderBgr).
//  - Depths held: 1, 4 and 8 bits (palette indices), 24 bits (B, G, R) and
//    32 bits (B, G, R and a fourth byte that is alpha only when the bitmap's
//    kBitmapHasAlpha flag is set, otherwise unused).
//  - Colours passed in and out are 0x00BBGGRR.
#ifndef VELTORA_IMAGING_BITMAP_H_
#define VELTORA_IMAGING_BITMAP_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "interface/global_memory.h"

namespace veltora::imaging {

// ---- Library errors (always negative) ------------------------------------
constexpr int32_t kErrorNoMemory = -1;         // an allocation failed
constexpr int32_t kErrorInvalidArgument = -2;  // null record, bad size, mode or depth
constexpr int32_t kErrorNoImage = -3;          // the bitmap holds no image data
constexpr int32_t kErrorFileOpen = -4;         // the file cannot be opened or created
constexpr int32_t kErrorFileRead = -5;         // reading the file failed
constexpr int32_t kErrorFileWrite = -6;        // writing the file failed
constexpr int32_t kErrorUnknownFormat = -7;    // no decoder recognises the bytes
constexpr int32_t kErrorCorrupt = -8;          // the decoder rejected the data
constexpr int32_t kErrorUnsupported = -9;      // a valid file using a feature not handled
constexpr int32_t kErrorTooLarge = -10;        // beyond kMaxDecodedPixels or kMaxSide
constexpr int32_t kErrorEncode = -11;          // the encoder failed

// ---- Resource caps --------------------------------------------------------
// At 4 bytes per pixel 2^27 pixels stay at 512 MiB, so every packed DIB size,
// which hosts and PackedDibSize compute in signed 32 bits, is exact, and a
// hostile header cannot make us allocate more than that.
constexpr int64_t kMaxDecodedPixels = int64_t{1} << 27;
// The largest side any format we read can declare is 65535 (GIF, BMP rows
// in practice, JPEG 65500); larger sides only come from corrupt headers.
constexpr int32_t kMaxSide = 65535;

// ---- Record ----------------------------------------------------------------
constexpr uint32_t kBitmapHoldsImage = 0x1;  // pixels are allocated
constexpr uint32_t kBitmapHasAlpha = 0x2;    // 32-bit: the fourth byte is alpha

// The only colour order: B, G, R bytes, as in DIBs. Loads must ask for it.
constexpr int32_t kOrderBgr = 4;

// View perspective: how the stored rows relate to the upright picture.
// Codes 4, 5, 7 and 8 mean that width and height are exchanged against the
// upright picture; every other code keeps them. Our decoders never turn a
// picture (neither by EXIF Orientation nor by a TIFF Orientation tag): every
// format loads with its rows as stored, top row first, and reports
// kViewTopLeft. Derived bitmaps copy the code as it stands.
constexpr int32_t kViewTopLeft = 1;
constexpr bool ViewPerspectiveExchangesSides(int32_t view) {
  return view == 4 || view == 5 || view == 7 || view == 8;
}

struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
  friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};
using Palette = std::vector<RgbQuad>;

// Where a bitmap's rows live (the allocate operation's memory kind).
//  kMemoryHeap: top-down in memory of the bitmap's own.
//  kMemoryDib: bottom-up inside a movable global block laid out as a packed
//    DIB, with room for the header and colour table in front, so that a
//    picture decoded for a host is handed over without a copy (TakeDib in
//    dib_memory.h). A copy of such rows always lives on the heap.
constexpr int32_t kMemoryHeap = 1;
constexpr int32_t kMemoryDib = 2;

// The pixel rows of a bitmap, addressed by row from the top whatever order
// they are stored in. Zero-filled when allocated.
class PixelRows {
 public:
  PixelRows() = default;
  ~PixelRows() { Release(); }
  PixelRows(const PixelRows& other);
  PixelRows& operator=(const PixelRows& other);
  PixelRows(PixelRows&& other) noexcept { *this = std::move(other); }
  PixelRows& operator=(PixelRows&& other) noexcept;

  // `front` bytes are kept in front of the rows of a DIB block. False (and
  // nothing held) when memory is short.
  bool Allocate(int32_t memory_kind, size_t stride, size_t rows, size_t front);
  void Release();
  // The DIB block (unlocked) with the rows in place; the rows are empty
  // afterwards. Null for heap rows.
  HGLOBAL TakeDib();

  size_t size() const { return stride_ * rows_; }
  bool empty() const { return size() == 0; }
  bool bottom_up() const { return dib_ != nullptr; }
  // The lowest address: the top row, or the bottom row of bottom-up rows.
  uint8_t* data() { return base_; }
  const uint8_t* data() const { return base_; }
  uint8_t* begin() { return base_; }
  uint8_t* end() { return base_ + size(); }
  const uint8_t* begin() const { return base_; }
  const uint8_t* end() const { return base_ + size(); }
  uint8_t* Row(int32_t y) { return base_ + Offset(y); }
  const uint8_t* Row(int32_t y) const { return base_ + Offset(y); }
  // The same rows holding the same bytes, whatever their storage.
  friend bool operator==(const PixelRows& a, const PixelRows& b);

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  size_t Offset(int32_t y) const {
    const size_t row = static_cast<size_t>(y);
    return (bottom_up() ? rows_ - 1 - row : row) * stride_;
  }
  std::unique_ptr<uint8_t, FreeDeleter> heap_;
  HGLOBAL dib_ = nullptr;  // locked while held
  uint8_t* base_ = nullptr;
  size_t stride_ = 0;
  size_t rows_ = 0;
};

// Owned by the caller; FreeBitmap releases the pixels (the destructor does
// too, so no path leaks). A default record holds nothing.
struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits_per_pixel = 0;
  uint32_t flags = 0;
  int32_t view_perspective = kViewTopLeft;
  // The three fields copied as they stand into derived bitmaps.
  int32_t x_pixels_per_metre = 0;  // 0: unknown
  int32_t y_pixels_per_metre = 0;
  int32_t order = kOrderBgr;
  Palette palette;  // 2^bits entries for 1, 4 and 8 bits; empty otherwise
  size_t stride = 0;
  PixelRows pixels;

  bool HoldsImage() const { return (flags & kBitmapHoldsImage) != 0; }
  uint8_t* Row(int32_t y) { return pixels.Row(y); }
  const uint8_t* Row(int32_t y) const { return pixels.Row(y); }
};

constexpr bool IsSupportedDepth(int32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
}
constexpr bool IsIndexedDepth(int32_t bits) { return bits == 1 || bits == 4 || bits == 8; }
// Row size in bytes, padded to 4 as in DIBs; 0 when it would exceed the caps.
size_t RowStride(int32_t width, int32_t bits);
// Checks a size against kMaxSide and kMaxDecodedPixels: 1, kErrorInvalidArgument
// for a side under 1, kErrorTooLarge beyond the caps.
int32_t CheckSize(int64_t width, int64_t height);
// The same for sizes read from a file: a side under 1 is kErrorCorrupt.
inline int32_t CheckDecodedSize(int64_t width, int64_t height) {
  const int32_t r = CheckSize(width, height);
  return r == kErrorInvalidArgument ? kErrorCorrupt : r;
}
// A grey ramp of 2^bits entries (indexed depths only).
Palette GreyPalette(int32_t bits);

// ---- Operations ------------------------------------------------------------
// Set up: records the size and depth and drops any pixels; the palette is
// sized 2^bits (zeroed) for indexed depths. Does not allocate.
int32_t SetUpBitmap(Bitmap* bitmap, int32_t width, int32_t height, int32_t bits);
// Allocate: zero-filled pixels for the set-up size in `memory_kind`
// (kMemoryHeap or kMemoryDib; any other value is taken as the heap); sets
// kBitmapHoldsImage. Returns 1 or kErrorNoMemory.
int32_t AllocateBitmap(Bitmap* bitmap, int32_t memory_kind = kMemoryHeap);
// Create: set up and allocate in one step; returns 1.
int32_t CreateBitmap(Bitmap* bitmap, int32_t width, int32_t height, int32_t bits,
                     int32_t memory_kind = kMemoryHeap);
// Free: releases the pixels and palette and clears the record.
void FreeBitmap(Bitmap* bitmap);
// Copy palette: an independent copy.
Palette CopyPalette(const Palette& palette);
// Copies the view perspective and the three copied fields.
void CopyDerivedFields(Bitmap* target, const Bitmap& source);

// Fill: every pixel becomes `colour` (nearest palette entry when indexed).
int32_t FillBitmap(Bitmap* bitmap, uint32_t colour);
// Get pixel: the colour at (x, y) as 0x00BBGGRR, or a negative error for a
// point outside the bitmap or a bitmap without data.
int32_t GetPixelColour(const Bitmap& bitmap, int32_t x, int32_t y);
// Set pixel: writes `colour` (nearest palette entry when indexed).
int32_t SetPixelColour(Bitmap* bitmap, int32_t x, int32_t y, uint32_t colour);
// Nearest palette entry to `colour` (squared RGB distance; ties: lowest index).
uint8_t NearestPaletteIndex(const Palette& palette, uint32_t colour);

// Trim: keeps the part of the bitmap inside (left, top, width, height). The
// rectangle is clipped to the bitmap; an empty intersection is
// kErrorInvalidArgument and leaves the bitmap as it was.
int32_t TrimBitmap(Bitmap* bitmap, int32_t left, int32_t top, int32_t width, int32_t height);

// Paste: copies the source's area (source_x, source_y, width, height) into
// the target at (x, y), clipped to both bitmaps, converting colours to the
// target's depth (nearest palette entry for indexed targets). The only mode
// is kPasteCopy (plain copy). Returns 1; nothing to copy is still 1.
constexpr int32_t kPasteCopy = 0x100;
int32_t PasteBitmap(Bitmap* target, int32_t x, int32_t y, int32_t width, int32_t height,
                    const Bitmap& source, int32_t source_x = 0, int32_t source_y = 0,
                    int32_t mode = kPasteCopy);

// Change depth: `target` receives `source` at `bits` (1, 4, 8, 24 or 32).
// Target and source may be the same record (the depth changes in place; a
// bitmap already at `bits` is left as it is). The new rows are allocated in
// the memory kind of the source's.
//  - Reducing to an indexed depth: when the picture has at most 2^bits
//    distinct colours they become the palette exactly; otherwise a median-cut
//    palette of 2^bits colours is built and each pixel takes its nearest
//    entry (no dithering, so flat areas stay flat).
//  - A bitmap with alpha loses it over a white background (32 -> 24 or less);
//    without alpha the fourth byte is dropped.
//  - 24 -> 32 sets the fourth byte to 0xFF and no alpha flag.
int32_t ChangeBitDepth(Bitmap* target, const Bitmap& source, int32_t bits);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_BITMAP_H_
