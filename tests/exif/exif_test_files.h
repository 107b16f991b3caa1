// TIFF blocks laid out at explicit offsets in either byte order (the reader
// tests pin exact offsets), wrapped into a JPEG with the shared builder.
#ifndef VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_
#define VELTORA_TESTS_EXIF_EXIF_TEST_FILES_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "exif/byte_order.h"
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
