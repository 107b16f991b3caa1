// Small local builders for reader tests: TIFF blocks laid out at explicit
// offsets in either byte order, wrapped into JPEG segments, and written to a
// scratch file when a test needs the file path.
#ifndef VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_
#define VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "exif/byte_order.h"
#include "exif/tiff_value.h"

namespace veltora::exif::test {

inline std::string OrderName(const ::testing::TestParamInfo<ByteOrder>& param) {
  return param.param ? "MM" : "II";
}

// Bytes placed at explicit offsets; the block grows as needed.
class Block {
 public:
  explicit Block(ByteOrder order) : order_(order) {}
  ByteOrder order() const { return order_; }
  std::vector<uint8_t>& bytes() { return bytes_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  Block& Grow(size_t size) {
    if (bytes_.size() < size) bytes_.resize(size);
    return *this;
  }
  Block& U16(size_t at, uint16_t v) {
    Grow(at + 2);
    Write16(bytes_.data() + at, v, order_);
    return *this;
  }
  Block& U32(size_t at, uint32_t v) {
    Grow(at + 4);
    Write32(bytes_.data() + at, v, order_);
    return *this;
  }
  Block& Raw(size_t at, std::string_view raw) {
    Grow(at + raw.size());
    std::memcpy(bytes_.data() + at, raw.data(), raw.size());
    return *this;
  }
  // "II"/"MM", 42, IFD0 offset.
  Block& Header(uint32_t ifd0 = 8, uint16_t magic = 42) {
    Raw(0, order_ ? "MM" : "II");
    U16(2, magic);
    return U32(4, ifd0);
  }
  // A directory at `at`: count, the entries as given (EncodeEntry form), next.
  Block& Ifd(size_t at, const std::vector<IfdEntry>& entries, uint32_t next = 0) {
    U16(at, static_cast<uint16_t>(entries.size()));
    size_t p = at + 2;
    for (const IfdEntry& e : entries) {
      Grow(p + 12);
      EncodeEntry(bytes_.data() + p, order_, e);
      p += 12;
    }
    return U32(p, next);
  }

 private:
  ByteOrder order_;
  std::vector<uint8_t> bytes_;
};

// Inline bytes of a short text or byte value, as IfdEntry::value holds them.
inline uint32_t InlineBytes(std::string_view b) {
  uint32_t v = 0;
  for (size_t i = 0; i < b.size() && i < 4; ++i) v |= uint32_t{uint8_t(b[i])} << (8 * i);
  return v;
}

inline void AppendSegment(std::vector<uint8_t>* out, uint8_t marker, std::string_view payload,
                          int length_field = -1) {
  const uint32_t length = length_field >= 0 ? uint32_t(length_field) : uint32_t(payload.size() + 2);
  out->insert(out->end(), {0xFF, marker, uint8_t(length >> 8), uint8_t(length)});
  out->insert(out->end(), payload.begin(), payload.end());
}

inline std::string_view AsText(const std::vector<uint8_t>& v) {
  return {reinterpret_cast<const char*>(v.data()), v.size()};
}

inline std::string Jfif(uint16_t x_density, uint16_t y_density) {
  std::string p("JFIF\0\1\2\1", 8);
  p += char(x_density >> 8);
  p += char(x_density);
  p += char(y_density >> 8);
  p += char(y_density);
  return p + std::string(2, '\0');
}

inline std::string Sof0(uint16_t width, uint16_t height) {
  std::string p(1, 8);
  p += char(height >> 8);
  p += char(height);
  p += char(width >> 8);
  p += char(width);
  p += char(3);
  return p + std::string(9, '\1');
}

// A JPEG: SOI, the given APPn segments (marker, payload), SOF0, SOS, scan bytes, EOI.
struct JpegParts {
  std::vector<std::pair<uint8_t, std::string>> segments;
  uint16_t width = 16, height = 8;
};

inline std::string ExifPayload(const Block& tiff) {
  return std::string("Exif\0\0", 6) + std::string(AsText(tiff.bytes()));
}

inline std::vector<uint8_t> Jpeg(const JpegParts& parts) {
  std::vector<uint8_t> out = {0xFF, 0xD8};
  for (const auto& [marker, payload] : parts.segments) AppendSegment(&out, marker, payload);
  AppendSegment(&out, 0xC0, Sof0(parts.width, parts.height));
  AppendSegment(&out, 0xDA, std::string("\3\1\0\2\x11\3\x11\0\77\0", 10));
  out.insert(out.end(), 64, 0x55);
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

inline std::vector<uint8_t> ExifJpeg(const Block& tiff, bool with_jfif = false) {
  JpegParts parts;
  if (with_jfif) parts.segments.push_back({0xE0, Jfif(72, 72)});
  parts.segments.push_back({0xE1, ExifPayload(tiff)});
  return Jpeg(parts);
}

// A scratch file removed when the object goes.
class ScratchFile {
 public:
  explicit ScratchFile(const std::vector<uint8_t>& bytes) {
    char name[] = "/tmp/veltora-exif-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
      EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
      close(fd);
    }
    path_ = name;
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

}  // namespace veltora::exif::test

#endif  // VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_
