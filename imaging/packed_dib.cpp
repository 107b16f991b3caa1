#include "imaging/packed_dib.h"

#include <bit>
#include <cstring>
#include <limits>

#include "bytes/byte_view.h"
#include "imaging/rle_rows.h"

namespace veltora::imaging {
namespace {

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit Channel(uint32_t m = 0) : mask(m) {
    if (m != 0) {
      shift = std::countr_zero(m);
      max = m >> shift;
    }
  }
  uint8_t Get(uint32_t pixel) const {
    if (max == 0) return 0;
    return static_cast<uint8_t>((uint64_t{(pixel & mask) >> shift} * 255 + max / 2) / max);
  }
};

}  // namespace

int32_t DecodePackedDib(std::span<const uint8_t> dib, DibRules rules, std::optional<uint64_t> bits_offset,
                        Bitmap* out, FileInformation* info, int32_t memory_kind) {
  const bytes::ByteView view(dib, bytes::kLittleEndian);
  const std::optional<uint32_t> declared_size = view.U32(0);
  if (!declared_size) return kErrorCorrupt;
  const uint32_t header_size = rules == DibRules::kHost ? kDibHeaderSize : *declared_size;
  int64_t width = 0, height = 0;
  uint16_t bits = 0;
  uint32_t compression = kBiRgb, colours_used = 0;
  int32_t x_ppm = 0, y_ppm = 0;
  uint64_t entry_size = 4;
  uint32_t masks[3] = {0, 0, 0};
  uint64_t table_offset = header_size;
  if (header_size == 12) {
    bytes::ByteCursor core(view, 4);
    width = core.U16();
    height = core.U16();
    core.Skip(2);  // planes
    bits = core.U16();
    if (!core.ok()) return kErrorCorrupt;
    entry_size = 3;
  } else if (header_size >= kDibHeaderSize) {
    bytes::ByteCursor fields(view, 4);
    width = static_cast<int32_t>(fields.U32());
    height = static_cast<int32_t>(fields.U32());
    fields.Skip(2);  // planes
    bits = fields.U16();
    compression = fields.U32();
    fields.Skip(4);  // image size
    x_ppm = static_cast<int32_t>(fields.U32());
    y_ppm = static_cast<int32_t>(fields.U32());
    colours_used = fields.U32();
    if (!fields.ok()) return kErrorCorrupt;
    if (compression == kBiBitfields) {
      // Masks follow a 40-byte header; longer headers hold them at 40.
      bytes::ByteCursor mask_fields(view, kDibHeaderSize);
      for (uint32_t& mask : masks) mask = mask_fields.U32();
      if (!mask_fields.ok()) return kErrorCorrupt;
      if (header_size == kDibHeaderSize) table_offset += 12;
    }
  } else {
    return kErrorCorrupt;
  }
  const bool top_down = height < 0;
  height = top_down ? -height : height;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return kErrorUnsupported;
  // Run-length coded rows are stored bottom-up only, at their one depth.
  const bool rle = compression == kBiRle8 || compression == kBiRle4;
  if (rle && (top_down || bits != (compression == kBiRle8 ? 8 : 4))) return kErrorCorrupt;
  if (compression != kBiRgb && !rle && !(compression == kBiBitfields && (bits == 16 || bits == 32))) {
    return kErrorUnsupported;
  }
  if (const int32_t c = CheckSize(width, height); c != 1) return c == kErrorTooLarge ? c : kErrorCorrupt;
  const int32_t native = bits == 16 || (bits == 32 && compression == kBiBitfields) ? 24 : bits;
  if (info != nullptr) {
    info->format = kSaveBmp;
    info->width = static_cast<int32_t>(width);
    info->height = static_cast<int32_t>(height);
    info->bits_per_pixel = native;
    info->decoded_size = (width * bits + 7) / 8 * height;
    std::memcpy(info->compression, compression == kBiBitfields ? "BTF" : rle ? "RLE" : "RAW", 4);
    info->view_perspective = kViewTopLeft;
  }
  if (out == nullptr) return 1;

  uint64_t table_entries =
      bits <= 8 ? (colours_used != 0 ? colours_used : (uint64_t{1} << bits)) : uint64_t{colours_used};
  if (rules == DibRules::kHost) table_entries = bits < 16 ? uint64_t{1} << bits : 0;
  if (table_entries > (uint64_t{1} << 16)) return kErrorCorrupt;
  const uint64_t rows_at = bits_offset.value_or(table_offset + table_entries * entry_size);
  const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
  // Coded rows take what the data holds; plain rows must all be there.
  const std::optional<bytes::ByteView> rows =
      rle ? view.From(rows_at) : view.Sub(rows_at, stride * static_cast<uint64_t>(height));
  if (!rows) return kErrorCorrupt;

  if (const int32_t c =
          CreateBitmap(out, static_cast<int32_t>(width), static_cast<int32_t>(height), native, memory_kind);
      c != 1) {
    return c;
  }
  out->x_pixels_per_metre = x_ppm;
  out->y_pixels_per_metre = y_ppm;
  if (bits <= 8) {
    const uint64_t usable = std::min<uint64_t>(table_entries, uint64_t{1} << bits);
    // At most 256 entries at 8 bits a pixel.
    for (size_t i = 0; i < usable; ++i) {
      const uint64_t at = table_offset + i * entry_size;
      const std::optional<bytes::ByteView> entry = view.Sub(at, entry_size);
      if (!entry) break;  // a short table leaves black entries
      const uint8_t* q = entry->data();
      out->palette[i] = RgbQuad{q[0], q[1], q[2], 0};
    }
  }
  if (bits == 16 && compression == kBiRgb) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
  if (rle) {
    DecodeRleRows(*rows, out);
    return 1;
  }
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
  const size_t row_bytes = static_cast<size_t>(std::min<uint64_t>(stride, out->stride));
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* s = rows->data() + static_cast<uint64_t>(y) * stride;
    uint8_t* d = out->Row(static_cast<int32_t>(top_down ? y : height - 1 - y));
    if (native == bits) {
      std::memcpy(d, s, row_bytes);
      continue;
    }
    const size_t in_bpp = bits / 8u;
    for (int64_t x = 0; x < width; ++x, s += in_bpp, d += 3) {
      const uint32_t p = bits == 16 ? bytes::Read16(s, bytes::kLittleEndian) : bytes::Read32(s, bytes::kLittleEndian);
      d[0] = blue.Get(p);
      d[1] = green.Get(p);
      d[2] = red.Get(p);
    }
  }
  return 1;
}

size_t PackedDibFrontBytes(int32_t bits) {
  return kDibHeaderSize + (IsIndexedDepth(bits) ? size_t{4} << bits : 0);
}

size_t PackedDibBytes(const Bitmap& bitmap) {
  return PackedDibFrontBytes(bitmap.bits_per_pixel) + bitmap.stride * static_cast<size_t>(bitmap.height);
}

void WritePackedDibFront(const Bitmap& bitmap, uint8_t* out) {
  auto put = [&out](uint32_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) *out++ = static_cast<uint8_t>(value >> (8 * i));
  };
  const size_t image_bytes = bitmap.stride * static_cast<size_t>(bitmap.height);
  put(kDibHeaderSize, 4);
  put(static_cast<uint32_t>(bitmap.width), 4);
  put(static_cast<uint32_t>(bitmap.height), 4);
  put(1, 2);
  put(static_cast<uint32_t>(bitmap.bits_per_pixel), 2);
  put(kBiRgb, 4);
  put(static_cast<uint32_t>(image_bytes), 4);
  put(static_cast<uint32_t>(bitmap.x_pixels_per_metre), 4);
  put(static_cast<uint32_t>(bitmap.y_pixels_per_metre), 4);
  put(0, 4);
  put(0, 4);
  if (IsIndexedDepth(bitmap.bits_per_pixel)) {
    for (size_t i = 0; i < (size_t{1} << bitmap.bits_per_pixel); ++i) {
      const RgbQuad q = i < bitmap.palette.size() ? bitmap.palette[i] : RgbQuad{};
      *out++ = q.blue;
      *out++ = q.green;
      *out++ = q.red;
      *out++ = 0;
    }
  }
}

void WritePackedDib(const Bitmap& bitmap, uint8_t* out) {
  WritePackedDibFront(bitmap, out);
  out += PackedDibFrontBytes(bitmap.bits_per_pixel);
  for (int32_t y = bitmap.height - 1; y >= 0; --y, out += bitmap.stride) {
    std::memcpy(out, bitmap.Row(y), bitmap.stride);
  }
}

std::vector<uint8_t> EncodePackedDib(const Bitmap& bitmap) {
  std::vector<uint8_t> out(PackedDibBytes(bitmap));
  WritePackedDib(bitmap, out.data());
  return out;
}

}  // namespace veltora::imaging
