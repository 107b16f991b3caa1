// TIFF through libtiff, over memory (TIFFClientOpenExt). libtiff reports
// errors by return value; its messages go to a per-file handler that only
// counts them, so nothing is printed and no process-wide handler changes.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/codecs.h"

namespace veltora::imaging::codecs {
namespace {

struct MemoryStream {
  const uint8_t* data = nullptr;         // reading
  std::vector<uint8_t>* sink = nullptr;  // writing
  uint64_t size = 0;
  uint64_t pos = 0;
  int errors = 0;
};

MemoryStream* StreamOf(thandle_t handle) { return static_cast<MemoryStream*>(handle); }

tmsize_t StreamRead(thandle_t handle, void* buffer, tmsize_t n) {
  MemoryStream* s = StreamOf(handle);
  if (n < 0 || s->data == nullptr || s->pos > s->size) return -1;
  const uint64_t got = std::min<uint64_t>(static_cast<uint64_t>(n), s->size - s->pos);
  std::memcpy(buffer, s->data + s->pos, got);
  s->pos += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t StreamWrite(thandle_t handle, void* buffer, tmsize_t n) {
  MemoryStream* s = StreamOf(handle);
  if (n < 0 || s->sink == nullptr) return -1;
  const uint64_t end = s->pos + static_cast<uint64_t>(n);
  try {
    if (end > s->sink->size()) s->sink->resize(end);
  } catch (...) {
    return -1;
  }
  std::memcpy(s->sink->data() + s->pos, buffer, static_cast<size_t>(n));
  s->pos = end;
  s->size = std::max<uint64_t>(s->size, end);
  return n;
}

toff_t StreamSeek(thandle_t handle, toff_t offset, int whence) {
  MemoryStream* s = StreamOf(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = s->pos;
  if (whence == SEEK_END) base = s->size;
  if (offset > (uint64_t{1} << 40) || base > (uint64_t{1} << 40)) return static_cast<toff_t>(-1);
  s->pos = base + offset;
  return s->pos;
}

int StreamClose(thandle_t) { return 0; }
toff_t StreamSize(thandle_t handle) { return StreamOf(handle)->size; }
int StreamMap(thandle_t handle, void** base, toff_t* size) {
  MemoryStream* s = StreamOf(handle);
  if (s->data == nullptr) return 0;
  *base = const_cast<uint8_t*>(s->data);  // opened read-only: libtiff only reads a map
  *size = s->size;
  return 1;
}
void StreamUnmap(thandle_t, void*, toff_t) {}

int CountMessage(TIFF*, void* user_data, const char*, const char*, va_list) {
  ++static_cast<MemoryStream*>(user_data)->errors;
  return 1;  // handled: nothing printed
}
int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

TiffFile Open(MemoryStream* stream, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, CountMessage, stream);
  TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, stream);
  // No single allocation beyond what the largest picture we accept needs.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxDecodedPixels * 4 + (1 << 20)));
  TIFF* tif = TIFFClientOpenExt("memory", mode, stream, StreamRead, StreamWrite, StreamSeek, StreamClose,
                                StreamSize, StreamMap, StreamUnmap, options);
  TIFFOpenOptionsFree(options);
  return TiffFile(tif);
}

const char* CompressionName(uint16_t scheme) {
  switch (scheme) {
    case COMPRESSION_NONE: return "RAW";
    case COMPRESSION_LZW: return "LZW";
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG: return "JPG";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return "ZIP";
    case COMPRESSION_PACKBITS: return "PKB";
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW: return "CCT";
    default: return "OTH";
  }
}

// Opens the RGBA reader on the first directory; `img` must be ended by the
// caller when this returns 1.
int32_t Begin(TIFF* tif, TIFFRGBAImage* img) {
  char message[1024] = {0};
  if (!TIFFRGBAImageOK(tif, message)) return kErrorUnsupported;
  if (!TIFFRGBAImageBegin(img, tif, 0, message)) return kErrorCorrupt;
  if (const int32_t r = CheckDecodedSize(img->width, img->height); r != 1) {
    TIFFRGBAImageEnd(img);
    return r;
  }
  // Rows as stored: ask for the orientation the file has, so none is applied.
  img->req_orientation = img->orientation;
  return 1;
}

}  // namespace

bool IsTiff(Bytes bytes) {
  return bytes.size() >= 4 && ((bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
                               (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42) ||
                               (bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 43 && bytes[3] == 0) ||
                               (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 43));
}

int32_t QueryTiff(Bytes bytes, FileInformation* info) {
  MemoryStream stream{bytes.data(), nullptr, bytes.size()};
  TiffFile tif = Open(&stream, "r");
  if (!tif) return kErrorCorrupt;
  TIFFRGBAImage img;
  if (const int32_t r = Begin(tif.get(), &img); r != 1) return r;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
  info->format = kSaveTiff;
  info->width = static_cast<int32_t>(img.width);
  info->height = static_cast<int32_t>(img.height);
  info->bits_per_pixel = img.alpha != 0 ? 32 : 24;
  const int64_t stored_bits = int64_t{img.samplesperpixel} * img.bitspersample;
  info->decoded_size = (int64_t{info->width} * stored_bits + 7) / 8 * info->height;
  std::memcpy(info->compression, CompressionName(compression), 4);
  info->view_perspective = kViewTopLeft;
  TIFFRGBAImageEnd(&img);
  return 1;
}

int32_t DecodeTiff(Bytes bytes, Bitmap* out) {
  MemoryStream stream{bytes.data(), nullptr, bytes.size()};
  TiffFile tif = Open(&stream, "r");
  if (!tif) return kErrorCorrupt;
  TIFFRGBAImage img;
  if (const int32_t r = Begin(tif.get(), &img); r != 1) return r;
  const bool alpha = img.alpha != 0;
  const int32_t w = static_cast<int32_t>(img.width), h = static_cast<int32_t>(img.height);
  std::vector<uint32_t> raster;
  int32_t result = 1;
  try {
    raster.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    result = CreateBitmap(out, w, h, alpha ? 32 : 24);
  } catch (const std::bad_alloc&) {
    result = kErrorNoMemory;
  }
  if (result == 1 && !TIFFRGBAImageGet(&img, raster.data(), img.width, img.height)) result = kErrorCorrupt;
  TIFFRGBAImageEnd(&img);
  if (result != 1) {
    FreeBitmap(out);
    return result;
  }
  if (alpha) out->flags |= kBitmapHasAlpha;
  const size_t bpp = alpha ? 4 : 3;
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* s = &raster[static_cast<size_t>(y) * static_cast<size_t>(w)];
    uint8_t* d = out->Row(y);
    for (int32_t x = 0; x < w; ++x, d += bpp) {
      const uint32_t p = s[x];
      uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p);
      if (alpha) {
        // libtiff delivers premultiplied colour; we hold straight alpha.
        const uint32_t a = TIFFGetA(p);
        if (a != 0 && a != 255) {
          r = std::min(255u, (r * 255 + a / 2) / a);
          g = std::min(255u, (g * 255 + a / 2) / a);
          b = std::min(255u, (b * 255 + a / 2) / a);
        }
        d[3] = static_cast<uint8_t>(a);
      }
      d[0] = static_cast<uint8_t>(b);
      d[1] = static_cast<uint8_t>(g);
      d[2] = static_cast<uint8_t>(r);
    }
  }
  return 1;
}

int32_t EncodeTiff(const Bitmap& bitmap, std::vector<uint8_t>* out) {
  if (bitmap.bits_per_pixel != 24) return kErrorUnsupported;
  MemoryStream stream{nullptr, out, 0};
  out->clear();
  TiffFile tif = Open(&stream, "w");
  if (!tif) return kErrorEncode;
  TIFF* t = tif.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(bitmap.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(bitmap.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  // Baseline TIFF requires a resolution; a picture that carries none is
  // written at 72 dpi, the value readers assume anyway.
  if (bitmap.x_pixels_per_metre > 0 && bitmap.y_pixels_per_metre > 0) {
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, bitmap.x_pixels_per_metre / 100.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, bitmap.y_pixels_per_metre / 100.0);
  } else {
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0);
  }
  std::vector<uint8_t> row(static_cast<size_t>(bitmap.width) * 3);
  for (int32_t y = 0; y < bitmap.height; ++y) {
    const uint8_t* s = bitmap.Row(y);
    for (size_t i = 0; i < row.size(); i += 3) {
      row[i] = s[i + 2];
      row[i + 1] = s[i + 1];
      row[i + 2] = s[i];
    }
    if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) != 1) return kErrorEncode;
  }
  if (TIFFFlush(t) != 1) return kErrorEncode;
  tif.reset();
  return stream.errors == 0 ? 1 : kErrorEncode;
}

}  // namespace veltora::imaging::codecs
