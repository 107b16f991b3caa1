// JPEG decoding through TurboJPEG. TurboJPEG catches libjpeg's errors itself
// (its own setjmp scope), so no longjmp crosses our frames here.
#include <turbojpeg.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "bytes/byte_view.h"
#include "exif/jpeg_segments.h"
#include "imaging/codecs.h"

namespace veltora::imaging::codecs {
namespace {

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct JpegHeader {
  int width = 0, height = 0, subsampling = 0, colour_space = 0;
};

// What the marker segments in front of the first scan say beyond the frame.
struct JpegLayout {
  uint64_t scan_data = 0;  // bytes from the first scan's data to the end of the file
  bool arithmetic = false;
  int32_t x_pixels_per_metre = 0, y_pixels_per_metre = 0;
};

bool IsArithmeticFrame(uint16_t marker) {
  return marker == 0xFFC9 || marker == 0xFFCA || marker == 0xFFCB || marker == 0xFFCD || marker == 0xFFCE ||
         marker == 0xFFCF;
}

// The JFIF density, in units of dots per inch (1) or per centimetre (2);
// unit 0 gives only the pixels' aspect, which says nothing of their size.
void ReadJfifDensity(const bytes::ByteView& file, const exif::JpegSegment& app0, JpegLayout* layout) {
  static constexpr uint8_t kJfif[5] = {'J', 'F', 'I', 'F', 0};
  const std::optional<bytes::ByteView> body = file.Sub(app0.position + 4, 12);
  if (!body || std::memcmp(body->data(), kJfif, 5) != 0) return;
  bytes::ByteCursor fields(*body, 7);
  const uint8_t units = fields.U8();
  const double x = fields.U16(), y = fields.U16();
  if (!fields.ok() || x == 0 || y == 0) return;
  const double per_metre = units == 1 ? 1 / 0.0254 : units == 2 ? 100.0 : 0.0;
  layout->x_pixels_per_metre = static_cast<int32_t>(std::lround(x * per_metre));
  layout->y_pixels_per_metre = static_cast<int32_t>(std::lround(y * per_metre));
}

JpegLayout ReadLayout(Bytes bytes) {
  JpegLayout layout;
  const bytes::ByteView file(bytes, bytes::kBigEndian);
  exif::JpegSegmentWalker walk(0, exif::SoiRule::kStandalone);
  while (const auto segment = walk.Next(bytes)) {
    if (segment->marker == exif::kJpegApp0 && layout.x_pixels_per_metre == 0) {
      ReadJfifDensity(file, *segment, &layout);
    }
    if (IsArithmeticFrame(segment->marker)) layout.arithmetic = true;
    if (segment->marker == exif::kJpegSos) {
      const uint64_t data = segment->position + 2 + segment->length;
      layout.scan_data = data < bytes.size() ? bytes.size() - data : 0;
    }
  }
  return layout;
}

// Every 8 x 8 block of the first component costs at least one bit of
// Huffman-coded data (its DC code, in a sequential scan as in a progressive
// file's first scan). A file holding fewer bits than that was cut short or
// lies about its size: it is refused before its pixels are allocated. A file
// cut later still decodes, its missing part grey. Arithmetic coding can
// spend less than a bit on a block and is not bounded.
bool DataCanFill(const JpegHeader& header, const JpegLayout& layout) {
  if (layout.arithmetic) return true;
  const uint64_t blocks = (static_cast<uint64_t>(header.width) + 7) / 8 * ((static_cast<uint64_t>(header.height) + 7) / 8);
  return layout.scan_data >= (blocks + 7) / 8;
}

int32_t ReadHeader(tjhandle handle, Bytes bytes, JpegHeader* header) {
  if (tjDecompressHeader3(handle, bytes.data(), static_cast<unsigned long>(bytes.size()), &header->width,
                          &header->height, &header->subsampling, &header->colour_space) != 0) {
    return kErrorCorrupt;
  }
  return CheckDecodedSize(header->width, header->height);
}

int StoredComponents(int colour_space) {
  if (colour_space == TJCS_GRAY) return 1;
  if (colour_space == TJCS_CMYK || colour_space == TJCS_YCCK) return 4;
  return 3;
}

// Adobe writes inverted CMYK, the only kind seen in practice.
void CmykToBgr(const uint8_t* cmyk, size_t pitch, Bitmap* out) {
  for (int32_t y = 0; y < out->height; ++y) {
    const uint8_t* s = cmyk + static_cast<size_t>(y) * pitch;
    uint8_t* d = out->Row(y);
    for (int32_t x = 0; x < out->width; ++x, s += 4, d += 3) {
      const unsigned k = s[3];
      d[0] = static_cast<uint8_t>((s[2] * k + 127) / 255);
      d[1] = static_cast<uint8_t>((s[1] * k + 127) / 255);
      d[2] = static_cast<uint8_t>((s[0] * k + 127) / 255);
    }
  }
}

}  // namespace

bool IsJpeg(Bytes bytes) { return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF; }

int32_t QueryJpeg(Bytes bytes, FileInformation* info) {
  TjHandle handle(tjInitDecompress());
  if (!handle) return kErrorNoMemory;
  JpegHeader header;
  if (const int32_t r = ReadHeader(handle.get(), bytes, &header); r != 1) return r;
  info->format = kFormatJpeg;
  info->width = header.width;
  info->height = header.height;
  info->bits_per_pixel = header.colour_space == TJCS_GRAY ? 8 : 24;
  const int components = StoredComponents(header.colour_space);
  info->decoded_size = int64_t{header.width} * components * header.height;
  std::memcpy(info->compression, "JPG", 4);
  info->view_perspective = kViewTopLeft;
  return 1;
}

// Greyscale decodes at 8 bits with a grey ramp, or straight to 24 bits when
// asked (the same colours); colour at 24 bits, written straight into the
// bitmap's rows in their own order. CMYK goes through a buffer of its own.
int32_t DecodeJpeg(Bytes bytes, const DecodeRequest& request, Bitmap* out) {
  TjHandle handle(tjInitDecompress());
  if (!handle) return kErrorNoMemory;
  JpegHeader header;
  if (const int32_t r = ReadHeader(handle.get(), bytes, &header); r != 1) return r;
  const JpegLayout layout = ReadLayout(bytes);
  if (!DataCanFill(header, layout)) return kErrorCorrupt;
  const bool grey = header.colour_space == TJCS_GRAY && request.bits != 24;
  const bool cmyk = header.colour_space == TJCS_CMYK || header.colour_space == TJCS_YCCK;
  if (const int32_t r = CreateBitmap(out, header.width, header.height, grey ? 8 : 24, request.memory_kind); r != 1) {
    return r;
  }
  if (grey) out->palette = GreyPalette(8);
  out->x_pixels_per_metre = layout.x_pixels_per_metre;
  out->y_pixels_per_metre = layout.y_pixels_per_metre;
  // Progressive files with an absurd number of scans are refused rather
  // than decoded for minutes; a truncated file still decodes (a warning).
  int flags = TJFLAG_LIMITSCANS;
  std::vector<uint8_t> cmyk_pixels;
  uint8_t* target = out->pixels.data();
  int pitch = static_cast<int>(out->stride);
  int pixel_format = grey ? TJPF_GRAY : TJPF_BGR;
  if (cmyk) {
    cmyk_pixels.resize(static_cast<size_t>(header.width) * 4 * static_cast<size_t>(header.height));
    target = cmyk_pixels.data();
    pitch = header.width * 4;
    pixel_format = TJPF_CMYK;
  } else if (out->pixels.bottom_up()) {
    flags |= TJFLAG_BOTTOMUP;
  }
  if (tjDecompress2(handle.get(), bytes.data(), static_cast<unsigned long>(bytes.size()), target, header.width,
                    pitch, header.height, pixel_format, flags) != 0 &&
      tjGetErrorCode(handle.get()) != TJERR_WARNING) {
    FreeBitmap(out);
    return kErrorCorrupt;
  }
  if (cmyk) CmykToBgr(cmyk_pixels.data(), static_cast<size_t>(pitch), out);
  return 1;
}

}  // namespace veltora::imaging::codecs
