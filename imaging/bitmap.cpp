#include "imaging/bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "imaging/packed_dib.h"
#include "imaging/quantize.h"

namespace veltora::imaging {
namespace {

uint32_t PackColour(uint8_t blue, uint8_t green, uint8_t red) {
  return red | (uint32_t{green} << 8) | (uint32_t{blue} << 16);
}

uint8_t IndexAt(const uint8_t* row, int32_t x, int32_t bits) {
  const size_t ux = static_cast<size_t>(x);
  switch (bits) {
    case 1: return static_cast<uint8_t>((row[ux >> 3] >> (7 - (ux & 7))) & 1);
    case 4: return static_cast<uint8_t>((ux & 1) ? row[ux >> 1] & 0x0F : row[ux >> 1] >> 4);
    default: return row[ux];
  }
}

void SetIndexAt(uint8_t* row, int32_t x, int32_t bits, uint8_t index) {
  const size_t ux = static_cast<size_t>(x);
  switch (bits) {
    case 1: {
      const uint8_t mask = static_cast<uint8_t>(0x80 >> (ux & 7));
      row[ux >> 3] = static_cast<uint8_t>((index & 1) ? row[ux >> 3] | mask : row[ux >> 3] & ~mask);
      break;
    }
    case 4:
      row[ux >> 1] = (ux & 1) ? static_cast<uint8_t>((row[ux >> 1] & 0xF0) | (index & 0x0F))
                              : static_cast<uint8_t>((row[ux >> 1] & 0x0F) | (index << 4));
      break;
    default: row[ux] = index;
  }
}

// The colour of a pixel, ignoring alpha.
uint32_t ColourAt(const Bitmap& bitmap, const uint8_t* row, int32_t x) {
  if (IsIndexedDepth(bitmap.bits_per_pixel)) {
    const uint8_t index = IndexAt(row, x, bitmap.bits_per_pixel);
    if (index >= bitmap.palette.size()) return 0;
    const RgbQuad& q = bitmap.palette[index];
    return PackColour(q.blue, q.green, q.red);
  }
  const uint8_t* p = row + static_cast<size_t>(x) * static_cast<size_t>(bitmap.bits_per_pixel / 8);
  return PackColour(p[0], p[1], p[2]);
}

void StoreColour(Bitmap* bitmap, uint8_t* row, int32_t x, uint32_t colour, PaletteMapper* mapper) {
  const uint8_t red = static_cast<uint8_t>(colour), green = static_cast<uint8_t>(colour >> 8),
                blue = static_cast<uint8_t>(colour >> 16);
  if (IsIndexedDepth(bitmap->bits_per_pixel)) {
    // Indexed targets always come with a mapper; the test keeps -O3 from
    // doubting it.
    if (mapper != nullptr) SetIndexAt(row, x, bitmap->bits_per_pixel, mapper->Map(blue, green, red));
    return;
  }
  uint8_t* p = row + static_cast<size_t>(x) * static_cast<size_t>(bitmap->bits_per_pixel / 8);
  p[0] = blue;
  p[1] = green;
  p[2] = red;
  if (bitmap->bits_per_pixel == 32) p[3] = 0xFF;
}

// Flattens a 32-bit picture with alpha over white into 24 bits.
void FlattenOverWhite(const Bitmap& source, Bitmap* out) {
  for (int32_t y = 0; y < source.height; ++y) {
    const uint8_t* s = source.Row(y);
    uint8_t* d = out->Row(y);
    for (int32_t x = 0; x < source.width; ++x, s += 4, d += 3) {
      const unsigned a = s[3];
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((s[c] * a + 255u * (255u - a) + 127u) / 255u);
    }
  }
}

}  // namespace

PixelRows::PixelRows(const PixelRows& other) { *this = other; }

PixelRows& PixelRows::operator=(const PixelRows& other) {
  if (this == &other) return *this;
  Release();
  if (other.empty()) return *this;
  if (!Allocate(kMemoryHeap, other.stride_, other.rows_, 0)) throw std::bad_alloc();
  for (size_t y = 0; y < rows_; ++y) {
    std::memcpy(Row(static_cast<int32_t>(y)), other.Row(static_cast<int32_t>(y)), stride_);
  }
  return *this;
}

PixelRows& PixelRows::operator=(PixelRows&& other) noexcept {
  if (this == &other) return *this;
  Release();
  heap_ = std::move(other.heap_);
  dib_ = std::exchange(other.dib_, nullptr);
  base_ = std::exchange(other.base_, nullptr);
  stride_ = std::exchange(other.stride_, 0);
  rows_ = std::exchange(other.rows_, 0);
  return *this;
}

bool PixelRows::Allocate(int32_t memory_kind, size_t stride, size_t rows, size_t front) {
  Release();
  if (stride != 0 && rows > SIZE_MAX / stride) return false;
  const size_t bytes = stride * rows;
  if (memory_kind == kMemoryDib) {
    if (bytes > SIZE_MAX - front) return false;
    dib_ = GlobalAlloc(GHND, front + bytes);
    auto* block = static_cast<uint8_t*>(GlobalLock(dib_));
    if (block == nullptr) {
      GlobalFree(std::exchange(dib_, nullptr));
      return false;
    }
    base_ = block + front;
  } else {
    // calloc: large blocks come zeroed from the system, untouched until written.
    heap_.reset(static_cast<uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1)));
    if (!heap_) return false;
    base_ = heap_.get();
  }
  stride_ = stride;
  rows_ = rows;
  return true;
}

void PixelRows::Release() {
  heap_.reset();
  if (dib_ != nullptr) {
    GlobalUnlock(dib_);
    GlobalFree(dib_);
  }
  dib_ = nullptr;
  base_ = nullptr;
  stride_ = rows_ = 0;
}

HGLOBAL PixelRows::TakeDib() {
  if (dib_ == nullptr) return nullptr;
  GlobalUnlock(dib_);
  HGLOBAL block = std::exchange(dib_, nullptr);
  base_ = nullptr;
  stride_ = rows_ = 0;
  return block;
}

bool operator==(const PixelRows& a, const PixelRows& b) {
  if (a.stride_ != b.stride_ || a.rows_ != b.rows_) return false;
  for (size_t y = 0; y < a.rows_; ++y) {
    if (std::memcmp(a.Row(static_cast<int32_t>(y)), b.Row(static_cast<int32_t>(y)), a.stride_) != 0) return false;
  }
  return true;
}

size_t RowStride(int32_t width, int32_t bits) {
  if (width < 1 || width > kMaxSide || !IsSupportedDepth(bits)) return 0;
  return ((static_cast<size_t>(width) * static_cast<size_t>(bits) + 31) / 32) * 4;
}

int32_t CheckSize(int64_t width, int64_t height) {
  if (width < 1 || height < 1) return kErrorInvalidArgument;
  if (width > kMaxSide || height > kMaxSide || width * height > kMaxDecodedPixels) {
    return kErrorTooLarge;
  }
  return 1;
}

Palette GreyPalette(int32_t bits) {
  const int n = 1 << bits;
  Palette palette(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const uint8_t v = static_cast<uint8_t>(i * 255 / (n - 1));
    palette[static_cast<size_t>(i)] = RgbQuad{v, v, v, 0};
  }
  return palette;
}

int32_t SetUpBitmap(Bitmap* bitmap, int32_t width, int32_t height, int32_t bits) {
  if (bitmap == nullptr || !IsSupportedDepth(bits)) return kErrorInvalidArgument;
  if (const int32_t r = CheckSize(width, height); r != 1) return r;
  bitmap->pixels.Release();
  bitmap->flags = 0;
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bits_per_pixel = bits;
  bitmap->stride = RowStride(width, bits);
  bitmap->palette.assign(IsIndexedDepth(bits) ? size_t{1} << bits : 0, RgbQuad{});
  return 1;
}

int32_t AllocateBitmap(Bitmap* bitmap, int32_t memory_kind) {
  if (bitmap == nullptr || bitmap->stride == 0 || bitmap->height < 1) return kErrorInvalidArgument;
  if (!bitmap->pixels.Allocate(memory_kind, bitmap->stride, static_cast<size_t>(bitmap->height),
                               PackedDibFrontBytes(bitmap->bits_per_pixel))) {
    return kErrorNoMemory;
  }
  bitmap->flags |= kBitmapHoldsImage;
  return 1;
}

int32_t CreateBitmap(Bitmap* bitmap, int32_t width, int32_t height, int32_t bits, int32_t memory_kind) {
  const int32_t r = SetUpBitmap(bitmap, width, height, bits);
  return r == 1 ? AllocateBitmap(bitmap, memory_kind) : r;
}

void FreeBitmap(Bitmap* bitmap) {
  if (bitmap != nullptr) *bitmap = Bitmap{};
}

Palette CopyPalette(const Palette& palette) { return palette; }

void CopyDerivedFields(Bitmap* target, const Bitmap& source) {
  target->view_perspective = source.view_perspective;
  target->x_pixels_per_metre = source.x_pixels_per_metre;
  target->y_pixels_per_metre = source.y_pixels_per_metre;
  target->order = source.order;
}

uint8_t NearestPaletteIndex(const Palette& palette, uint32_t colour) {
  const int red = static_cast<int>(colour & 0xFF), green = static_cast<int>((colour >> 8) & 0xFF),
            blue = static_cast<int>((colour >> 16) & 0xFF);
  int best = 0, best_distance = 1 << 30;
  for (size_t i = 0; i < palette.size() && i < 256; ++i) {
    const int dr = palette[i].red - red, dg = palette[i].green - green, db = palette[i].blue - blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best_distance = distance;
      best = static_cast<int>(i);
    }
  }
  return static_cast<uint8_t>(best);
}

int32_t FillBitmap(Bitmap* bitmap, uint32_t colour) {
  if (bitmap == nullptr) return kErrorInvalidArgument;
  if (!bitmap->HoldsImage()) return kErrorNoImage;
  PaletteMapper mapper(bitmap->palette);
  for (int32_t x = 0; x < bitmap->width; ++x) StoreColour(bitmap, bitmap->Row(0), x, colour, &mapper);
  for (int32_t y = 1; y < bitmap->height; ++y) std::memcpy(bitmap->Row(y), bitmap->Row(0), bitmap->stride);
  return 1;
}

int32_t GetPixelColour(const Bitmap& bitmap, int32_t x, int32_t y) {
  if (!bitmap.HoldsImage()) return kErrorNoImage;
  if (x < 0 || y < 0 || x >= bitmap.width || y >= bitmap.height) return kErrorInvalidArgument;
  return static_cast<int32_t>(ColourAt(bitmap, bitmap.Row(y), x));
}

int32_t SetPixelColour(Bitmap* bitmap, int32_t x, int32_t y, uint32_t colour) {
  if (bitmap == nullptr) return kErrorInvalidArgument;
  if (!bitmap->HoldsImage()) return kErrorNoImage;
  if (x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) return kErrorInvalidArgument;
  if (IsIndexedDepth(bitmap->bits_per_pixel)) {
    SetIndexAt(bitmap->Row(y), x, bitmap->bits_per_pixel, NearestPaletteIndex(bitmap->palette, colour));
  } else {
    StoreColour(bitmap, bitmap->Row(y), x, colour & 0x00FFFFFF, nullptr);
  }
  return 1;
}

int32_t TrimBitmap(Bitmap* bitmap, int32_t left, int32_t top, int32_t width, int32_t height) {
  if (bitmap == nullptr) return kErrorInvalidArgument;
  if (!bitmap->HoldsImage()) return kErrorNoImage;
  const int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{left} + width, bitmap->width);
  const int64_t y1 = std::min<int64_t>(int64_t{top} + height, bitmap->height);
  if (width < 1 || height < 1 || x1 <= x0 || y1 <= y0) return kErrorInvalidArgument;
  Bitmap out;
  if (const int32_t r = CreateBitmap(&out, static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0),
                                     bitmap->bits_per_pixel);
      r != 1) {
    return r;
  }
  out.palette = bitmap->palette;
  CopyDerivedFields(&out, *bitmap);
  out.flags = bitmap->flags;
  const int32_t bits = bitmap->bits_per_pixel;
  for (int32_t y = 0; y < out.height; ++y) {
    const uint8_t* s = bitmap->Row(static_cast<int32_t>(y0) + y);
    uint8_t* d = out.Row(y);
    if (bits >= 8) {
      const size_t bpp = static_cast<size_t>(bits / 8);
      std::memcpy(d, s + static_cast<size_t>(x0) * bpp, static_cast<size_t>(out.width) * bpp);
    } else {
      for (int32_t x = 0; x < out.width; ++x) SetIndexAt(d, x, bits, IndexAt(s, static_cast<int32_t>(x0) + x, bits));
    }
  }
  *bitmap = std::move(out);
  return 1;
}

int32_t PasteBitmap(Bitmap* target, int32_t x, int32_t y, int32_t width, int32_t height,
                    const Bitmap& source, int32_t source_x, int32_t source_y, int32_t mode) {
  if (target == nullptr || target == &source || mode != kPasteCopy) return kErrorInvalidArgument;
  if (!target->HoldsImage() || !source.HoldsImage()) return kErrorNoImage;
  // Clip in 64 bits so that no coordinate sum can wrap.
  int64_t sx = source_x, sy = source_y, dx = x, dy = y, w = width, h = height;
  if (sx < 0) { dx -= sx; w += sx; sx = 0; }
  if (sy < 0) { dy -= sy; h += sy; sy = 0; }
  if (dx < 0) { sx -= dx; w += dx; dx = 0; }
  if (dy < 0) { sy -= dy; h += dy; dy = 0; }
  w = std::min({w, int64_t{source.width} - sx, int64_t{target->width} - dx});
  h = std::min({h, int64_t{source.height} - sy, int64_t{target->height} - dy});
  if (w <= 0 || h <= 0) return 1;
  const bool same_layout = source.bits_per_pixel == target->bits_per_pixel && source.bits_per_pixel >= 24;
  PaletteMapper mapper(target->palette);
  for (int64_t row = 0; row < h; ++row) {
    const uint8_t* s = source.Row(static_cast<int32_t>(sy + row));
    uint8_t* d = target->Row(static_cast<int32_t>(dy + row));
    if (same_layout) {
      const size_t bpp = static_cast<size_t>(source.bits_per_pixel / 8);
      std::memcpy(d + static_cast<size_t>(dx) * bpp, s + static_cast<size_t>(sx) * bpp, static_cast<size_t>(w) * bpp);
      continue;
    }
    for (int64_t col = 0; col < w; ++col) {
      StoreColour(target, d, static_cast<int32_t>(dx + col), ColourAt(source, s, static_cast<int32_t>(sx + col)), &mapper);
    }
  }
  return 1;
}

int32_t ChangeBitDepth(Bitmap* target, const Bitmap& source, int32_t bits) {
  if (target == nullptr || !IsSupportedDepth(bits)) return kErrorInvalidArgument;
  if (!source.HoldsImage()) return kErrorNoImage;
  if (target == &source && bits == source.bits_per_pixel) return 1;
  try {
    // A 24-bit intermediate when alpha must be flattened or a palette built.
    Bitmap flat;
    const Bitmap* from = &source;
    const bool has_alpha = source.bits_per_pixel == 32 && (source.flags & kBitmapHasAlpha) != 0;
    if (has_alpha && bits != 32) {
      if (const int32_t r = CreateBitmap(&flat, source.width, source.height, 24); r != 1) return r;
      FlattenOverWhite(source, &flat);
      from = &flat;
    }
    Bitmap out;
    const int32_t kind = source.pixels.bottom_up() ? kMemoryDib : kMemoryHeap;
    if (const int32_t r = CreateBitmap(&out, source.width, source.height, bits, kind); r != 1) return r;
    CopyDerivedFields(&out, source);
    if (bits == source.bits_per_pixel) {
      out.pixels = source.pixels;
      out.palette = source.palette;
      out.flags = source.flags;
    } else if (IsIndexedDepth(bits)) {
      Bitmap rgb;  // palettes are built from direct colours
      if (IsIndexedDepth(from->bits_per_pixel)) {
        if (const int32_t r = ChangeBitDepth(&rgb, *from, 24); r != 1) return r;
        from = &rgb;
      }
      out.palette = BuildPalette(*from, 1 << bits);
      PaletteMapper mapper(out.palette);
      const size_t bpp = static_cast<size_t>(from->bits_per_pixel / 8);
      for (int32_t y = 0; y < out.height; ++y) {
        const uint8_t* s = from->Row(y);
        uint8_t* d = out.Row(y);
        for (int32_t x = 0; x < out.width; ++x, s += bpp) SetIndexAt(d, x, bits, mapper.Map(s[0], s[1], s[2]));
      }
    } else {
      for (int32_t y = 0; y < out.height; ++y) {
        const uint8_t* s = from->Row(y);
        uint8_t* d = out.Row(y);
        for (int32_t x = 0; x < out.width; ++x) StoreColour(&out, d, x, ColourAt(*from, s, x), nullptr);
      }
      if (bits == 32 && has_alpha) out.flags |= kBitmapHasAlpha;
    }
    *target = std::move(out);
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
  return 1;
}

}  // namespace veltora::imaging
