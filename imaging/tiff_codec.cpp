// TIFF through libtiff, over memory (TIFFClientOpenExt). libtiff reports
// errors by return value; its messages go to a per-file handler that only
// counts them, so nothing is printed and no process-wide handler changes.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
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
  std::memcpy(buffer, s->data + s->pos, static_cast<size_t>(got));  // at most n
  s->pos += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t StreamWrite(thandle_t handle, void* buffer, tmsize_t n) {
  MemoryStream* s = StreamOf(handle);
  if (n < 0 || s->sink == nullptr) return -1;
  const uint64_t end = s->pos + static_cast<uint64_t>(n);
  // A seek may have gone past what memory can hold.
  if (end > s->sink->max_size()) return -1;
  try {
    if (end > s->sink->size()) s->sink->resize(static_cast<size_t>(end));
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

// The most bytes one stored byte can decode to, by compression scheme: LZW
// codes are at least 9 bits and stand for at most 4096 bytes; deflate
// expands at most 1032-fold; PackBits at most 64-fold (2 bytes, 128 out).
// 0: no bound is known (fax, JPEG and the newer schemes).
uint64_t MaxExpansionPer9Bytes(uint16_t scheme) {
  switch (scheme) {
    case COMPRESSION_NONE: return 9;
    case COMPRESSION_PACKBITS: return 9 * 64;
    case COMPRESSION_LZW: return 8 * 4096;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 9 * 1032;
    default: return 0;
  }
}

// The strips' (or tiles') bytes that lie inside the file must be able to
// decode to the samples the directory declares; strips past the end of the
// file hold nothing. A picture that cannot be filled was cut short or lies:
// refused before its rows are allocated. Without a known bound the file
// must at least hold some of its data.
bool DataCanFill(TIFF* tif, uint64_t file_size, uint64_t least_bytes) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const uint64_t expansion = MaxExpansionPer9Bytes(compression);
  const uint64_t needed = expansion == 0 ? 1 : least_bytes / expansion * 9;
  const uint32_t striles = TIFFNumberOfStrips(tif);
  // More strips than the pixel cap allows pixels is no picture.
  if (striles > kMaxDecodedPixels) return false;
  uint64_t held = 0;
  for (uint32_t i = 0; i < striles && held < needed; ++i) {
    const uint64_t offset = TIFFGetStrileOffset(tif, i), count = TIFFGetStrileByteCount(tif, i);
    if (offset < file_size) held += std::min(count, file_size - offset);
  }
  return held >= needed;
}

// Resolution in pixels per metre, from an inch or centimetre unit; the unit
// "none" gives only the aspect.
void ReadResolution(TIFF* tif, Bitmap* out) {
  float x = 0, y = 0;
  uint16_t unit = RESUNIT_INCH;
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) != 1 || TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) != 1) return;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  const double per_metre = unit == RESUNIT_INCH ? 1 / 0.0254 : unit == RESUNIT_CENTIMETER ? 100.0 : 0.0;
  const double xm = x * per_metre, ym = y * per_metre;
  if (!(xm >= 1 && ym >= 1 && xm < INT32_MAX && ym < INT32_MAX)) return;
  out->x_pixels_per_metre = static_cast<int32_t>(std::lround(xm));
  out->y_pixels_per_metre = static_cast<int32_t>(std::lround(ym));
}

// libtiff delivers premultiplied colour; we hold straight alpha, or flatten
// the straight colour over white (as ChangeBitDepth would) when 24 bits are
// asked for.
void StoreRasterRow(const uint32_t* s, int32_t width, bool alpha, bool flatten, uint8_t* d) {
  for (int32_t x = 0; x < width; ++x) {
    const uint32_t p = s[x];
    uint32_t c[3] = {TIFFGetB(p), TIFFGetG(p), TIFFGetR(p)};
    if (alpha) {
      const uint32_t a = TIFFGetA(p);
      for (uint32_t& v : c) {
        if (a != 0 && a != 255) v = std::min(255u, (v * 255 + a / 2) / a);
        if (flatten) v = (v * a + 255u * (255u - a) + 127u) / 255u;
      }
      if (!flatten) d[3] = static_cast<uint8_t>(a);
    }
    d[0] = static_cast<uint8_t>(c[0]);
    d[1] = static_cast<uint8_t>(c[1]);
    d[2] = static_cast<uint8_t>(c[2]);
    d += alpha && !flatten ? 4 : 3;
  }
}

// libtiff's RGBA reader fills a band of whole strips (or tile rows) of about
// kBandBytes at a time, so the only copy beside the bitmap is one band.
int32_t ReadRasterInBands(TIFF* tif, TIFFRGBAImage* img, bool flatten, Bitmap* out) {
  constexpr uint64_t kBandBytes = uint64_t{4} << 20;
  uint32_t unit = 0;
  if (TIFFIsTiled(tif) != 0) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
  }
  const uint64_t row_bytes = uint64_t{img->width} * 4;
  const uint64_t unit_rows = std::clamp<uint64_t>(unit, 1, img->height);
  const uint64_t band = std::min<uint64_t>(img->height, unit_rows * std::max<uint64_t>(1, kBandBytes / (unit_rows * row_bytes)));
  std::vector<uint32_t> raster(static_cast<size_t>(band * img->width));
  const bool alpha = img->alpha != 0;
  for (uint32_t top = 0; top < img->height; top += static_cast<uint32_t>(band)) {
    const uint32_t rows = static_cast<uint32_t>(std::min<uint64_t>(band, img->height - top));
    img->row_offset = static_cast<int>(top);
    if (!TIFFRGBAImageGet(img, raster.data(), img->width, rows)) return kErrorCorrupt;
    for (uint32_t y = 0; y < rows; ++y) {
      StoreRasterRow(&raster[static_cast<size_t>(y) * img->width], out->width, alpha, flatten,
                     out->Row(static_cast<int32_t>(top + y)));
    }
  }
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

int32_t DecodeTiff(Bytes bytes, const DecodeRequest& request, Bitmap* out) {
  MemoryStream stream{bytes.data(), nullptr, bytes.size()};
  TiffFile tif = Open(&stream, "r");
  if (!tif) return kErrorCorrupt;
  TIFFRGBAImage img;
  if (const int32_t r = Begin(tif.get(), &img); r != 1) return r;
  const int64_t stored_bits = int64_t{img.samplesperpixel} * img.bitspersample;
  const uint64_t least_bytes = static_cast<uint64_t>((int64_t{img.width} * stored_bits + 7) / 8) * img.height;
  const bool alpha = img.alpha != 0;
  const bool flatten = alpha && request.bits == 24;
  int32_t result = DataCanFill(tif.get(), bytes.size(), least_bytes) ? 1 : kErrorCorrupt;
  if (result == 1) {
    result = CreateBitmap(out, static_cast<int32_t>(img.width), static_cast<int32_t>(img.height),
                          alpha && !flatten ? 32 : 24, request.memory_kind);
  }
  if (result == 1) {
    ReadResolution(tif.get(), out);
    if (alpha && !flatten) out->flags |= kBitmapHasAlpha;
    result = ReadRasterInBands(tif.get(), &img, flatten, out);
  }
  TIFFRGBAImageEnd(&img);
  if (result != 1) FreeBitmap(out);
  return result;
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
