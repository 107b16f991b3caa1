// Helpers shared by the imaging tests: synthetic pictures, comparisons, an
// independent decoder (ImageMagick's convert) and a scratch directory.
#ifndef VELTORA_TESTS_IMAGING_IMAGING_TEST_SUPPORT_H_
#define VELTORA_TESTS_IMAGING_IMAGING_TEST_SUPPORT_H_

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "imaging/bitmap.h"

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

// Colour-by-colour comparison through GetPixelColour (depth independent).
inline bool SameColours(const Bitmap& a, const Bitmap& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int32_t y = 0; y < a.height; ++y) {
    for (int32_t x = 0; x < a.width; ++x) {
      if (GetPixelColour(a, x, y) != GetPixelColour(b, x, y)) return false;
    }
  }
  return true;
}

inline int MaxChannelDifference(const Bitmap& a, const Bitmap& b) {
  int worst = 0;
  for (int32_t y = 0; y < a.height; ++y) {
    for (int32_t x = 0; x < a.width; ++x) {
      const uint32_t p = static_cast<uint32_t>(GetPixelColour(a, x, y));
      const uint32_t q = static_cast<uint32_t>(GetPixelColour(b, x, y));
      for (int s = 0; s < 24; s += 8) {
        worst = std::max(worst, std::abs(static_cast<int>((p >> s) & 0xFF) - static_cast<int>((q >> s) & 0xFF)));
      }
    }
  }
  return worst;
}

inline double Psnr(const Bitmap& a, const Bitmap& b) {
  double sum = 0;
  for (int32_t y = 0; y < a.height; ++y) {
    for (int32_t x = 0; x < a.width; ++x) {
      const uint32_t p = static_cast<uint32_t>(GetPixelColour(a, x, y));
      const uint32_t q = static_cast<uint32_t>(GetPixelColour(b, x, y));
      for (int s = 0; s < 24; s += 8) {
        const double d = static_cast<double>((p >> s) & 0xFF) - static_cast<double>((q >> s) & 0xFF);
        sum += d * d;
      }
    }
  }
  const double mse = sum / (3.0 * a.width * a.height);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// A fresh directory, removed with its contents at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veltora-imaging-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string CorpusDir() { return std::string(VELTORA_SHARED_DIR) + "/corpus"; }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool HaveConvert() { return std::system("convert -version >/dev/null 2>&1") == 0; }

// Decodes the first frame of `path` with ImageMagick into a 24-bit bitmap,
// transparency flattened over white; nullopt when convert fails.
inline std::optional<Bitmap> DecodeWithConvert(const std::string& path, const std::string& scratch_ppm) {
  const std::string command = "convert '" + path + "[0]' -background white -flatten -depth 8 ppm:'" +
                              scratch_ppm + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  const std::vector<uint8_t> ppm = ReadBytes(scratch_ppm);
  // P6 <w> <h> <max>\n<rgb...>
  int width = 0, height = 0, max = 0, consumed = 0;
  std::string head(ppm.begin(), ppm.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(ppm.size(), 64)));
  if (std::sscanf(head.c_str(), "P6 %d %d %d%n", &width, &height, &max, &consumed) != 3 || max != 255) {
    return std::nullopt;
  }
  const size_t start = static_cast<size_t>(consumed) + 1;
  if (ppm.size() < start + static_cast<size_t>(width) * static_cast<size_t>(height) * 3) return std::nullopt;
  Bitmap b;
  if (CreateBitmap(&b, width, height, 24) != 1) return std::nullopt;
  const uint8_t* s = ppm.data() + start;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x, s += 3) {
      uint8_t* d = b.Row(y) + 3 * x;
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  }
  return b;
}

}  // namespace veltora::imaging::testing

#endif  // VELTORA_TESTS_IMAGING_IMAGING_TEST_SUPPORT_H_
