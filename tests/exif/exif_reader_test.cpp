#include "exif/exif_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "exif_test_files.h"

namespace veltora::exif {
namespace {

using test::Block;
using test::ExifJpeg;
using test::InlineBytes;
using test::ScratchFile;

// A TIFF block with IFD0 (Make, Orientation, XResolution, EXIF pointer, a
// PrintIM block), an EXIF directory (DateTimeOriginal, ExposureTime,
// ExifVersion) and IFD1 (Orientation, DateTime, a JPEG thumbnail).
Block StandardTiff(ByteOrder order) {
  Block b(order);
  b.Header(8);
  b.Ifd(8,
        {{271, kTypeAscii, 6, 0x80},
         {274, kTypeShort, 1, 6},
         {282, kTypeRational, 1, 0x88},
         {kTagExifIfdPointer, kTypeLong, 1, 0x100}},
        0x200);
  b.Raw(0x80, std::string("Maker\0", 6));
  b.U32(0x88, 300).U32(0x8C, 1);
  b.Ifd(0x100,
        {{kTagExifVersion, kTypeUndefined, 4, InlineBytes("0221")},
         {33434, kTypeRational, 1, 0x140},
         {kTagDateTimeOriginal, kTypeAscii, 20, 0x150}});
  b.U32(0x140, 1).U32(0x144, 250);
  b.Raw(0x150, std::string("2006:05:14 09:30:05\0", 20));
  b.Ifd(0x200, {{274, kTypeShort, 1, 3},
                {kTagDateTime, kTypeAscii, 20, 0x150},
                {kTagJpegInterchangeFormat, kTypeLong, 1, 0x240},
                {kTagJpegInterchangeFormatLength, kTypeLong, 1, 16}});
  b.Raw(0x240, std::string("\xFF\xD8thumbnail!!\xFF\xD9", 16));
  b.Grow(0x260);
  return b;
}

// Runs `check` over every way of reading the same bytes: from memory and
// from a file, with and without loaded data. They must agree.
void ForEachReader(const std::vector<uint8_t>& file,
                   const std::function<void(ExifReader&, const std::string&)>& check) {
  ScratchFile scratch(file);
  for (uint32_t load : {0u, 1u}) {
    ExifReader in_memory(file, load, 0);
    check(in_memory, std::string("memory load=") + std::to_string(load));
    ExifReader on_disk(scratch.path(), load, load);  // file readers also try the page allocator
    check(on_disk, std::string("file load=") + std::to_string(load));
  }
}

class ExifReaderTest : public ::testing::TestWithParam<ByteOrder> {
 protected:
  ByteOrder order() const { return GetParam(); }
};

TEST_P(ExifReaderTest, ScansAnExifJpegAndAnswersFromEverySource) {
  const auto jpeg = ExifJpeg(StandardTiff(order()));
  ForEachReader(jpeg, [&](ExifReader& r, const std::string& how) {
    SCOPED_TRACE(how);
    EXPECT_EQ(r.valid, 1u);
    EXPECT_EQ(r.byteOrder, order());
    EXPECT_EQ(r.tiffHeaderOffset, 2u + 10u);
    EXPECT_EQ(r.app1Offset, 2u);
    EXPECT_EQ(r.IsExif(), 1);
    EXPECT_EQ(r.IsExifJpeg(), 1);
    EXPECT_EQ(r.IsExifTiff(), 0);
    EXPECT_EQ(r.GetImageSize().width, 16u);
    EXPECT_EQ(r.GetImageSize().height, 8u);
    EXPECT_EQ(r.thumbnailImage.ifdOffset, 0x200u);
    EXPECT_EQ(r.dataSize, r.app1Length - 8u);
    EXPECT_EQ(r.GetOrientationTag(0), 6);
    EXPECT_EQ(r.GetOrientationTag(1), 3);
    EXPECT_EQ(r.GetOrientationTag(2), 0);
    EXPECT_EQ(r.IsExifVersion22(), 1);

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
    SYSTEMTIME when;
    ASSERT_EQ(r.GetCaptureTime(&when), 1);
    EXPECT_EQ(when.wYear, 2006);
    EXPECT_EQ(when.wSecond, 5);

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
  Block bad_mark(order());
  bad_mark.Header().Raw(0, "IM").Grow(32);
  EXPECT_EQ(ExifReader(bad_mark.bytes(), 0, 0).valid, 0u);
  Block big_tiff(order());
  big_tiff.Header(8, 43).Ifd(8, {{256, kTypeShort, 1, 5}});
  ExifReader r(big_tiff.bytes(), 1, 0);
  EXPECT_EQ(r.valid, 1u);  // readable, but nothing is located
  EXPECT_EQ(r.ifd0Offset, 0u);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_EQ(r.HasTiffDimensions(), 0);
  // An IFD0 offset below the header fails the summary, and so the scan.
  Block low(order());
  low.Header(4).Grow(64);
  EXPECT_EQ(ExifReader(low.bytes(), 0, 0).valid, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, ExifReaderTest,
                         ::testing::Values(kLittleEndian, kBigEndian), test::OrderName);

}  // namespace
}  // namespace veltora::exif
