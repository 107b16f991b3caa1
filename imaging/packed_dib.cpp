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

// The header fields a decode needs, with the offset of the colour table.
struct DibHeader {
  int64_t width = 0, height = 0;
  uint16_t bits = 0;
  uint32_t compression = kBiRgb, colours_used = 0;
  int32_t x_ppm = 0, y_ppm = 0;
  uint64_t entry_size = 4;  // a colour table entry: 3 bytes behind a core header
  uint32_t masks[3] = {0, 0, 0};
  uint64_t table_offset = 0;
  bool top_down = false;
  bool rle = false;
};

// Reads a 12-byte core header or a 40-byte or longer info header.
std::optional<DibHeader> ReadDibHeader(const bytes::ByteView& view, DibRules rules) {
  const std::optional<uint32_t> declared_size = view.U32(0);
  if (!declared_size) return std::nullopt;
  DibHeader h;
  const uint32_t header_size = rules == DibRules::kHost ? kDibHeaderSize : *declared_size;
  h.table_offset = header_size;
  if (header_size == 12) {
    bytes::ByteCursor core(view, 4);
    h.width = core.U16();
    h.height = core.U16();
    core.Skip(2);  // planes
    h.bits = core.U16();
    if (!core.ok()) return std::nullopt;
    h.entry_size = 3;
  } else if (header_size >= kDibHeaderSize) {
    bytes::ByteCursor fields(view, 4);
    h.width = static_cast<int32_t>(fields.U32());
    h.height = static_cast<int32_t>(fields.U32());
    fields.Skip(2);  // planes
    h.bits = fields.U16();
    h.compression = fields.U32();
    fields.Skip(4);  // image size
    h.x_ppm = static_cast<int32_t>(fields.U32());
    h.y_ppm = static_cast<int32_t>(fields.U32());
    h.colours_used = fields.U32();
    if (!fields.ok()) return std::nullopt;
    if (h.compression == kBiBitfields) {
      // Masks follow a 40-byte header; longer headers hold them at 40.
      bytes::ByteCursor mask_fields(view, kDibHeaderSize);
      for (uint32_t& mask : h.masks) mask = mask_fields.U32();
      if (!mask_fields.ok()) return std::nullopt;
      if (header_size == kDibHeaderSize) h.table_offset += 12;
    }
  } else {
    return std::nullopt;
  }
  h.top_down = h.height < 0;
  if (h.top_down) h.height = -h.height;
  h.rle = h.compression == kBiRle8 || h.compression == kBiRle4;
  if (h.bits == 16 && h.compression == kBiRgb) {
    h.masks[0] = 0x7C00;
    h.masks[1] = 0x03E0;
    h.masks[2] = 0x001F;
  }
  return h;
}

// 1 when the depth, the coding and the size are ones we decode, else the result code.
int32_t CheckDibHeader(const DibHeader& h) {
  const uint16_t bits = h.bits;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return kErrorUnsupported;
  // Run-length coded rows are stored bottom-up only, at their one depth.
  if (h.rle && (h.top_down || bits != (h.compression == kBiRle8 ? 8 : 4))) return kErrorCorrupt;
  if (h.compression != kBiRgb && !h.rle &&
      !(h.compression == kBiBitfields && (bits == 16 || bits == 32))) {
    return kErrorUnsupported;
  }
  if (const int32_t c = CheckSize(h.width, h.height); c != 1)
    return c == kErrorTooLarge ? c : kErrorCorrupt;
  return 1;
}

// Copies plain rows into `out`, unpacking 16-bit and masked 32-bit pixels to the
// 24 bits of `native`.
void CopyDibRows(const DibHeader& h, const uint8_t* rows, uint64_t stride, int32_t native,
                 Bitmap* out) {
  const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);
  const size_t row_bytes = static_cast<size_t>(std::min<uint64_t>(stride, out->stride));
  for (int64_t y = 0; y < h.height; ++y) {
    const uint8_t* s = rows + static_cast<uint64_t>(y) * stride;
    uint8_t* d = out->Row(static_cast<int32_t>(h.top_down ? y : h.height - 1 - y));
    if (native == h.bits) {
      std::memcpy(d, s, row_bytes);
      continue;
    }
    const size_t in_bpp = h.bits / 8u;
    for (int64_t x = 0; x < h.width; ++x, s += in_bpp, d += 3) {
      const uint32_t p = h.bits == 16 ? bytes::Read16(s, bytes::kLittleEndian)
                                      : bytes::Read32(s, bytes::kLittleEndian);
      d[0] = blue.Get(p);
      d[1] = green.Get(p);
      d[2] = red.Get(p);
    }
  }
}

}  // namespace

int32_t DecodePackedDib(std::span<const uint8_t> dib, DibRules rules,
                        std::optional<uint64_t> bits_offset, Bitmap* out, FileInformation* info,
                        int32_t memory_kind) {
  const bytes::ByteView view(dib, bytes::kLittleEndian);
  const std::optional<DibHeader> header = ReadDibHeader(view, rules);
  if (!header) return kErrorCorrupt;
  const DibHeader& h = *header;
  if (const int32_t c = CheckDibHeader(h); c != 1) return c;
  const int32_t native =
      h.bits == 16 || (h.bits == 32 && h.compression == kBiBitfields) ? 24 : h.bits;
  if (info != nullptr) {
    info->format = kSaveBmp;
    info->width = static_cast<int32_t>(h.width);
    info->height = static_cast<int32_t>(h.height);
    info->bits_per_pixel = native;
    info->decoded_size = (h.width * h.bits + 7) / 8 * h.height;
    std::memcpy(info->compression,
                h.compression == kBiBitfields ? "BTF"
                : h.rle                       ? "RLE"
                                              : "RAW",
                4);
    info->view_perspective = kViewTopLeft;
  }
  if (out == nullptr) return 1;

  uint64_t table_entries = h.bits <= 8
                               ? (h.colours_used != 0 ? h.colours_used : (uint64_t{1} << h.bits))
                               : uint64_t{h.colours_used};
  if (rules == DibRules::kHost) table_entries = h.bits < 16 ? uint64_t{1} << h.bits : 0;
  if (table_entries > (uint64_t{1} << 16)) return kErrorCorrupt;
  const uint64_t rows_at = bits_offset.value_or(h.table_offset + table_entries * h.entry_size);
  const uint64_t stride = ((static_cast<uint64_t>(h.width) * h.bits + 31) / 32) * 4;
  // Coded rows take what the data holds; plain rows must all be there.
  const std::optional<bytes::ByteView> rows =
      h.rle ? view.From(rows_at) : view.Sub(rows_at, stride * static_cast<uint64_t>(h.height));
  if (!rows) return kErrorCorrupt;

  if (const int32_t c = CreateBitmap(out, static_cast<int32_t>(h.width),
                                     static_cast<int32_t>(h.height), native, memory_kind);
      c != 1) {
    return c;
  }
  out->x_pixels_per_metre = h.x_ppm;
  out->y_pixels_per_metre = h.y_ppm;
  if (h.bits <= 8) {
    const uint64_t usable = std::min<uint64_t>(table_entries, uint64_t{1} << h.bits);
    // At most 256 entries at 8 bits a pixel.
    for (size_t i = 0; i < usable; ++i) {
      const std::optional<bytes::ByteView> entry =
          view.Sub(h.table_offset + i * h.entry_size, h.entry_size);
      if (!entry) break;  // a short table leaves black entries
      const uint8_t* q = entry->data();
      out->palette[i] = RgbQuad{q[0], q[1], q[2], 0};
    }
  }
  if (h.rle) {
    DecodeRleRows(*rows, out);
  } else {
    CopyDibRows(h, rows->data(), stride, native, out);
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
