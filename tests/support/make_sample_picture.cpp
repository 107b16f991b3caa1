// Writes the sample picture the project ships: a real 640x480 JPEG with a
// full set of EXIF data (IFD0, EXIF, GPS and interoperability directories, a
// Quorvanta maker note and a 160x120 JPEG thumbnail), all fixed so that the
// file is the same on every build.
//
// Usage: make_sample_picture OUTPUT [--order II|MM]
// Exit status 0 on success, 1 on any failure (with a message on stderr).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::testing {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kThumbScale = 4;  // 160x120, the usual EXIF thumbnail size
constexpr const char* kCaptureTime = "2024:05:14 09:30:05";

struct Rgb {
  uint8_t r, g, b;
};

class Canvas {
 public:
  Canvas(int width, int height) : picture_{width, height, {}} {
    picture_.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  }
  void Set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= picture_.width || y >= picture_.height) return;
    uint8_t* p = &picture_.pixels[(static_cast<size_t>(y) * static_cast<size_t>(picture_.width) +
                                   static_cast<size_t>(x)) *
                                  3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
  int width() const { return picture_.width; }
  int height() const { return picture_.height; }
  const RgbPicture& picture() const { return picture_; }

 private:
  RgbPicture picture_;
};

uint8_t Mix(int a, int b, double t) { return static_cast<uint8_t>(std::lround(a + (b - a) * t)); }

// A sky, a sun, hills, a lattice tower, colour bars and a corner marker that
// shows which way is up.
RgbPicture DrawScene() {
  Canvas c(kWidth, kHeight);
  const int horizon = 330;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (y < horizon) {
        const double t = y / double(horizon);
        c.Set(x, y, {Mix(40, 170, t), Mix(90, 210, t), Mix(200, 250, t)});
      } else {
        const double t = (y - horizon) / double(kHeight - horizon);
        c.Set(x, y, {Mix(70, 30, t), Mix(160, 90, t), Mix(60, 30, t)});
      }
    }
  }
  // Sun.
  for (int y = 40; y < 160; ++y) {
    for (int x = 460; x < 580; ++x) {
      const double d = std::hypot(x - 520, y - 100);
      if (d < 45)
        c.Set(x, y, {255, 220, 60});
      else if (d < 55)
        c.Set(x, y, {255, 240, 150});
    }
  }
  // Rolling hill in front of the horizon.
  for (int x = 0; x < kWidth; ++x) {
    const int top = horizon - 25 + static_cast<int>(18 * std::sin(x / 70.0));
    for (int y = top; y < horizon + 10; ++y) c.Set(x, y, {60, 140, 55});
  }
  // Tower: two tapering legs with cross bracing and an arch between them.
  const int base_y = 400, top_y = 50, cx = 320;
  for (int y = top_y; y < base_y; ++y) {
    const double t = (y - top_y) / double(base_y - top_y);  // 0 at the top
    const int half = 4 + static_cast<int>(std::pow(t, 2.2) * 110);
    for (int x = cx - half; x <= cx + half; ++x) {
      const int from_edge = std::min(x - (cx - half), (cx + half) - x);
      const bool leg = from_edge < 6 + static_cast<int>(t * 14);
      const bool brace = (y % 24) < 3;
      const bool arch = y > 330 && std::hypot(x - cx, (y - 400) * 1.3) < 70;
      if ((leg || brace) && !arch) c.Set(x, y, {90, 60, 40});
    }
  }
  // Colour bars along the bottom.
  const Rgb bars[] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  for (int y = 440; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) c.Set(x, y, bars[x * 8 / kWidth]);
  }
  // Top-left marker: red square with a white inner square.
  for (int y = 10; y < 50; ++y) {
    for (int x = 10; x < 50; ++x) {
      const bool inner = x >= 22 && x < 38 && y >= 22 && y < 38;
      c.Set(x, y, inner ? Rgb{255, 255, 255} : Rgb{220, 20, 20});
    }
  }
  return c.picture();
}

// Box filter by an integer factor.
RgbPicture Shrink(const RgbPicture& src, int factor) {
  RgbPicture dst{src.width / factor, src.height / factor, {}};
  dst.pixels.resize(static_cast<size_t>(dst.width) * static_cast<size_t>(dst.height) * 3);
  for (int y = 0; y < dst.height; ++y) {
    for (int x = 0; x < dst.width; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        int sum = 0;
        for (int dy = 0; dy < factor; ++dy) {
          for (int dx = 0; dx < factor; ++dx) {
            sum +=
                src.pixels[(static_cast<size_t>(y * factor + dy) * static_cast<size_t>(src.width) +
                            static_cast<size_t>(x * factor + dx)) *
                               3 +
                           static_cast<size_t>(ch)];
          }
        }
        dst.pixels[(static_cast<size_t>(y) * static_cast<size_t>(dst.width) +
                    static_cast<size_t>(x)) *
                       3 +
                   static_cast<size_t>(ch)] = static_cast<uint8_t>(sum / (factor * factor));
      }
    }
  }
  return dst;
}

TiffBuilder SampleExif(Endian order, std::vector<uint8_t> thumbnail) {
  TiffBuilder b(order);
  b.Ascii(kIfd0, 270, "Veltora sample picture")
      .Ascii(kIfd0, 271, "Veltora")
      .Ascii(kIfd0, 272, "Veltora Sample One")
      .Short(kIfd0, 274, 1)
      .Rational(kIfd0, 282, 72, 1)
      .Rational(kIfd0, 283, 72, 1)
      .Short(kIfd0, 296, 2)
      .Ascii(kIfd0, 305, "make_sample_picture")
      .Ascii(kIfd0, 306, kCaptureTime)
      .Short(kIfd0, 531, 1);  // YCbCrPositioning: centred

  b.Rational(kExif, 33434, 1, 250)     // ExposureTime
      .Rational(kExif, 33437, 56, 10)  // FNumber
      .Short(kExif, 34850, 2)          // ExposureProgram: normal
      .Short(kExif, 34855, 100)        // ISO
      .Undefined(kExif, 36864, {'0', '2', '3', '0'})
      .Ascii(kExif, 36867, kCaptureTime)
      .Ascii(kExif, 36868, kCaptureTime)
      .Undefined(kExif, 37121, {1, 2, 3, 0})          // ComponentsConfiguration: YCbCr
      .SRational(kExif, 37377, 7965784, 1000000)      // ShutterSpeedValue (APEX)
      .Rational(kExif, 37378, 497, 100)               // ApertureValue (APEX)
      .SRational(kExif, 37380, 0, 1)                  // ExposureBiasValue
      .Short(kExif, 37383, 5)                         // MeteringMode: pattern
      .Short(kExif, 37385, 16)                        // Flash: did not fire, off
      .Rational(kExif, 37386, 50, 1)                  // FocalLength
      .Ascii(kExif, 37520, "42")                      // SubSecTime
      .Ascii(kExif, 37521, "42")                      // SubSecTimeOriginal
      .Ascii(kExif, 37522, "42")                      // SubSecTimeDigitized
      .Undefined(kExif, 40960, {'0', '1', '0', '0'})  // FlashpixVersion
      .Short(kExif, 40961, 1)                         // ColorSpace: sRGB
      .Long(kExif, 40962, kWidth)
      .Long(kExif, 40963, kHeight)
      .Short(kExif, 41986, 0)   // ExposureMode: auto
      .Short(kExif, 41987, 0)   // WhiteBalance: auto
      .Short(kExif, 41990, 0)   // SceneCaptureType: standard
      .Short(kExif, 41996, 3);  // SubjectDistanceRange: distant

  b.Ascii(kInterop, 1, "R98").Undefined(kInterop, 2, {'0', '1', '0', '0'});

  // 48.8584 N, 2.2945 E: 48 deg 51' 30.24", 2 deg 17' 40.20".
  b.Byte(kGps, 0, {2, 3, 0, 0})
      .Ascii(kGps, 1, "N")
      .Rationals(kGps, 2, {{48, 1}, {51, 1}, {3024, 100}})
      .Ascii(kGps, 3, "E")
      .Rationals(kGps, 4, {{2, 1}, {17, 1}, {4020, 100}})
      .Byte(kGps, 5, {0})
      .Rational(kGps, 6, 35, 1)
      .Rationals(kGps, 7, {{7, 1}, {30, 1}, {5, 1}})
      .Ascii(kGps, 18, "WGS-84")
      .Ascii(kGps, 29, "2024:05:14");

  b.MakerNoteHeader(MakerNoteForm::kSignature, "Quorvanta")
      .Short(kMakerNote, 0x0001, 1)
      .Long(kMakerNote, 0x0002, 0x00010002)
      .Short(kMakerNote, 0x0003, 3)
      .Short(kMakerNote, 0x0007, 1)
      .Undefined(kMakerNote, 0x0021, {1, 0, 0, 0})
      .Ascii(kMakerNote, 0x0033, kCaptureTime);

  b.Short(kIfd1, 259, 6)  // Compression: JPEG
      .Rational(kIfd1, 282, 72, 1)
      .Rational(kIfd1, 283, 72, 1)
      .Short(kIfd1, 296, 2)
      .JpegThumbnail(std::move(thumbnail));
  return b;
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT [--order II|MM]\n", argv[0]);
    return 1;
  }
  Endian order = kLittle;
  if (argc == 4 && std::strcmp(argv[2], "--order") == 0) {
    if (std::strcmp(argv[3], "MM") == 0) {
      order = kBig;
    } else if (std::strcmp(argv[3], "II") != 0) {
      std::fprintf(stderr, "unknown byte order %s\n", argv[3]);
      return 1;
    }
  } else if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT [--order II|MM]\n", argv[0]);
    return 1;
  }
  const RgbPicture scene = DrawScene();
  // The thumbnail goes in without its JFIF segment: inside EXIF it has no use.
  const auto thumbnail_jpeg = EncodeJpeg(Shrink(scene, kThumbScale), 80);
  JpegBuilder thumbnail;
  thumbnail.Soi().ImageSegments(thumbnail_jpeg);
  const auto exif = SampleExif(order, thumbnail.Bytes()).Bytes();
  WriteFile(argv[1], SpliceExif(EncodeJpeg(scene, 90), exif));
  return 0;
}

}  // namespace
}  // namespace veltora::testing

int main(int argc, char** argv) {
  try {
    return veltora::testing::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample_picture: %s\n", e.what());
    return 1;
  }
}
