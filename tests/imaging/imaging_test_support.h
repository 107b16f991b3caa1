// Helpers shared by the imaging tests: synthetic pictures and comparisons.
#ifndef VELTORA_TESTS_IMAGING_IMAGING_TEST_SUPPORT_H_
#define VELTORA_TESTS_IMAGING_IMAGING_TEST_SUPPORT_H_

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "imaging/bitmap.h"
#include "interface/global_memory.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::imaging::testing {

// A smooth colour picture with some detail: gradients plus a soft ring.
inline Bitmap MakePhoto(int32_t width, int32_t height) {
  Bitmap b;
  CreateBitmap(&b, width, height, 24);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = b.Row(y) + 3 * x;
      const double r = std::hypot(x - width / 2.0, y - height / 2.0);
      p[0] = static_cast<uint8_t>(255 * x / std::max(1, width - 1));
      p[1] = static_cast<uint8_t>(255 * y / std::max(1, height - 1));
      p[2] = static_cast<uint8_t>(127.5 + 127.5 * std::sin(r / 6.0));
    }
  }
  return b;
}

// A bitmap of one colour (0x00BBGGRR).
inline Bitmap Solid(int32_t width, int32_t height, uint32_t colour, int32_t bits = 24) {
  Bitmap b;
  CreateBitmap(&b, width, height, bits);
  FillBitmap(&b, colour);
  return b;
}

// Every pixel a different colour derived from its position (exact tests).
inline Bitmap MakeNoise(int32_t width, int32_t height, int32_t bits, uint32_t seed = 1) {
  Bitmap b;
  CreateBitmap(&b, width, height, bits);
  if (IsIndexedDepth(bits)) {
    for (size_t i = 0; i < b.palette.size(); ++i) {
      b.palette[i] = RgbQuad{static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i * 91 + 5),
                             static_cast<uint8_t>(255 - i), 0};
    }
  }
  uint32_t state = seed;
  for (uint8_t& byte : b.pixels) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  // Padding bytes are not part of the picture: keep them zero so that byte
  // comparisons of whole buffers are meaningful.
  const size_t used = (static_cast<size_t>(width) * static_cast<size_t>(bits) + 7) / 8;
  for (int32_t y = 0; y < height; ++y) {
    std::fill(b.Row(y) + used, b.Row(y) + b.stride, 0);
    if (bits < 8 && (width * bits) % 8 != 0) {
      const int keep = (width * bits) % 8;
      b.Row(y)[used - 1] &= static_cast<uint8_t>(0xFF << (8 - keep));
    }
  }
  return b;
}

// Calls `visit` with the colours (0x00BBGGRR, through GetPixelColour, so
// depth independent) of each pixel of `a` and of the same pixel of `b`.
template <typename Visit>
void ForEachPixelPair(const Bitmap& a, const Bitmap& b, Visit visit) {
  for (int32_t y = 0; y < a.height; ++y) {
    for (int32_t x = 0; x < a.width; ++x) visit(GetPixelColour(a, x, y), GetPixelColour(b, x, y));
  }
}

// Colour-by-colour comparison.
inline bool SameColours(const Bitmap& a, const Bitmap& b) {
  bool same = a.width == b.width && a.height == b.height;
  if (same) ForEachPixelPair(a, b, [&](int32_t p, int32_t q) { same = same && p == q; });
  return same;
}

// The largest channel difference of two 0x00BBGGRR colours.
inline int ColourDifference(int32_t p, int32_t q) {
  int worst = 0;
  for (int s = 0; s < 24; s += 8) {
    worst = std::max(worst, std::abs(((p >> s) & 0xFF) - ((q >> s) & 0xFF)));
  }
  return worst;
}

inline int MaxChannelDifference(const Bitmap& a, const Bitmap& b) {
  int worst = 0;
  ForEachPixelPair(a, b,
                   [&](int32_t p, int32_t q) { worst = std::max(worst, ColourDifference(p, q)); });
  return worst;
}

inline double Psnr(const Bitmap& a, const Bitmap& b) {
  double sum = 0;
  ForEachPixelPair(a, b, [&](int32_t p, int32_t q) {
    for (int s = 0; s < 24; s += 8) {
      const double d = ((p >> s) & 0xFF) - ((q >> s) & 0xFF);
      sum += d * d;
    }
  });
  const double mse = sum / (3.0 * a.width * a.height);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The bytes of a host memory block (a DIB), copied out.
inline std::vector<uint8_t> BlockBytes(HGLOBAL block) {
  const auto* bytes = static_cast<const uint8_t*>(GlobalLock(block));
  std::vector<uint8_t> copy(bytes, bytes + GlobalSize(block));
  GlobalUnlock(block);
  return copy;
}

// Scratch space, files and the corpus come from the shared test support.
using veltora::testing::ReadBytes;
using veltora::testing::TempDir;
using veltora::testing::WriteBytes;
inline std::filesystem::path CorpusDir() { return veltora::testing::CorpusDir().value_or(""); }
inline bool HaveConvert() { return veltora::testing::HaveTool("convert"); }

}  // namespace veltora::imaging::testing

#endif  // VELTORA_TESTS_IMAGING_IMAGING_TEST_SUPPORT_H_
