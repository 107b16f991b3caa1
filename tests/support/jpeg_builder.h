// Builds JPEG files segment by segment for tests, well-formed or broken on
// purpose, and makes real decodable pictures with libturbojpeg.
//
// Segments are appended in call order; nothing is reordered or added, so a
// test controls exactly what a marker walk sees:
//
//   auto file = JpegBuilder().Soi().App0Jfif().App1Exif(tiff.Bytes())
//                   .ImageSegments(SmallJpeg()).Bytes();
//
// Misuse of the builder (a payload that cannot fit a length field, image
// segments taken from no JPEG) throws std::logic_error.
#ifndef VELTORA_TESTS_SUPPORT_JPEG_BUILDER_H_
#define VELTORA_TESTS_SUPPORT_JPEG_BUILDER_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace veltora::testing {

// Marker codes (second byte after 0xFF).
inline constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA,
                         kSof0 = 0xC0, kApp0 = 0xE0, kApp1 = 0xE1, kApp2 = 0xE2,
                         kApp6 = 0xE6, kCom = 0xFE;

// One segment as found by WalkSegments().
struct JpegSegment {
  uint8_t marker = 0;      // 0 when the bytes at `offset` are no marker
  size_t offset = 0;       // of the 0xFF
  uint32_t length = 0;     // the length field (0 for SOI/EOI/RSTn or when cut off)
  bool truncated = false;  // the segment runs past the end of the file
};

// A simple reference walk for tests: follows SOI, length-prefixed segments
// and, after SOS, the entropy-coded data to the next non-RST marker. It skips
// 0xFF fill bytes and stops at EOI, at bytes that are no marker (recorded
// with marker 0) or at a segment that runs past the end (recorded truncated).
std::vector<JpegSegment> WalkSegments(const std::vector<uint8_t>& jpeg);

class JpegBuilder {
 public:
  JpegBuilder& Soi();
  JpegBuilder& Eoi();
  // APP0 "JFIF\0", version 1.01, 72 x 72 dots per inch, no thumbnail.
  JpegBuilder& App0Jfif();
  // APP1 "Exif\0\0" followed by `tiff` (a TIFF block starting at its header).
  JpegBuilder& App1Exif(const std::vector<uint8_t>& tiff);
  // Any marker with a length field and payload (APPn, COM, DQT, ...).
  JpegBuilder& Segment(uint8_t marker, const std::vector<uint8_t>& payload);
  // Every segment of `jpeg` after its SOI except APP0..APP15 and COM: the
  // tables, frame, scan data and EOI of a real picture.
  JpegBuilder& ImageSegments(const std::vector<uint8_t>& jpeg);
  std::vector<uint8_t> Bytes() const { return out_; }

 private:
  std::vector<uint8_t> out_;
};

// ---- Real pictures (libturbojpeg).

// A baseline JPEG (4:2:0) of a recognisable pattern: horizontal and vertical
// gradients with a mid-grey cross, so a decoded picture can be checked for
// orientation. It starts with SOI and a JFIF APP0 as libturbojpeg writes it.
// Throws std::runtime_error when the codec fails.
std::vector<uint8_t> RealJpeg(int width, int height, int quality = 85);
// A cached 16x16 RealJpeg, for files whose pixels do not matter.
const std::vector<uint8_t>& SmallJpeg();

// Removes every APP0 segment of `jpeg` and inserts an APP1 "Exif\0\0" + `tiff`
// right after SOI. With `keep_app0` the APP0 segments stay (before the APP1).
// Existing APP1 segments are left in place. Throws std::logic_error when
// `jpeg` does not start with SOI.
std::vector<uint8_t> SpliceExif(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& tiff,
                                bool keep_app0 = false);

// Decodes with libturbojpeg, treating warnings (corrupt data, premature end)
// as failures. Returns the picture's size, or nullopt when it does not decode.
struct DecodedSize {
  int width = 0;
  int height = 0;
};
std::optional<DecodedSize> DecodeCleanly(const std::vector<uint8_t>& jpeg);

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_SUPPORT_JPEG_BUILDER_H_
