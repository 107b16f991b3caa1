// Fixtures shared by the query export tests: a scratch directory per test,
// the byte order under test, and a typical camera file's EXIF data.
#ifndef VELTORA_TESTS_QUERY_QUERY_TEST_FILES_H_
#define VELTORA_TESTS_QUERY_QUERY_TEST_FILES_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/veltora.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::testing {

inline constexpr char kCaptureText[] = "2024:05:14 09:30:05";

// What a single-value export delivered into a buffer of `capacity` bytes
// filled with kFill, plus one guard byte past it.
struct Value {
  HRESULT result = 0;
  uint32_t size = 0;
  uint16_t type = 0xEEEE;
  uint32_t count = 0xEEEEEEEE;
  std::vector<uint8_t> buffer;
};

inline constexpr uint8_t kFill = 0xAA;

// `get` called with a buffer of `capacity` bytes and one guard byte, all kFill.
template <typename Getter>
Value Call(uint32_t capacity, Getter get) {
  Value v;
  v.buffer.assign(capacity + 1, kFill);
  v.size = capacity;
  v.result = get(v);
  return v;
}

inline Value Get(const std::string& path, uint32_t directory, uint16_t tag, uint32_t capacity) {
  return Call(capacity, [&](Value& v) {
    return GetExifValue(path.c_str(), directory, tag, v.buffer.data(), &v.size, &v.type, &v.count);
  });
}

// Parameterised over "II" and "MM".
class QueryTest : public ::testing::TestWithParam<Endian> {
 protected:
  Endian order() const { return GetParam(); }
  TiffBuilder Builder() const { return TiffBuilder(order()); }

  // IFD0 (Make, Model, Orientation, Software), the EXIF directory with the
  // attributes a browser shows, an interoperability directory, IFD1 with a
  // small thumbnail. No GPS, no maker note.
  TiffBuilder Typical() const {
    TiffBuilder b = Builder();
    b.Ascii(kIfd0, 271, "Maker")
        .Ascii(kIfd0, 272, "Model X")
        .Short(kIfd0, 274, 6)
        .Ascii(kIfd0, 305, "firmware 1.0")
        .Rational(kExif, 33434, 1, 250)
        .Rational(kExif, 33437, 56, 10)
        .Short(kExif, 34855, 400)
        .Undefined(kExif, 36864, {'0', '2', '3', '0'})
        .Ascii(kExif, 36867, kCaptureText)
        .SRational(kExif, 37377, -3, 2)
        .SRational(kExif, 37380, -1, 3)
        .Short(kExif, 37385, 16)
        .Short(kExif, 41987, 1)
        .Ascii(kInterop, 1, "R98")
        .Short(kIfd1, 259, 6)
        .JpegThumbnail({0xFF, 0xD8, 0xFF, 0xD9});
    return b;
  }

  std::string Jpeg(const TiffBuilder& b, std::string_view name = "exif.jpg") const {
    return b.WriteJpeg(dir_, name).string();
  }
  std::string Tiff(const TiffBuilder& b, std::string_view name = "exif.tif") const {
    return b.WriteTiff(dir_, name).string();
  }
  // The same EXIF data behind a JFIF APP0 segment.
  std::string JfifJpeg(const TiffBuilder& b) const {
    WriteFile(dir_ / "jfif.jpg", SpliceExif(SmallJpeg(), b.Bytes(), true));
    return (dir_ / "jfif.jpg").string();
  }

  TempDir dir_;
};

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_QUERY_QUERY_TEST_FILES_H_
