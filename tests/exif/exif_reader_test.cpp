#include "exif/exif_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::exif {
namespace {

namespace t = veltora::testing;

// IFD0 (Make, Orientation, XResolution), an EXIF directory (ExifVersion,
// ExposureTime, DateTimeOriginal) and IFD1 (Orientation, DateTime, a JPEG
// thumbnail), in a JPEG of 16x8 pixels: SOI, APP1 "Exif\0\0", SOF0, SOS, EOI.
t::TiffBuilder StandardTiff(t::Endian order) {
  t::TiffBuilder b(order);
  b.Ascii(t::kIfd0, 271, "Maker")
      .Short(t::kIfd0, 274, 6)
      .Rational(t::kIfd0, 282, 300, 1)
      .Undefined(t::kExif, kTagExifVersion, {'0', '2', '2', '1'})
      .Rational(t::kExif, 33434, 1, 250)
      .Ascii(t::kExif, kTagDateTimeOriginal, "2006:05:14 09:30:05")
      .Short(t::kIfd1, 274, 3)
      .Ascii(t::kIfd1, kTagDateTime, "2006:05:14 09:30:05")
      .JpegThumbnail({0xFF, 0xD8, 't', 'h', 'u', 'm', 'b', 'n', 'a', 'i', 'l', '!', '!', 0, 0xFF, 0xD9});
  return b;
}

std::vector<uint8_t> ExifJpeg(const t::TiffBuilder& tiff) {
  return t::JpegBuilder().Soi().App1Exif(tiff.Bytes()).Sof0(16, 8)
      .Sos(std::vector<uint8_t>(64, 0x55)).Eoi().Bytes();
}

// Runs `check` over every way of reading the same bytes: from memory and
// from a file, with and without loaded data. They must agree.
void ForEachReader(const std::vector<uint8_t>& file,
                   const std::function<void(ExifReader&, const std::string&)>& check) {
  t::TempDir dir;
  const std::filesystem::path path = dir / "file";
  t::WriteFile(path, file);
  for (uint32_t load : {0u, 1u}) {
    ExifReader in_memory(file, load, 0);
    check(in_memory, std::string("memory load=") + std::to_string(load));
    ExifReader on_disk(path.c_str(), load, load);  // file readers also try the page allocator
    check(on_disk, std::string("file load=") + std::to_string(load));
  }
}

class ExifReaderTest : public ::testing::TestWithParam<t::Endian> {
 protected:
  t::Endian order() const { return GetParam(); }
};

TEST_P(ExifReaderTest, ScansAnExifJpegAndAnswersFromEverySource) {
  const t::TiffBuilder tiff = StandardTiff(order());
  const auto jpeg = ExifJpeg(tiff);
  const uint32_t ifd1 = tiff.Layout().block_offset.at(t::kIfd1);
  ForEachReader(jpeg, [&](ExifReader& r, const std::string& how) {
    SCOPED_TRACE(how);
    EXPECT_EQ(r.valid, 1u);
    EXPECT_EQ(r.byteOrder, order() == t::kBig ? kBigEndian : kLittleEndian);
    EXPECT_EQ(r.tiffHeaderOffset, 2u + 10u);
    EXPECT_EQ(r.app1Offset, 2u);
    EXPECT_EQ(r.IsExif(), 1);
    EXPECT_EQ(r.IsExifJpeg(), 1);
    EXPECT_EQ(r.IsExifTiff(), 0);
    EXPECT_EQ(r.GetImageSize().width, 16u);
    EXPECT_EQ(r.GetImageSize().height, 8u);
    EXPECT_EQ(r.thumbnailImage.ifdOffset, ifd1);
    EXPECT_EQ(r.dataSize, r.app1Length - 8u);
    // Orientations, version and capture time: see the query exports' tests.
    EXPECT_EQ(r.GetOrientationTag(2), 0);

    IfdEntry exposure;
    exposure.tag = 33434;
    ASSERT_EQ(r.FindEntry(kExifIfd, &exposure), 1);
    uint8_t buffer[64];
    std::memset(buffer, 0x77, sizeof buffer);
    ASSERT_EQ(r.GetEntryValue(&exposure, buffer, 64), 1u);
    uint32_t pair[2];
    std::memcpy(pair, buffer, 8);
    EXPECT_EQ(pair[0], 1u);
    EXPECT_EQ(pair[1], 250u);
    for (int i = 8; i < 64; ++i) ASSERT_EQ(buffer[i], 0) << i;

    std::string text;
    EXPECT_EQ(r.ReadDateText(0, 16, &text), 1);
    EXPECT_EQ(text, "2006:05:14 09:30:05");
    EXPECT_EQ(r.ReadDateText(1, 0, &text), 1);
    EXPECT_EQ(r.ReadDateText(1, 16, &text), 0);  // code 258 is refused
    EXPECT_EQ(r.ReadDateText(0, 5, &text), 0);

    std::vector<uint8_t> thumbnail;
    ASSERT_EQ(r.GetThumbnail(&thumbnail), 16u);
    EXPECT_EQ(thumbnail.front(), 0xFF);
    EXPECT_EQ(thumbnail[2], 't');
  });
}

TEST_P(ExifReaderTest, HeadersThatFailOrLocateNothing) {
  const std::vector<uint8_t> seven = {'I', 'I', 42, 0, 8, 0, 0};
  EXPECT_EQ(ExifReader(seven, 0, 0).valid, 0u);
  EXPECT_EQ(ExifReader(static_cast<const char*>(nullptr), 0, 0).valid, 0u);
  EXPECT_EQ(ExifReader("/nonexistent/veltora/none.jpg", 0, 0).valid, 0u);
  const t::TiffBuilder tiff = t::TiffBuilder(order()).Short(t::kIfd0, 256, 5);
  // That block with its header changed at `at`.
  const auto patched = [&](size_t at, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> block = tiff.Bytes();
    std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
    return block;
  };
  const auto bad_mark = patched(0, {'I', 'M'});
  EXPECT_EQ(ExifReader(bad_mark, 0, 0).valid, 0u);
  const auto big_tiff = patched(2, tiff.U16({43}));
  ExifReader r(big_tiff, 1, 0);
  EXPECT_EQ(r.valid, 1u);  // readable, but nothing is located
  EXPECT_EQ(r.ifd0Offset, 0u);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_EQ(r.HasTiffDimensions(), 0);
  // An IFD0 offset below the header fails the summary, and so the scan.
  const auto low = patched(4, tiff.U32({4}));
  EXPECT_EQ(ExifReader(low, 0, 0).valid, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, ExifReaderTest, ::testing::Values(t::kLittle, t::kBig),
                         [](const auto& param_info) { return std::string(t::EndianName(param_info.param)); });

}  // namespace
}  // namespace veltora::exif
