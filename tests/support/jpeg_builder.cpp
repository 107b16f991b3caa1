#include "tests/support/jpeg_builder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace veltora::testing {
namespace {

// A segment's length field counts itself (2 bytes), so at most 65533 bytes of
// payload fit.
constexpr size_t kMaxPayload = 0xFFFF - 2;

bool IsApp(uint8_t marker) { return marker >= 0xE0 && marker <= 0xEF; }
bool IsRst(uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

uint32_t Be16(const std::vector<uint8_t>& b, size_t pos) {
  return uint32_t{b[pos]} << 8 | b[pos + 1];
}

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(static_cast<tjhandle>(handle)); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

}  // namespace

std::vector<JpegSegment> WalkSegments(const std::vector<uint8_t>& jpeg) {
  std::vector<JpegSegment> segments;
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != kSoi) return segments;
  segments.push_back({kSoi, 0, 0, false});
  size_t pos = 2;
  while (pos < jpeg.size()) {
    if (jpeg[pos] != 0xFF) {
      segments.push_back({0, pos, 0, false});
      break;
    }
    while (pos + 1 < jpeg.size() && jpeg[pos + 1] == 0xFF) ++pos;  // fill bytes
    if (pos + 1 >= jpeg.size()) {
      segments.push_back({0xFF, pos, 0, true});
      break;
    }
    const uint8_t marker = jpeg[pos + 1];
    if (marker == kEoi) {
      segments.push_back({marker, pos, 0, false});
      break;
    }
    if (IsRst(marker) || marker == 0x01) {
      segments.push_back({marker, pos, 0, false});
      pos += 2;
      continue;
    }
    if (pos + 4 > jpeg.size()) {
      segments.push_back({marker, pos, 0, true});
      break;
    }
    const uint32_t length = Be16(jpeg, pos + 2);
    const bool truncated = length > jpeg.size() - pos - 2;
    segments.push_back({marker, pos, length, truncated});
    if (length < 2 || truncated) break;
    pos += 2 + length;
    if (marker == kSos) {
      // Entropy-coded data ends at the first marker that is not a stuffed
      // zero, a restart marker or fill.
      while (pos + 1 < jpeg.size() && !(jpeg[pos] == 0xFF && jpeg[pos + 1] != 0 &&
                                        jpeg[pos + 1] != 0xFF && !IsRst(jpeg[pos + 1]))) {
        ++pos;
      }
      if (pos + 1 >= jpeg.size()) break;
    }
  }
  return segments;
}

JpegBuilder& JpegBuilder::Soi() {
  out_.insert(out_.end(), {0xFF, kSoi});
  return *this;
}

JpegBuilder& JpegBuilder::Eoi() {
  out_.insert(out_.end(), {0xFF, kEoi});
  return *this;
}

JpegBuilder& JpegBuilder::Segment(uint8_t marker, const std::vector<uint8_t>& payload) {
  if (payload.size() > kMaxPayload) throw std::logic_error("segment payload over 65533 bytes");
  const size_t length = payload.size() + 2;
  out_.insert(out_.end(),
              {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  out_.insert(out_.end(), payload.begin(), payload.end());
  return *this;
}

JpegBuilder& JpegBuilder::App0Jfif() {
  return Segment(kApp0, {'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 72, 0, 72, 0, 0});
}

JpegBuilder& JpegBuilder::App1Exif(const std::vector<uint8_t>& tiff) {
  std::vector<uint8_t> payload = {'E', 'x', 'i', 'f', 0, 0};
  payload.insert(payload.end(), tiff.begin(), tiff.end());
  return Segment(kApp1, payload);
}

JpegBuilder& JpegBuilder::ImageSegments(const std::vector<uint8_t>& jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != kSoi) {
    throw std::logic_error("ImageSegments(): not a JPEG");
  }
  size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    const uint8_t marker = jpeg[pos + 1];
    if (marker == kSos) {
      out_.insert(out_.end(), jpeg.begin() + static_cast<ptrdiff_t>(pos), jpeg.end());
      return *this;
    }
    const size_t end = pos + 2 + Be16(jpeg, pos + 2);
    if (end > jpeg.size()) break;
    if (!IsApp(marker) && marker != kCom) {
      out_.insert(out_.end(), jpeg.begin() + static_cast<ptrdiff_t>(pos),
                  jpeg.begin() + static_cast<ptrdiff_t>(end));
    }
    pos = end;
  }
  throw std::logic_error("ImageSegments(): no scan found");
}

std::vector<uint8_t> RealJpeg(int width, int height, int quality) {
  const auto w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  if (width <= 0 || height <= 0) throw std::logic_error("RealJpeg(): empty picture");
  std::vector<uint8_t> pixels(w * h * 3);
  for (size_t y = 0; y < h; ++y) {
    for (size_t x = 0; x < w; ++x) {
      uint8_t* p = &pixels[(y * w + x) * 3];
      const bool cross = x == w / 2 || y == h / 2;
      p[0] = static_cast<uint8_t>(cross ? 128 : x * 255 / std::max<size_t>(w - 1, 1));
      p[1] = static_cast<uint8_t>(cross ? 128 : y * 255 / std::max<size_t>(h - 1, 1));
      p[2] = static_cast<uint8_t>(cross ? 128 : 64);
    }
  }
  TjHandle handle(tjInitCompress());
  if (!handle) throw std::runtime_error("tjInitCompress failed");
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (tjCompress2(handle.get(), pixels.data(), width, 0, height, TJPF_RGB, &buffer, &size,
                  TJSAMP_420, quality, TJFLAG_ACCURATEDCT) != 0) {
    std::string message = tjGetErrorStr2(handle.get());
    tjFree(buffer);
    throw std::runtime_error("tjCompress2: " + message);
  }
  std::vector<uint8_t> out(buffer, buffer + size);
  tjFree(buffer);
  return out;
}

const std::vector<uint8_t>& SmallJpeg() {
  static const std::vector<uint8_t> jpeg = RealJpeg(16, 16);
  return jpeg;
}

std::vector<uint8_t> SpliceExif(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& tiff,
                                bool keep_app0) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != kSoi) {
    throw std::logic_error("SpliceExif(): not a JPEG");
  }
  size_t pos = 2;
  // Leading APP0 segments are kept or dropped; the EXIF APP1 follows them.
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] == kApp0) {
    const size_t end = pos + 2 + Be16(jpeg, pos + 2);
    if (end > jpeg.size()) break;
    pos = end;
  }
  const auto app0_end = jpeg.begin() + static_cast<ptrdiff_t>(pos);
  auto out = JpegBuilder().App1Exif(tiff).Bytes();
  out.insert(out.begin(), jpeg.begin(), keep_app0 ? app0_end : jpeg.begin() + 2);
  out.insert(out.end(), app0_end, jpeg.end());
  return out;
}

std::optional<DecodedSize> DecodeCleanly(const std::vector<uint8_t>& jpeg) {
  TjHandle handle(tjInitDecompress());
  if (!handle) return std::nullopt;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  auto* data = const_cast<unsigned char*>(jpeg.data());
  const auto size = static_cast<unsigned long>(jpeg.size());
  if (tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling, &colorspace) !=
      0) {
    return std::nullopt;
  }
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  if (tjDecompress2(handle.get(), data, size, pixels.data(), width, 0, height, TJPF_RGB,
                    TJFLAG_STOPONWARNING) != 0) {
    return std::nullopt;
  }
  return DecodedSize{width, height};
}

}  // namespace veltora::testing
