// TIFF blocks laid out at explicit offsets in either byte order (the reader
// tests pin exact offsets), wrapped into a JPEG with the shared builder. The
// bytes are laid here, not by the reader's own encoder, so that a fault there
// cannot hide behind the same fault in the files the tests read.
#ifndef VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_
#define VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "exif/tiff_value.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

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
    const uint8_t hi = uint8_t(v >> 8), lo = uint8_t(v);
    bytes_[at] = order_ ? hi : lo;
    bytes_[at + 1] = order_ ? lo : hi;
    return *this;
  }
  Block& U32(size_t at, uint32_t v) {
    U16(at + (order_ ? 0 : 2), uint16_t(v >> 16));
    return U16(at + (order_ ? 2 : 0), uint16_t(v));
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
  // A directory at `at`: count, the entries, next. An entry's `value` is the
  // offset of a value over 4 bytes; inline, it holds BYTE/ASCII/UNDEFINED
  // bytes as InlineBytes() packs them, one SHORT, two SHORTs (the first in
  // the high half) or a 32-bit number.
  Block& Ifd(size_t at, const std::vector<IfdEntry>& entries, uint32_t next = 0) {
    U16(at, static_cast<uint16_t>(entries.size()));
    size_t p = at + 2;
    for (const IfdEntry& e : entries) {
      U16(p, e.tag).U16(p + 2, e.type).U32(p + 4, e.count).U32(p + 8, 0);
      const uint64_t size = uint64_t{kSizes[e.type < 13 ? e.type : 0]} * e.count;
      if (size > 4) {
        U32(p + 8, e.value);
      } else if (e.type == kTypeByte || e.type == kTypeAscii || e.type == 6 ||
                 e.type == kTypeUndefined) {
        for (uint32_t i = 0; i < size; ++i) bytes_[p + 8 + i] = uint8_t(e.value >> (8 * i));
      } else if ((e.type == kTypeShort || e.type == 8) && e.count == 2) {
        U16(p + 8, uint16_t(e.value >> 16)).U16(p + 10, uint16_t(e.value));
      } else if (e.type == kTypeShort || e.type == 8) {
        U16(p + 8, uint16_t(e.value));
      } else if (size > 0) {
        U32(p + 8, e.value);
      }
      p += 12;
    }
    return U32(p, next);
  }

 private:
  // Bytes per element of TIFF types 1-12 (0 for an unknown code).
  static constexpr uint8_t kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  ByteOrder order_;
  std::vector<uint8_t> bytes_;
};

// Inline bytes of a short text or byte value, as IfdEntry::value holds them.
inline uint32_t InlineBytes(std::string_view b) {
  uint32_t v = 0;
  for (size_t i = 0; i < b.size() && i < 4; ++i) v |= uint32_t{uint8_t(b[i])} << (8 * i);
  return v;
}

// A JPEG of 16x8 pixels: SOI, [JFIF APP0,] APP1 "Exif\0\0" + `tiff`, SOF0, SOS, EOI.
inline std::vector<uint8_t> ExifJpeg(const Block& tiff, bool with_jfif = false) {
  veltora::testing::JpegBuilder jpeg;
  jpeg.Soi();
  if (with_jfif) jpeg.App0Jfif();
  return jpeg.App1Exif(tiff.bytes()).Sof0(16, 8).Sos(std::vector<uint8_t>(64, 0x55)).Eoi().Bytes();
}

// `bytes` as a file in a scratch directory removed when the object goes.
class ScratchFile {
 public:
  explicit ScratchFile(const std::vector<uint8_t>& bytes) : path_(dir_ / "file") {
    veltora::testing::WriteFile(path_, bytes);
  }
  const char* path() const { return path_.c_str(); }

 private:
  veltora::testing::TempDir dir_;
  std::filesystem::path path_;
};

}  // namespace veltora::exif::test

#endif  // VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_
