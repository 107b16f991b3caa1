// Pictures the replacement tests hand to the plug-in, and how closely what
// a written file decodes to resembles them.
#ifndef VELTORA_TESTS_EDIT_PICTURE_CHECKS_H_
#define VELTORA_TESTS_EDIT_PICTURE_CHECKS_H_

#include <filesystem>

#include "frame/veltora.h"
#include "imaging/bitmap.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_io.h"
#include "tests/imaging/imaging_test_support.h"

namespace veltora::testing {

using imaging::Bitmap;

// Gradients that scale with the picture, so that any size of it is the same
// picture (a 640 x 480 one fits the thumbnail canvas exactly).
inline Bitmap Gradient(int32_t width, int32_t height) {
  Bitmap b;
  imaging::CreateBitmap(&b, width, height, 24);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = b.Row(y) + 3 * x;
      p[0] = static_cast<uint8_t>(255 * x / (width - 1));
      p[1] = static_cast<uint8_t>(255 * y / (height - 1));
      p[2] = static_cast<uint8_t>(64 + 127 * (x + y) / (width + height));
    }
  }
  return b;
}

// How close the file's picture (or preview) is to Gradient of its size;
// 0 when it does not decode.
inline double Likeness(const std::filesystem::path& file, int32_t mode, int32_t width, int32_t height) {
  HGLOBAL dib = Decode(file.string().c_str(), mode);
  Bitmap decoded;
  const bool ok = dib != nullptr && imaging::BitmapFromDib(dib, &decoded) == S_OK;
  GlobalFree(dib);
  if (!ok || decoded.width != width || decoded.height != height) return 0;
  return imaging::testing::Psnr(decoded, Gradient(width, height));
}

// A host DIB of the bitmap, freed on destruction.
struct Dib {
  explicit Dib(const Bitmap& b) : handle(imaging::MakeDib(b)) {}
  ~Dib() { GlobalFree(handle); }
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;
  HGLOBAL handle;
};

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_EDIT_PICTURE_CHECKS_H_
