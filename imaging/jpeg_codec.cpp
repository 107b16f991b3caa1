// JPEG decoding through TurboJPEG. TurboJPEG catches libjpeg's errors itself
// (its own setjmp scope), so no longjmp crosses our frames here.
#include <turbojpeg.h>

#include <cstring>
#include <memory>
#include <new>

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

int32_t DecodeJpeg(Bytes bytes, Bitmap* out) {
  TjHandle handle(tjInitDecompress());
  if (!handle) return kErrorNoMemory;
  JpegHeader header;
  if (const int32_t r = ReadHeader(handle.get(), bytes, &header); r != 1) return r;
  const bool grey = header.colour_space == TJCS_GRAY;
  const bool cmyk = header.colour_space == TJCS_CMYK || header.colour_space == TJCS_YCCK;
  if (const int32_t r = CreateBitmap(out, header.width, header.height, grey ? 8 : 24); r != 1) return r;
  if (grey) out->palette = GreyPalette(8);
  // Progressive files with an absurd number of scans are refused rather
  // than decoded for minutes; a truncated file still decodes (a warning).
  const int flags = TJFLAG_LIMITSCANS;
  std::vector<uint8_t> cmyk_pixels;
  uint8_t* target = out->pixels.data();
  int pitch = static_cast<int>(out->stride);
  int pixel_format = grey ? TJPF_GRAY : TJPF_BGR;
  if (cmyk) {
    cmyk_pixels.resize(static_cast<size_t>(header.width) * 4 * static_cast<size_t>(header.height));
    target = cmyk_pixels.data();
    pitch = header.width * 4;
    pixel_format = TJPF_CMYK;
  }
  if (tjDecompress2(handle.get(), bytes.data(), static_cast<unsigned long>(bytes.size()), target, header.width,
                    pitch, header.height, pixel_format, flags) != 0 &&
      tjGetErrorCode(handle.get()) != TJERR_WARNING) {
    FreeBitmap(out);
    return kErrorCorrupt;
  }
  if (cmyk) {
    // Adobe writes inverted CMYK, the only kind seen in practice.
    for (int32_t y = 0; y < header.height; ++y) {
      const uint8_t* s = &cmyk_pixels[static_cast<size_t>(y) * static_cast<size_t>(pitch)];
      uint8_t* d = out->Row(y);
      for (int32_t x = 0; x < header.width; ++x, s += 4, d += 3) {
        const unsigned k = s[3];
        d[0] = static_cast<uint8_t>((s[2] * k + 127) / 255);
        d[1] = static_cast<uint8_t>((s[1] * k + 127) / 255);
        d[2] = static_cast<uint8_t>((s[0] * k + 127) / 255);
      }
    }
  }
  return 1;
}

}  // namespace veltora::imaging::codecs
