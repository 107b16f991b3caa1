// The record parser over TIFF blocks and files the builder lays out, in both
// byte orders.
#include "info/record_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "frame/veltora.h"
#include "info/exif_records.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::info {
namespace {

using testing::Endian;
using testing::TiffBuilder;
namespace t = veltora::testing;

// The records of one parse, freed with the test.
struct Parsed {
  ImageInfoList list{};  // before `result`, which the parse initialises
  HRESULT result = E_FAIL;
  Parsed() = default;
  Parsed(const std::vector<uint8_t>& block, uint32_t flags)
      : result(ParseTiffBlock(block.data(), static_cast<uint32_t>(block.size()), &list, flags)) {}
  ~Parsed() { ImageInfoListDestroy(&list); }
  template <typename R>
  const R* Find(uint32_t type) const {
    return static_cast<const R*>(ImageInfoListFind(&list, type));
  }
  std::vector<uint32_t> Types() const {
    std::vector<uint32_t> types;
    ImageInfoListVisit(&list, [&](uint32_t type, void*) { types.push_back(type); });
    return types;
  }
};

std::string Text(const CString& s) {
  return std::string(CStringGet(&s), static_cast<size_t>(CStringLength(&s)));
}

class RecordParserTest : public ::testing::TestWithParam<Endian> {
 protected:
  TiffBuilder Builder() const { return TiffBuilder(GetParam()); }
  t::TempDir dir_;
};

TEST_P(RecordParserTest, EveryFieldKindSetsItsPresenceBitInBothByteOrders) {
  auto builder = Builder();
  builder.Short(t::kIfd0, 256, 640)
      .Long(t::kIfd0, 257, 480)
      .Shorts(t::kIfd0, 258, {8, 8, 8})
      .Ascii(t::kIfd0, 271, "Maker")
      .Shorts(t::kIfd0, 273, {10, 20})
      .Rational(t::kIfd0, 282, 300, 1)
      .Rationals(t::kIfd0, 318, {{3127, 10000}, {329, 1000}})
      .Undefined(t::kIfd0, 50341, {'P', 'r', 'i', 'n', 't', 'I', 'M', 0})
      .Rational(t::kExif, 33434, 1, 250)
      .Shorts(t::kExif, 34855, {200, 400})
      .Undefined(t::kExif, 36864, {'0', '2', '3', '0'})
      .SRational(t::kExif, 37377, -8, 3)
      .Undefined(t::kExif, 37510, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i'})
      .Long(t::kExif, 40962, 70000)
      .Byte(t::kExif, 41728, {3})
      .Ascii(t::kInterop, 1, "R98")
      .Short(t::kInterop, 4097, 1024)
      .Byte(t::kGps, 0, {2, 3, 0, 0})
      .Ascii(t::kGps, 1, "N")
      .Rationals(t::kGps, 2, {{48, 1}, {51, 1}, {3024, 100}})
      .Ascii(t::kIfd1, 271, "Thumb");
  Parsed p(builder.Bytes(), INFO_EXIF_RECORDS);
  ASSERT_EQ(p.result, S_OK);
  EXPECT_EQ(p.Types(),
            (std::vector<uint32_t>{INFO_TIFF_MAIN, INFO_EXIF, INFO_GPS, INFO_TIFF_THUMB}));

  // The values are held against exiftool's by the corpus tests, in files of
  // both byte orders; here, the type words and the presence bits they set.
  const auto* tiff = p.Find<TiffInfo>(INFO_TIFF_MAIN);
  // The type words as stored: SHORT for the width, LONG for the length.
  EXPECT_EQ(std::tuple(tiff->ImageWidthType, tiff->ImageLengthType), std::tuple(3, 4));
  EXPECT_EQ(tiff->mask1, TIFF_M1_IMAGE_WIDTH | TIFF_M1_IMAGE_LENGTH | TIFF_M1_BITS_PER_SAMPLE |
                             TIFF_M1_MAKE | TIFF_M1_STRIP_OFFSETS | TIFF_M1_X_RESOLUTION |
                             TIFF_M1_WHITE_POINT | TIFF_M1_EXIF_IFD_READ | TIFF_M1_GPS_IFD_READ);
  EXPECT_EQ(tiff->mask2, TIFF_M2_PRINT_IMAGE_MATCHING);
  const auto* exif = p.Find<ExifInfo>(INFO_EXIF);
  EXPECT_EQ(exif->interop_mask, INTEROP_INDEX | INTEROP_RELATED_IMAGE_WIDTH);
  EXPECT_NE(exif->mask_h & EXIF_H_INTEROP_IFD, 0u);
  EXPECT_EQ(p.Find<GpsInfo>(INFO_GPS)->mask, GPS_VERSION_ID | GPS_LATITUDE_REF | GPS_LATITUDE);
  EXPECT_EQ(Text(p.Find<TiffInfo>(INFO_TIFF_THUMB)->Make), "Thumb");
}

TEST_P(RecordParserTest, OnlyTheRequestedRecordsAreMade) {
  auto builder = Builder().Ascii(t::kIfd0, 271, "M").Short(t::kExif, 37385, 1);
  const auto without_thumb = builder.Bytes();
  const auto with_thumb = builder.Ascii(t::kGps, 1, "N").Ascii(t::kIfd1, 271, "T").Bytes();
  const struct {
    const std::vector<uint8_t>& block;
    uint32_t flags;
    std::vector<uint32_t> types;
  } cases[] = {
      // IFD0 is still walked for the pointer, but only ExifInfo comes back.
      {with_thumb, INFO_EXIF, {INFO_EXIF}},
      {with_thumb, INFO_TIFF_THUMB | INFO_GPS, {INFO_GPS, INFO_TIFF_THUMB}},
      {without_thumb, INFO_TIFF_THUMB, {}},
      {without_thumb, INFO_TIFF_MAIN | INFO_TIFF_THUMB, {INFO_TIFF_MAIN}},
      // A record the file has nothing for is still there, empty.
      {without_thumb, INFO_GPS | INFO_TIFF_MAIN, {INFO_TIFF_MAIN, INFO_GPS}},
  };
  for (const auto& c : cases) {
    Parsed p(c.block, c.flags);
    EXPECT_EQ(p.result, S_OK) << std::hex << c.flags;
    EXPECT_EQ(p.Types(), c.types) << std::hex << c.flags;
  }
  EXPECT_EQ(Parsed(with_thumb, INFO_EXIF).Find<ExifInfo>(INFO_EXIF)->Flash, 1);
  // Without the record a pointer leads to, the directory counts as not read.
  EXPECT_EQ(Parsed(with_thumb, INFO_TIFF_MAIN).Find<TiffInfo>(INFO_TIFF_MAIN)->mask1, TIFF_M1_MAKE);
}

TEST_P(RecordParserTest, TextsStopAtTheirCountTheirNulOrTheBlock) {
  // "Descriptive" with count 5 and no NUL in its first five bytes.
  auto cut = Builder().Ascii(t::kIfd0, 270, "Descriptive", false).WithCount(5);
  cut.Ascii(t::kInterop, 1, "R98 and more").WithCount(5);
  Parsed p(cut.Bytes(), INFO_TIFF_MAIN | INFO_EXIF);
  ASSERT_EQ(p.result, S_OK);
  EXPECT_EQ(Text(p.Find<TiffInfo>(INFO_TIFF_MAIN)->ImageDescription), "Descr");
  // Interoperability texts are read to their NUL, whatever the count.
  EXPECT_EQ(Text(p.Find<ExifInfo>(INFO_EXIF)->InteroperabilityIndex), "R98 and more");

  // An Interoperability text whose bytes run to the block's end without a
  // NUL ends there.
  std::vector<uint8_t> block =
      Builder().Ascii(t::kInterop, 1, "abcde", false).WithOffsetFromEnd(0).Bytes();
  for (char c : std::string("abcde")) block.push_back(static_cast<uint8_t>(c));
  Parsed end(block, INFO_EXIF);
  EXPECT_EQ(Text(end.Find<ExifInfo>(INFO_EXIF)->InteroperabilityIndex), "abcde");
}

TEST_P(RecordParserTest, ValuesOutsideTheBlockAreSkippedOrZero) {
  // A fixed-length field with fewer values than it holds, at the block's end:
  // what the block does not supply is 0.
  Parsed fixed(Builder().Shorts(t::kIfd0, 301, {7, 8, 9}).Bytes(), INFO_TIFF_MAIN);
  const auto* tiff = fixed.Find<TiffInfo>(INFO_TIFF_MAIN);
  EXPECT_EQ(std::tuple(tiff->TransferFunction[2], tiff->TransferFunction[767]), std::tuple(9, 0));

  const struct {
    const char* name;
    TiffBuilder builder;
    uint32_t mask1;
  } cases[] = {
      {"value past the end", Builder().Ascii(t::kIfd0, 271, "Make").WithOffsetFromEnd(-2), 0},
      {"offset near 2^32", Builder().Ascii(t::kIfd0, 271, "Make").WithOffset(0xFFFFFFF0), 0},
      {"count * size wraps 32 bits",
       Builder().Shorts(t::kIfd0, 273, {1, 2, 3}).WithCount(0x80000001), 0},
      {"EXIF pointer to the last byte",
       Builder()
           .Ascii(t::kIfd0, 271, "Make")
           .Short(t::kExif, 37385, 1)
           .WithoutPointer(t::kExif)
           .Long(t::kIfd0, 34665, 0)
           .WithOffsetFromEnd(-1),
       TIFF_M1_MAKE},
      {"GPS pointer to the end",
       Builder()
           .Ascii(t::kIfd0, 271, "Make")
           .Ascii(t::kGps, 1, "N")
           .WithoutPointer(t::kGps)
           .Long(t::kIfd0, 34853, 0)
           .WithOffsetFromEnd(0),
       TIFF_M1_MAKE},
  };
  for (const auto& c : cases) {
    Parsed p(c.builder.Bytes(), INFO_TIFF_MAIN | INFO_EXIF | INFO_GPS);
    ASSERT_EQ(p.result, S_OK) << c.name;
    EXPECT_EQ(p.Find<TiffInfo>(INFO_TIFF_MAIN)->mask1, c.mask1) << c.name;
    EXPECT_EQ(p.Find<ExifInfo>(INFO_EXIF)->mask_l, 0u) << c.name;
    EXPECT_EQ(p.Find<GpsInfo>(INFO_GPS)->mask, 0u) << c.name;
  }
}

TEST_P(RecordParserTest, ABadHeaderOrMainDirectoryFailsWithNothingAppended) {
  auto builder = Builder().Ascii(t::kIfd0, 271, "M").Ascii(t::kIfd1, 271, "T");
  const auto good = builder.Bytes();
  // IFD0's pointer to IFD1, after its one entry.
  const size_t ifd1_link = builder.Layout().block_offset.at(t::kIfd0) + 2 + 12;
  const bool big = GetParam() == testing::kBig;
  using Bytes = std::vector<uint8_t>;
  const struct {
    const char* name;
    size_t at;
    Bytes bytes;
  } cases[] = {
      {"byte-order mark", 0, {'I', 'M'}},
      {"magic read swapped", 2, big ? Bytes{0x2A, 0x00} : Bytes{0x00, 0x2A}},
      {"IFD0 inside the header", 4, big ? Bytes{0, 0, 0, 7} : Bytes{7, 0, 0, 0}},
      {"IFD0 past the end", 4, {0xFF, 0xFF, 0xFF, 0xF0}},
      // IFD1 outside the block fails the whole parse, IFD0's records included.
      {"IFD1 past the end", ifd1_link, {0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> block = good;
    std::copy(c.bytes.begin(), c.bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(c.at));
    Parsed p(block, INFO_EXIF_RECORDS);
    EXPECT_EQ(p.result, E_FAIL) << c.name;
    EXPECT_EQ(p.list.count, 0u) << c.name;
  }
  Parsed invalid;
  EXPECT_EQ(ParseTiffBlock(good.data(), 8, &invalid.list, 0x00100000), E_INVALIDARG);
}

// The corpus test reads JPEG, TIFF and JFIF files through CollectExifRecords;
// here, the refusals no corpus file gives.
TEST_P(RecordParserTest, FilesThatGiveNoRecords) {
  const auto builder = Builder().Ascii(t::kIfd0, 271, "Maker").Short(t::kExif, 37385, 1);
  t::WriteFile(dir_ / "picture.png", std::vector<uint8_t>{0x89, 'P', 'N', 'G'});
  // An APP1 that is not EXIF data (XMP) ahead of the EXIF one.
  std::vector<uint8_t> xmp_first = t::SpliceExif(t::SmallJpeg(), builder.Bytes());
  const std::vector<uint8_t> xmp = {0xFF, 0xE1, 0x00, 0x08, 'h', 't', 't', 'p', ':', '/'};
  xmp_first.insert(xmp_first.begin() + 2, xmp.begin(), xmp.end());
  t::WriteFile(dir_ / "xmp_first.jpg", xmp_first);

  for (const auto& [name, result] : {std::pair{"picture.png", E_NOTEXIF},
                                     {"missing.jpg", E_NOTEXIF},
                                     {"xmp_first.jpg", E_FAIL}}) {
    Parsed p;
    EXPECT_EQ(CollectExifRecords((dir_ / name).string().c_str(), &p.list, INFO_TIFF_MAIN), result) << name;
    EXPECT_EQ(p.list.count, 0u) << name;
  }
  Parsed p;
  EXPECT_EQ(CollectExifRecords("", &p.list, INFO_EXIF), E_INVALIDARG);
}

VELTORA_BOTH_BYTE_ORDERS(RecordParserTest);

}  // namespace
}  // namespace veltora::info
