#include "exif/exif_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exif_test_files.h"

namespace veltora::exif {
namespace {

using test::Block;
using test::ExifJpeg;
using test::InlineBytes;
using test::ScratchFile;
using veltora::testing::JpegBuilder;

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

TEST_P(ExifReaderTest, DirectoryCodesAndTextCapacities) {
  const auto jpeg = ExifJpeg(StandardTiff(order()));
  ForEachReader(jpeg, [&](ExifReader& r, const std::string& how) {
    SCOPED_TRACE(how);
    IfdEntry entry;
    entry.tag = 1;
    EXPECT_EQ(r.FindEntry(kInteropIfd, &entry), 0);
    for (uint32_t code : {0u, 5u, 17u, 256u, 258u}) EXPECT_EQ(r.FindEntry(code, &entry), -1) << code;
    EXPECT_EQ(r.FindEntry(kIfd0, nullptr), -1);
    entry.tag = 0x1234;
    EXPECT_EQ(r.FindEntry(kIfd0, &entry), 0);
    EXPECT_EQ(r.FindEntry(kGpsIfd, &entry), 0);  // absent directory

    IfdEntry date;
    date.tag = kTagDateTimeOriginal;
    ASSERT_EQ(r.FindEntry(kExifIfd, &date), 1);
    char twenty[20];
    EXPECT_EQ(r.GetEntryValue(&date, twenty, 20), 20u);
    EXPECT_STREQ(twenty, "2006:05:14 09:30:05");
    char ten[12] = "xxxxxxxxxxx";
    EXPECT_EQ(r.GetEntryValue(&date, ten, 10), 10u);
    EXPECT_STREQ(ten, "2006:05:1");
    EXPECT_EQ(ten[10], 'x');  // nothing past the capacity

    IfdEntry exposure;
    exposure.tag = 33434;
    ASSERT_EQ(r.FindEntry(kExifIfd, &exposure), 1);
    uint8_t small[7] = {9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(r.GetEntryValue(&exposure, small, 7), 0u);
    EXPECT_EQ(small[0], 9);  // below one item: untouched

    std::vector<IfdEntry> list(2);
    list[0].tag = kTagJpegInterchangeFormatLength;
    list[1].tag = 274;
    ASSERT_EQ(r.CollectEntries(kIfd1, &list), 2);
    EXPECT_EQ(list[0].tag, 274);  // directory order, not request order
    EXPECT_EQ(list[1].tag, kTagJpegInterchangeFormatLength);
    list.clear();
    EXPECT_EQ(r.CollectEntries(kIfd1, &list), 4);
    EXPECT_EQ(r.CollectEntries(kGpsIfd, &list), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(r.CollectEntries(9, &list), -1);
  });
}

TEST_P(ExifReaderTest, SegmentRecordsDecideWhatIsExif) {
  const Block tiff = StandardTiff(order());
  {  // JFIF before EXIF: the EXIF data is read, but the file is not an EXIF file.
    const auto bytes_r = ExifJpeg(tiff, true);
    ExifReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.valid, 1u);
    EXPECT_EQ(r.HasExifIfd(), 1);
    EXPECT_EQ(r.IsExif(), 0);
    EXPECT_STREQ(r.app0Identifier, "JFIF");
    Rational x, y;
    ASSERT_EQ(r.GetResolution(&x, &y), 1);
    EXPECT_EQ(x.numerator, 72u);
    EXPECT_EQ(y.denominator, 1u);
  }
  {  // A later APP1 of another kind is the one examined.
    const std::string xmp("http://ns.adobe.com/xap/1.0/\0<x/>", 34);
    const auto bytes_r = JpegBuilder().Soi().App1Exif(tiff.bytes())
                             .App1({xmp.begin(), xmp.end()}).Sof0(16, 8).Eoi().Bytes();
    ExifReader r(bytes_r, 0, 0);
    EXPECT_EQ(r.valid, 0u);
  }
  {  // No APP1 at all: usable, not EXIF, nothing loaded.
    const auto bytes_r = JpegBuilder().Soi().App0Jfif(1, 300, 300).Sof0(16, 8).Eoi().Bytes();
    ExifReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.valid, 1u);
    EXPECT_EQ(r.IsExif(), 0);
    EXPECT_EQ(r.data, nullptr);
    EXPECT_EQ(r.LoadExifData(0, nullptr), nullptr);
    EXPECT_EQ(r.jfifXDensity, 300);
  }
  {  // APP6 print matching and an APP1 too short for EXIF data.
    const std::string print_im("PrintIM\0" "0300", 12);
    const auto bytes_r = JpegBuilder().Soi().App6PrintIm({print_im.begin(), print_im.end()})
                             .App1({'s', 'h', 'o', 'r', 't'}).Sof0(16, 8).Eoi().Bytes();
    ExifReader r(bytes_r, 0, 0);
    EXPECT_EQ(r.valid, 1u);
    EXPECT_EQ(r.printImOffset, r.app6Offset + 4);
    EXPECT_EQ(r.printImLength, 12);
    EXPECT_EQ(r.HasExifIfd(), 0);
  }
}

TEST_P(ExifReaderTest, App1LengthDecidesTheMetadataRange) {
  Block tiff = StandardTiff(order());
  tiff.Grow(0x400);
  // The declared APP1 length cuts the TIFF block short; the walk goes on
  // behind it over the rest of the block, which reads as unknown segments.
  const auto jpeg = JpegBuilder().Soi().App1Exif(tiff.bytes()).WithLength(0x0100).Eoi().Bytes();
  ExifReader r(jpeg, 1, 0);
  ASSERT_EQ(r.valid, 1u);
  EXPECT_EQ(r.dataSize, 0xF8u);
  EXPECT_EQ(r.dataLoadedSize, 0xF8u);
  // The thumbnail (at 0x240) lies beyond the range: its value reads as absent.
  uint32_t offset = 1, length = 1;
  EXPECT_EQ(r.GetThumbnailLocation(&offset, &length), 0);
}

TEST_P(ExifReaderTest, TiffFilesAndTheirMetadataRange) {
  for (uint32_t exif_at : {0x100u, 0x3000u}) {
    Block b(order());
    b.Header(8);
    b.Ifd(8, {{256, kTypeLong, 1, 64},
              {257, kTypeShort, 1, 48},
              {kTagStripOffsets, kTypeLong, 1, 0x2000},
              {kTagRowsPerStrip, kTypeShort, 1, 10},
              {kTagExifIfdPointer, kTypeLong, 1, exif_at}});
    b.Ifd(exif_at, {{kTagExifVersion, kTypeUndefined, 4, InlineBytes("0220")}});
    b.Grow(0x3100);
    ForEachReader(b.bytes(), [&](ExifReader& r, const std::string& how) {
      SCOPED_TRACE(how + " exif at " + std::to_string(exif_at));
      EXPECT_EQ(r.valid, 1u);
      EXPECT_EQ(r.tiffHeaderOffset, 0u);
      EXPECT_EQ(r.dataSize, exif_at < 0x2000 ? 0x2000u : 0x3100u);
      EXPECT_EQ(r.IsExifTiff(), 1);
      EXPECT_EQ(r.primaryImage.stripsPerImage, 5u);
      EXPECT_EQ(r.primaryImage.planarConfiguration, 1u);
      EXPECT_EQ(r.GetImageSize().width, 64u);
      EXPECT_EQ(r.IsExifVersion22(), 1);
    });
  }
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

TEST_P(ExifReaderTest, AHeaderCutByTheEndOfTheFileRecordsWhatIsLeft) {
  // An APP1 marker with one length byte.
  std::vector<uint8_t> cut = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xE1, 0x00};
  ExifReader r(cut, 0, 0);
  EXPECT_EQ(r.valid, 1u);
  EXPECT_EQ(r.app1Offset, 6u);
  EXPECT_EQ(r.app1Length, 1u);
}

TEST_P(ExifReaderTest, EmptyIfd0AndDirectoriesThatLinkBack) {
  Block b(order());
  b.Header(8).Ifd(8, {});
  ExifReader empty(b.bytes(), 0, 0);
  EXPECT_EQ(empty.valid, 1u);
  EXPECT_EQ(empty.thumbnailImage.ifdOffset, empty.ifd0Offset);

  // IFD1 is IFD0 itself and the EXIF pointer points at IFD0: every lookup
  // still ends, and the thumbnail summary reads IFD0's entries.
  Block loop(order());
  loop.Header(8).Ifd(8, {{256, kTypeShort, 1, 4}, {257, kTypeShort, 1, 4},
                         {kTagExifIfdPointer, kTypeLong, 1, 8}}, 8);
  ForEachReader(loop.bytes(), [&](ExifReader& r, const std::string& how) {
    SCOPED_TRACE(how);
    EXPECT_EQ(r.thumbnailImage.ifdOffset, 8u);
    ImageDescription d;
    ASSERT_EQ(r.GetImageDescription(kIfd1, &d), 1);
    EXPECT_EQ(d.width, 4u);
    EXPECT_EQ(r.HasThumbnailDirectory(), 1);
    IfdEntry e;
    e.tag = kTagExifIfdPointer;
    EXPECT_EQ(r.FindEntry(kExifIfd, &e), 1);
  });
}

TEST_P(ExifReaderTest, ValuesOutsideTheBytesAreAbsent) {
  struct {
    uint32_t count, offset;
  } cases[] = {{6, 0xFFFFFFFF}, {0xFFFFFFFF, 26}, {6, 0xFFFFFFFC}, {8, 0x1FF}, {0x40000000, 8}};
  for (const auto& c : cases) {
    Block b(order());
    b.Header(8).Ifd(8, {{256, kTypeShort, 1, 4}, {257, kTypeShort, 1, 4},
                        {271, kTypeAscii, c.count, c.offset},
                        {kTagExifIfdPointer, kTypeLong, 1, 8}});
    b.Grow(0x200);
    ForEachReader(b.bytes(), [&](ExifReader& r, const std::string& how) {
      IfdEntry make;
      make.tag = 271;
      ASSERT_EQ(r.FindEntry(kIfd0, &make), 1);
      char buffer[16] = "untouched";
      EXPECT_EQ(r.GetEntryValue(&make, buffer, sizeof buffer), 0u)
          << how << " count=" << c.count << " offset=" << c.offset;
      EXPECT_STREQ(buffer, "untouched");
    });
  }
  // A directory whose count promises more entries than the bytes hold.
  Block big(order());
  big.Header(8).Ifd(8, {{256, kTypeShort, 1, 4}, {257, kTypeShort, 1, 4},
                        {kTagExifIfdPointer, kTypeLong, 1, 0x40}});
  big.U16(0x40, 0xFFFF).Grow(0x60);
  ForEachReader(big.bytes(), [&](ExifReader& r, const std::string& how) {
    IfdEntry e;
    e.tag = 1;
    EXPECT_EQ(r.FindEntry(kExifIfd, &e), 0) << how;
  });
}

TEST_P(ExifReaderTest, LoadedDataBoundsValuesEvenWhenTheFileHoldsThem) {
  Block b(order());
  b.Header(8).Ifd(8, {{256, kTypeShort, 1, 4},
                      {257, kTypeShort, 1, 4},
                      {271, kTypeAscii, 6, 0x90},
                      {kTagStripOffsets, kTypeLong, 1, 0x80},
                      {kTagExifIfdPointer, kTypeLong, 1, 0x40}});
  b.Ifd(0x40, {});
  b.Raw(0x90, std::string("Maker\0", 6));
  ExifReader loaded(b.bytes(), 1, 0);
  ExifReader unloaded(b.bytes(), 0, 0);
  ASSERT_EQ(loaded.dataSize, 0x80u);
  IfdEntry make;
  make.tag = 271;
  ASSERT_EQ(loaded.FindEntry(kIfd0, &make), 1);
  char text[8];
  EXPECT_EQ(loaded.GetEntryValue(&make, text, 8), 0u);
  EXPECT_EQ(unloaded.GetEntryValue(&make, text, 8), 6u);
  EXPECT_STREQ(text, "Maker");
}

TEST_P(ExifReaderTest, DateTextMustBeTwentyBytes) {
  Block b = StandardTiff(order());
  b.Ifd(0x100, {{kTagDateTimeOriginal, kTypeAscii, 19, 0x150},
                {kTagDateTimeDigitized, kTypeAscii, 21, 0x150}});
  ForEachReader(ExifJpeg(b), [&](ExifReader& r, const std::string& how) {
    SCOPED_TRACE(how);
    std::string text;
    EXPECT_EQ(r.ReadDateText(0, 16, &text), 0);
    EXPECT_EQ(text, "2006:05:14 09:30:0");  // 19 bytes delivered: 18 characters and a NUL
    EXPECT_EQ(r.ReadDateText(0, 17, &text), 0);
    SYSTEMTIME t;
    EXPECT_EQ(r.GetCaptureTime(&t), 0);
  });
}

TEST_P(ExifReaderTest, JpegThumbnailIsClampedToTheMetadataRange) {
  Block b = StandardTiff(order());
  b.Ifd(0x200, {{kTagJpegInterchangeFormat, kTypeLong, 1, 0x240},
                {kTagJpegInterchangeFormatLength, kTypeLong, 1, 5000}});
  b.Grow(0x240 + 100);
  ForEachReader(ExifJpeg(b), [&](ExifReader& r, const std::string& how) {
    SCOPED_TRACE(how);
    uint32_t offset = 0, length = 0;
    EXPECT_EQ(r.GetThumbnailLocation(&offset, &length), 1);
    EXPECT_EQ(offset, 0x240u);
    EXPECT_EQ(length, 100u);
    std::vector<uint8_t> thumbnail;
    EXPECT_EQ(r.GetThumbnail(&thumbnail), 100u);
    EXPECT_EQ(thumbnail.size(), 100u);
    EXPECT_EQ(r.data != nullptr, r.dataLoadedSize != 0);
  });
}

TEST_P(ExifReaderTest, TiffThumbnailIsTheWholeBlockRootedAtIfd1) {
  Block b(order());
  b.Header(8).Ifd(8, {{256, kTypeShort, 1, 4}, {257, kTypeShort, 1, 4},
                      {kTagStripOffsets, kTypeLong, 1, 0x1800},
                      {kTagExifIfdPointer, kTypeLong, 1, 0x40}}, 0x1234);
  b.Ifd(0x40, {});
  b.Ifd(0x1234, {{256, kTypeShort, 1, 2}, {kTagStripOffsets, kTypeShort, 2, 0x1300}});
  b.U16(0x1300, 0x1400).U16(0x1302, 0x1500).Grow(0x1800);
  ExifReader r(b.bytes(), 1, 0);
  uint32_t offset = 9, length = 0;
  ASSERT_EQ(r.GetThumbnailLocation(&offset, &length), 1);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(length, 0x1800u);
  std::vector<uint8_t> copy;
  ASSERT_EQ(r.GetThumbnail(&copy), 0x1800u);
  EXPECT_EQ(Read32(copy.data() + 4, order()), 0x1234u);
  EXPECT_EQ(copy[0], order() ? 'M' : 'I');
  // Without loaded data a TIFF thumbnail is loaded for the call and released.
  ExifReader unloaded(b.bytes(), 0, 0);
  EXPECT_EQ(unloaded.GetThumbnail(&copy), 0x1800u);
  EXPECT_EQ(unloaded.data, nullptr);
}

TEST_P(ExifReaderTest, LoadAndFreeAreRepeatable) {
  const auto jpeg = ExifJpeg(StandardTiff(order()));
  ExifReader r(jpeg, 0, 0);
  uint32_t loaded = 7;
  ASSERT_NE(r.LoadExifData(1, &loaded), nullptr);
  EXPECT_EQ(loaded, r.dataSize);
  EXPECT_NE(r.LoadExifData(0, &loaded), nullptr);
  EXPECT_EQ(loaded, 0u);  // already loaded: this call did not load
  EXPECT_EQ(r.FreeExifData(), 1);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_EQ(r.dataLoadedSize, 0u);
  EXPECT_NE(r.LoadExifData(0, nullptr), nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, ExifReaderTest,
                         ::testing::Values(kLittleEndian, kBigEndian), test::OrderName);

}  // namespace
}  // namespace veltora::exif
