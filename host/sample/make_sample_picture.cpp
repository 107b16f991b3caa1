// Writes the sample picture the project ships beside the host: a real
// 640x480 JPEG with a full set of EXIF data (IFD0, EXIF, GPS and
// interoperability directories, a Quorvanta maker note and a 160x120 JPEG
// thumbnail), all fixed so that the file is the same on every build. It lays
// the EXIF block out itself and needs nothing but libjpeg-turbo.
//
// Usage: make_sample_picture OUTPUT
// Exit status 0 on success, 1 on any failure (with a message on stderr).
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kThumbScale = 4;  // 160x120, the usual EXIF thumbnail size
constexpr const char* kCaptureTime = "2024:05:14 09:30:05";

using Bytes = std::vector<uint8_t>;

// RGB rows, top-down, 3 bytes a pixel.
struct Picture {
  int width;
  int height;
  Bytes pixels;
};

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
  const Picture& picture() const { return picture_; }

 private:
  Picture picture_;
};

uint8_t Mix(int a, int b, double t) { return static_cast<uint8_t>(std::lround(a + (b - a) * t)); }

// A sky, a sun, hills, a lattice tower, colour bars and a corner marker that
// shows which way is up.
Picture DrawScene() {
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
Picture Shrink(const Picture& src, int factor) {
  Picture dst{src.width / factor, src.height / factor, {}};
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

// TIFF field types used here.
constexpr uint16_t kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7,
                   kSRational = 10;

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  Bytes value;  // in the block's byte order
};

// A little-endian TIFF block laid out front to back: each directory is followed
// by its values over 4 bytes; a pointer is written as 0 and set once its
// target is placed. Entries are given in tag order.
class TiffBlock {
 public:
  TiffBlock() : bytes_{'I', 'I', 42, 0, 8, 0, 0, 0} {}

  static Bytes U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
  static Bytes U32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  }

  static Entry Ascii(uint16_t tag, std::string_view text) {
    Bytes value(text.begin(), text.end());
    value.push_back(0);
    return {tag, kAscii, uint32_t(value.size()), value};
  }
  static Entry Raw(uint16_t tag, uint16_t type, Bytes value) {
    return {tag, type, uint32_t(value.size()), value};
  }
  static Entry Short(uint16_t tag, uint16_t v) { return {tag, kShort, 1, U16(v)}; }
  static Entry Long(uint16_t tag, uint32_t v) { return {tag, kLong, 1, U32(v)}; }
  static Entry Rationals(uint16_t tag, std::initializer_list<std::pair<uint32_t, uint32_t>> values,
                         uint16_t type = kRational) {
    Bytes value;
    for (const auto& [numerator, denominator] : values) {
      for (uint32_t word : {numerator, denominator}) {
        const Bytes b = U32(word);
        value.insert(value.end(), b.begin(), b.end());
      }
    }
    return {tag, type, uint32_t(values.size()), value};
  }

  uint32_t size() const { return uint32_t(bytes_.size()); }
  const Bytes& bytes() const { return bytes_; }

  void Append(const Bytes& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
  void AlignToWord() {
    if (bytes_.size() % 2 != 0) bytes_.push_back(0);
  }

  // Places a directory (next pointer 0) and its long values; returns its offset.
  uint32_t Directory(const std::vector<Entry>& entries) {
    AlignToWord();
    const uint32_t at = size();
    Append(U16(uint16_t(entries.size())));
    uint32_t values_at = at + 2 + 12 * uint32_t(entries.size()) + 4;
    for (const Entry& e : entries) {
      Append(U16(e.tag));
      Append(U16(e.type));
      Append(U32(e.count));
      if (e.value.size() <= 4) {
        Bytes inline_value = e.value;
        inline_value.resize(4, 0);
        Append(inline_value);
      } else {
        Append(U32(values_at));
        values_at += uint32_t(e.value.size() + e.value.size() % 2);
      }
    }
    Append(U32(0));
    for (const Entry& e : entries) {
      if (e.value.size() <= 4) continue;
      Append(e.value);
      AlignToWord();
    }
    return at;
  }

  // The value field, count field and next pointer of a placed directory.
  static uint32_t ValueField(uint32_t dir, const std::vector<Entry>& entries, uint16_t tag) {
    const auto it =
        std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.tag == tag; });
    if (it == entries.end()) throw std::logic_error("no entry for tag " + std::to_string(tag));
    return dir + 2 + 12 * uint32_t(it - entries.begin()) + 8;
  }
  static uint32_t NextField(uint32_t dir, const std::vector<Entry>& entries) {
    return dir + 2 + 12 * uint32_t(entries.size());
  }
  void Set32(uint32_t at, uint32_t v) { std::copy_n(U32(v).begin(), 4, bytes_.begin() + at); }

 private:
  Bytes bytes_;
};

// IFD0: the camera, the picture and the pointers to the other directories.
std::vector<Entry> Ifd0Entries() {
  using T = TiffBlock;
  return {
      T::Ascii(270, "Veltora sample picture"),
      T::Ascii(271, "Veltora"),
      T::Ascii(272, "Veltora Sample One"),
      T::Short(274, 1),
      T::Rationals(282, {{72, 1}}),
      T::Rationals(283, {{72, 1}}),
      T::Short(296, 2),
      T::Ascii(305, "make_sample_picture"),
      T::Ascii(306, kCaptureTime),
      T::Short(531, 1),   // YCbCrPositioning: centred
      T::Long(34665, 0),  // Exif IFD
      T::Long(34853, 0),  // GPS IFD
  };
}

// The EXIF directory: exposure, times, sizes.
std::vector<Entry> ExifEntries() {
  using T = TiffBlock;
  return {
      T::Rationals(33434, {{1, 250}}),  // ExposureTime
      T::Rationals(33437, {{56, 10}}),  // FNumber
      T::Short(34850, 2),               // ExposureProgram: normal
      T::Short(34855, 100),             // ISO
      T::Raw(36864, kUndefined, {'0', '2', '3', '0'}),
      T::Ascii(36867, kCaptureTime),
      T::Ascii(36868, kCaptureTime),
      T::Raw(37121, kUndefined, {1, 2, 3, 0}),                // ComponentsConfiguration: YCbCr
      T::Rationals(37377, {{7965784, 1000000}}, kSRational),  // ShutterSpeedValue (APEX)
      T::Rationals(37378, {{497, 100}}),                      // ApertureValue (APEX)
      T::Rationals(37380, {{0, 1}}, kSRational),              // ExposureBiasValue
      T::Short(37383, 5),                                     // MeteringMode: pattern
      T::Short(37385, 16),                                    // Flash: did not fire, off
      T::Rationals(37386, {{50, 1}}),                         // FocalLength
      T::Raw(37500, kUndefined, {}),                          // MakerNote, placed below
      T::Ascii(37520, "42"),                                  // SubSecTime
      T::Ascii(37521, "42"),                                  // SubSecTimeOriginal
      T::Ascii(37522, "42"),                                  // SubSecTimeDigitized
      T::Raw(40960, kUndefined, {'0', '1', '0', '0'}),        // FlashpixVersion
      T::Short(40961, 1),                                     // ColorSpace: sRGB
      T::Long(40962, kWidth),
      T::Long(40963, kHeight),
      T::Long(40965, 0),   // Interoperability IFD
      T::Short(41986, 0),  // ExposureMode: auto
      T::Short(41987, 0),  // WhiteBalance: auto
      T::Short(41990, 0),  // SceneCaptureType: standard
      T::Short(41996, 3),  // SubjectDistanceRange: distant
  };
}

// The maker note: its signature, a NUL, two zero bytes, then a directory whose value offsets count
// from the TIFF header.
std::vector<Entry> MakerEntries() {
  using T = TiffBlock;
  return {
      T::Short(0x0001, 1),
      T::Long(0x0002, 0x00010002),
      T::Short(0x0003, 3),
      T::Short(0x0007, 1),
      T::Raw(0x0021, kUndefined, {1, 0, 0, 0}),
      T::Ascii(0x0033, kCaptureTime),
  };
}

// The GPS directory: 48.8584 N, 2.2945 E, that is 48 deg 51' 30.24", 2 deg 17' 40.20".
std::vector<Entry> GpsEntries() {
  using T = TiffBlock;
  return {
      T::Raw(0, kByte, {2, 3, 0, 0}),
      T::Ascii(1, "N"),
      T::Rationals(2, {{48, 1}, {51, 1}, {3024, 100}}),
      T::Ascii(3, "E"),
      T::Rationals(4, {{2, 1}, {17, 1}, {4020, 100}}),
      T::Raw(5, kByte, {0}),
      T::Rationals(6, {{35, 1}}),
      T::Rationals(7, {{7, 1}, {30, 1}, {5, 1}}),
      T::Ascii(18, "WGS-84"),
      T::Ascii(29, "2024:05:14"),
  };
}

// IFD1: the thumbnail, placed behind the block.
std::vector<Entry> Ifd1Entries(uint32_t thumbnail_size) {
  using T = TiffBlock;
  return {
      T::Short(259, 6),  // Compression: JPEG
      T::Rationals(282, {{72, 1}}),
      T::Rationals(283, {{72, 1}}),
      T::Short(296, 2),
      T::Long(513, 0),  // the thumbnail, placed last
      T::Long(514, thumbnail_size),
  };
}

Bytes ExifBlock(const Bytes& thumbnail) {
  using T = TiffBlock;
  TiffBlock block;
  const std::vector<Entry> ifd0 = Ifd0Entries();
  const std::vector<Entry> exif = ExifEntries();
  const std::vector<Entry> interop = {T::Ascii(1, "R98"),
                                      T::Raw(2, kUndefined, {'0', '1', '0', '0'})};
  const std::vector<Entry> maker = MakerEntries();
  const std::vector<Entry> gps = GpsEntries();
  const std::vector<Entry> ifd1 = Ifd1Entries(uint32_t(thumbnail.size()));

  const uint32_t ifd0_at = block.Directory(ifd0);
  const uint32_t exif_at = block.Directory(exif);
  block.Set32(T::ValueField(ifd0_at, ifd0, 34665), exif_at);
  block.Set32(T::ValueField(exif_at, exif, 40965), block.Directory(interop));
  const uint32_t note_at = block.size();
  block.Append({'Q', 'u', 'o', 'r', 'v', 'a', 'n', 't', 'a', 0, 0, 0});
  block.Directory(maker);
  block.Set32(T::ValueField(exif_at, exif, 37500) - 4, block.size() - note_at);  // count
  block.Set32(T::ValueField(exif_at, exif, 37500), note_at);
  block.Set32(T::ValueField(ifd0_at, ifd0, 34853), block.Directory(gps));
  const uint32_t ifd1_at = block.Directory(ifd1);
  block.Set32(T::NextField(ifd0_at, ifd0), ifd1_at);
  block.Set32(T::ValueField(ifd1_at, ifd1, 513), block.size());
  block.Append(thumbnail);
  return block.bytes();
}

Bytes EncodeJpeg(const Picture& picture, int quality) {
  tjhandle handle = tjInitCompress();
  if (handle == nullptr) throw std::runtime_error("tjInitCompress failed");
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const int failed = tjCompress2(handle, picture.pixels.data(), picture.width, 0, picture.height,
                                 TJPF_RGB, &buffer, &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
  const std::string message = failed != 0 ? tjGetErrorStr2(handle) : "";
  Bytes out;
  if (failed == 0) out.assign(buffer, buffer + size);
  tjFree(buffer);
  tjDestroy(handle);
  if (failed != 0) throw std::runtime_error("tjCompress2: " + message);
  return out;
}

// The JPEG's segments after SOI and its leading APP0 (JFIF) segments, which
// a file with EXIF data and a thumbnail inside EXIF do without.
Bytes AfterApp0(const Bytes& jpeg) {
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] == 0xE0) {
    pos += 2 + ((size_t{jpeg[pos + 2]} << 8) | jpeg[pos + 3]);
  }
  if (pos > jpeg.size()) throw std::runtime_error("encoder wrote a truncated APP0 segment");
  return Bytes(jpeg.begin() + std::ptrdiff_t(pos), jpeg.end());
}

Bytes WithSoi(const Bytes& segments) {
  Bytes out{0xFF, 0xD8};
  out.insert(out.end(), segments.begin(), segments.end());
  return out;
}

Bytes SamplePicture() {
  const Picture scene = DrawScene();
  const Bytes exif = ExifBlock(WithSoi(AfterApp0(EncodeJpeg(Shrink(scene, kThumbScale), 80))));
  const size_t length = 2 + 6 + exif.size();
  if (length > 0xFFFF) throw std::logic_error("the EXIF block does not fit one APP1 segment");
  Bytes out{0xFF, 0xD8, 0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length), 'E', 'x',
            'i',  'f',  0,    0};
  out.insert(out.end(), exif.begin(), exif.end());
  const Bytes image = AfterApp0(EncodeJpeg(scene, 90));
  out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 1;
  }
  try {
    const Bytes picture = SamplePicture();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(picture.data()), std::streamsize(picture.size()));
    out.close();
    if (!out) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample_picture: %s\n", e.what());
    return 1;
  }
}
