// The builders are trusted by every other test, so they are checked here
// against independent readers: exiftool and exiv2 must read back what was
// written (in both byte orders, without complaint), and the deliberately
// broken variants must be broken the way their names say.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;

uint16_t Get16(const std::vector<uint8_t>& b, size_t pos, Endian order) {
  return order == kBig ? static_cast<uint16_t>(b.at(pos) << 8 | b.at(pos + 1))
                       : static_cast<uint16_t>(b.at(pos + 1) << 8 | b.at(pos));
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t pos, Endian order) {
  const uint32_t first = Get16(b, pos, order), second = Get16(b, pos + 2, order);
  return order == kBig ? first << 16 | second : second << 16 | first;
}

std::string Text(const std::vector<uint8_t>& b, size_t pos, size_t n) {
  return std::string(b.begin() + static_cast<ptrdiff_t>(pos),
                     b.begin() + static_cast<ptrdiff_t>(pos + n));
}

#define REQUIRE_TOOL(name)                         \
  do {                                             \
    if (!HaveTool(name)) {                         \
      GTEST_SKIP() << name << " is not installed"; \
    }                                              \
  } while (false)

// Warnings and errors exiftool reported for the file, as one string.
std::string ExiftoolComplaints(const nlohmann::json& info) {
  std::string all;
  for (const auto& [key, value] : info.items()) {
    if (key.find("Warning") != std::string::npos || key.find("Error") != std::string::npos) {
      all += key + "=" + value.dump() + "; ";
    }
  }
  return all;
}

// A block with something in every directory, values inline and out of line.
TiffBuilder FullBlock(Endian order) {
  TiffBuilder b(order);
  b.Ascii(kIfd0, 271, "Maker")
      .Ascii(kIfd0, 272, "Model X100")
      .Short(kIfd0, 274, 6)
      .Rational(kIfd0, 282, 300, 1)
      .Rational(kIfd0, 283, 300, 1)
      .Short(kIfd0, 296, 2)
      .Short(kIfd0, 531, 1)
      .Rational(kExif, 33437, 28, 10)
      .Short(kExif, 34855, 400)
      .Undefined(kExif, 36864, {'0', '2', '3', '0'})
      .Ascii(kExif, 36867, "2006:05:14 09:30:05")
      .SRational(kExif, 37380, -2, 3)
      .Ascii(kExif, 37521, "7")
      .Ascii(kInterop, 1, "R98")
      .Byte(kGps, 0, {2, 2, 0, 0})
      .Ascii(kGps, 1, "S")
      .Rationals(kGps, 2, {{33, 1}, {51, 1}, {2160, 100}})
      .Rational(kGps, 6, 1234, 10)
      .Short(kIfd1, 259, 6)
      .JpegThumbnail(RealJpeg(32, 24));
  return b;
}

class BothOrders : public ::testing::TestWithParam<Endian> {
 protected:
  TempDir dir_;
};
INSTANTIATE_TEST_SUITE_P(ByteOrder, BothOrders, ::testing::Values(kLittle, kBig),
                         [](const auto& param_info) {
                           return std::string(EndianName(param_info.param));
                         });

TEST_P(BothOrders, ExiftoolReadsEveryDirectoryBack) {
  REQUIRE_TOOL("exiftool");
  const auto file = FullBlock(GetParam()).WriteJpeg(dir_);
  auto info = ExiftoolJson(file);
  ASSERT_TRUE(info);
  auto& j = *info;
  EXPECT_EQ(ExiftoolComplaints(j), "");
  EXPECT_EQ(j["File:ExifByteOrder"], GetParam() == kBig ? "MM" : "II");
  EXPECT_EQ(j["IFD0:Make"], "Maker");
  EXPECT_EQ(j["IFD0:Model"], "Model X100");
  EXPECT_EQ(j["IFD0:Orientation"], 6);
  EXPECT_EQ(j["IFD0:XResolution"], 300);
  EXPECT_DOUBLE_EQ(j["ExifIFD:FNumber"].get<double>(), 2.8);
  EXPECT_EQ(j["ExifIFD:ISO"], 400);
  EXPECT_EQ(j["ExifIFD:ExifVersion"], "0230");
  EXPECT_EQ(j["ExifIFD:DateTimeOriginal"], "2006:05:14 09:30:05");
  EXPECT_NEAR(j["ExifIFD:ExposureCompensation"].get<double>(), -2.0 / 3, 1e-3);
  EXPECT_EQ(j["ExifIFD:SubSecTimeOriginal"], 7);
  EXPECT_EQ(j["InteropIFD:InteropIndex"], "R98");
  EXPECT_EQ(j["GPS:GPSVersionID"], "2 2 0 0");
  EXPECT_EQ(j["GPS:GPSLatitudeRef"], "S");
  EXPECT_NEAR(j["GPS:GPSLatitude"].get<double>(), 33 + 51 / 60.0 + 21.6 / 3600, 1e-6);
  EXPECT_DOUBLE_EQ(j["GPS:GPSAltitude"].get<double>(), 123.4);
  EXPECT_EQ(j["IFD1:Compression"], 6);
  EXPECT_EQ(j["File:ImageWidth"], 16);  // the small picture the block is wrapped in
}

TEST_P(BothOrders, Exiv2ReadsEveryDirectoryBack) {
  REQUIRE_TOOL("exiv2");
  const auto file = FullBlock(GetParam()).WriteJpeg(dir_);
  auto out = Exiv2Values(file);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->exit_code, 0);
  EXPECT_EQ(out->err, "");
  auto& v = out->values;
  EXPECT_EQ(v["Exif.Image.Make"], "Maker");
  EXPECT_EQ(v["Exif.Image.Orientation"], "6");
  EXPECT_EQ(v["Exif.Photo.FNumber"], "28/10");
  EXPECT_EQ(v["Exif.Photo.ExposureBiasValue"], "-2/3");
  EXPECT_EQ(v["Exif.Photo.DateTimeOriginal"], "2006:05:14 09:30:05");
  EXPECT_EQ(v["Exif.Iop.InteroperabilityIndex"], "R98");
  EXPECT_EQ(v["Exif.GPSInfo.GPSLatitude"], "33/1 51/1 2160/100");
  EXPECT_EQ(v["Exif.Thumbnail.JPEGInterchangeFormatLength"],
            std::to_string(RealJpeg(32, 24).size()));
}

TEST_P(BothOrders, ThumbnailAndLayoutAgree) {
  const auto thumb = RealJpeg(32, 24);
  const auto layout = FullBlock(GetParam()).Layout();
  const auto& b = layout.bytes;
  ASSERT_EQ(Text(b, layout.thumbnail_offset, thumb.size()),
            std::string(thumb.begin(), thumb.end()));
  EXPECT_EQ(DecodeCleanly(
                std::vector<uint8_t>(b.begin() + layout.thumbnail_offset,
                                     b.begin() + layout.thumbnail_offset + layout.thumbnail_size))
                ->width,
            32);
  // IFD0's next pointer leads to IFD1; every block starts on a word boundary.
  const uint32_t ifd0 = layout.block_offset.at(kIfd0);
  EXPECT_EQ(Get32(b, ifd0 + 2 + 12u * Get16(b, ifd0, GetParam()), GetParam()),
            layout.block_offset.at(kIfd1));
  for (auto [block, offset] : layout.block_offset) EXPECT_EQ(offset % 2, 0u) << block;
}

TEST_P(BothOrders, PlainTiffFileValidates) {
  REQUIRE_TOOL("exiftool");
  const auto file = TiffBuilder(GetParam())
                        .RgbImage(kIfd0, 40, 30, {}, 8)
                        .Rational(kIfd0, 282, 72, 1)
                        .Rational(kIfd0, 283, 72, 1)
                        .Short(kIfd0, 296, 2)
                        .Undefined(kExif, 36864, {'0', '2', '3', '2'})
                        .Ascii(kExif, 36867, "2020:01:02 03:04:05")
                        .Undefined(kExif, 40960, {'0', '1', '0', '0'})
                        .Short(kExif, 40961, 1)
                        .WriteTiff(dir_);
  auto problems = ExiftoolValidate(file);
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->empty()) << ::testing::PrintToString(*problems);
  auto info = ExiftoolJson(file);
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["IFD0:ImageWidth"], 40);
  EXPECT_EQ((*info)["IFD0:StripByteCounts"], "960 960 960 720");
  EXPECT_EQ((*info)["ExifIFD:DateTimeOriginal"], "2020:01:02 03:04:05");
}

// Blocks can be put where a test needs them: here image data before the
// EXIF directory, as the reader's metadata-size rule cares about.
TEST_P(BothOrders, PlacedBlocksLandWhereAsked) {
  TiffBuilder b(GetParam());
  b.Strips(kIfd0, {std::vector<uint8_t>(64, 0x55)}, kShort)
      .Long(kIfd0, 256, 8)
      .Long(kIfd0, 257, 8)
      .Ascii(kExif, 36867, "2020:01:02 03:04:05")
      .RgbImage(kIfd1, 4, 2)
      .LayoutOrder({kIfd0, kStripData, kIfd1, kExif})
      .PlaceAt(kStripData, 0x2000)
      .PlaceAt(kExif, 0x3000);
  const auto layout = b.Layout();
  EXPECT_EQ(layout.block_offset.at(kStripData), 0x2000u);
  EXPECT_EQ(layout.block_offset.at(kExif), 0x3000u);
  EXPECT_THROW(TiffBuilder(b).PlaceAt(kIfd1, 0x10).Layout(), std::logic_error);
  if (!HaveTool("exiftool")) return;
  auto info = ExiftoolJson(b.WriteTiff(dir_));
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["IFD0:StripOffsets"], 0x2000);
  EXPECT_EQ((*info)["IFD1:ImageWidth"], 4);
  EXPECT_EQ((*info)["IFD1:StripOffsets"], 0x2040);  // right behind IFD0's strip
  EXPECT_EQ((*info)["ExifIFD:DateTimeOriginal"], "2020:01:02 03:04:05");
}

// A maker note that carries a TIFF header of its own counts its offsets from
// that header; one that starts with its entry count counts them from the
// enclosing TIFF header. exiftool knows both layouts from real cameras.
TEST_P(BothOrders, MakerNoteFormsReadByExiftool) {
  REQUIRE_TOOL("exiftool");
  const auto own_header =
      TiffBuilder(GetParam())
          .Ascii(kIfd0, 271, "NIKON CORPORATION")
          .MakerNoteHeader(MakerNoteForm::kOwnTiffHeader, std::string("Nikon\0\x02\x10\0\0", 10))
          .MakerNoteOrder(kBig)
          .Undefined(kMakerNote, 0x0001, {'0', '2', '1', '0'})
          .Ascii(kMakerNote, 0x0004, "FINE  ")
          .WriteJpeg(dir_, "own.jpg");
  auto info = ExiftoolJson(own_header);
  ASSERT_TRUE(info);
  EXPECT_EQ(ExiftoolComplaints(*info), "");
  EXPECT_EQ((*info)["Nikon:Quality"], "FINE  ");

  const auto count_first = TiffBuilder(GetParam())
                               .Ascii(kIfd0, 271, "Canon")
                               .Ascii(kMakerNote, 0x0006, "CANON TEST TYPE")
                               .Ascii(kMakerNote, 0x0007, "Firmware 1.0")
                               .WriteJpeg(dir_, "count.jpg");
  info = ExiftoolJson(count_first);
  ASSERT_TRUE(info);
  EXPECT_EQ(ExiftoolComplaints(*info), "");
  EXPECT_EQ((*info)["Canon:CanonImageType"], "CANON TEST TYPE");
  EXPECT_EQ((*info)["Canon:CanonFirmwareVersion"], "Firmware 1.0");
}

TEST_P(BothOrders, SignatureMakerNoteLayout) {
  const Endian order = GetParam();
  const auto layout = TiffBuilder(order)
                          .MakerNoteHeader(MakerNoteForm::kSignature, "Quorvanta", {0xAB, 0xCD})
                          .Short(kMakerNote, 0x0001, 7)
                          .Short(kMakerNote, 0x0003, 9)
                          .Ascii(kMakerNote, 0x0033, "2024:05:14 09:30:05")
                          .Layout();
  const auto& b = layout.bytes;
  const uint32_t mn = layout.maker_note_offset;
  EXPECT_EQ(Text(b, mn, 10), std::string("Quorvanta\0", 10));
  EXPECT_EQ(b[mn + 10], 0xAB);
  EXPECT_EQ(b[mn + 11], 0xCD);
  EXPECT_EQ(Get16(b, mn + 12, order), 3);
  EXPECT_EQ(Get16(b, mn + 14, order), 0x0001);  // entries from byte 14
  EXPECT_EQ(Get16(b, mn + 14 + 8, order), 7);
  // The date lies inside the note; its offset counts from the TIFF header.
  const uint32_t date = Get32(b, mn + 14 + 24 + 8, order);
  EXPECT_GT(date, mn);
  EXPECT_LE(date + 20, mn + layout.maker_note_size);
  EXPECT_EQ(Text(b, date, 19), "2024:05:14 09:30:05");
  // The EXIF directory's MakerNote entry covers exactly the note.
  const uint32_t entry = layout.entry_offset.at({kExif, 37500});
  EXPECT_EQ(Get16(b, entry + 2, order), kUndefined);
  EXPECT_EQ(Get32(b, entry + 4, order), layout.maker_note_size);
  EXPECT_EQ(Get32(b, entry + 8, order), mn);
}

// Each hook must produce exactly the fault it names, and exiftool, reading
// independently, must notice something wrong.
TEST_P(BothOrders, HooksBreakWhatTheySay) {
  const Endian order = GetParam();
  struct Case {
    const char* name;
    TiffBuilder builder;
    // Checks the bytes; empty string when the fault is there.
    std::function<std::string(const TiffLayout&)> check;
    bool exiftool_notices;
  };
  auto make_entry = [&](const TiffLayout& l) { return l.entry_offset.at({kIfd0, 271}); };
  auto base = [&] {
    TiffBuilder b(order);
    b.Ascii(kIfd0, 271, "Maker").Ascii(kExif, 36867, "2006:05:14 09:30:05");
    return b;
  };
  std::vector<Case> cases;
  cases.push_back({"unbroken", base(), [](const TiffLayout&) { return ""; }, false});
  cases.push_back({"count near 2^32", base().Ascii(kIfd0, 272, "Model12").WithCount(0xFFFFFFFF),
                   [&](const TiffLayout& l) {
                     auto at = l.entry_offset.at({kIfd0, 272});
                     return Get32(l.bytes, at + 4, order) == 0xFFFFFFFF ? "" : "count";
                   },
                   true});
  cases.push_back({"offset near 2^32", base().Ascii(kIfd0, 272, "Model12").WithOffset(0xFFFFFFFC),
                   [&](const TiffLayout& l) {
                     auto at = l.entry_offset.at({kIfd0, 272});
                     return Get32(l.bytes, at + 8, order) == 0xFFFFFFFC ? "" : "offset";
                   },
                   true});
  cases.push_back({"value ends past the end",
                   base().Ascii(kIfd0, 272, "Model12").WithOffsetFromEnd(-4),
                   [&](const TiffLayout& l) {
                     auto at = l.entry_offset.at({kIfd0, 272});
                     return Get32(l.bytes, at + 8, order) == l.bytes.size() - 4 ? "" : "offset";
                   },
                   true});
  cases.push_back({"EXIF pointer to IFD0", base().Pointer(kExif).LinkTo(kIfd0),
                   [&](const TiffLayout& l) {
                     auto at = l.entry_offset.at({kIfd0, 34665});
                     return Get32(l.bytes, at + 8, order) == l.block_offset.at(kIfd0) ? "" : "link";
                   },
                   true});
  cases.push_back({"IFD0 links to itself", base().NextIfdTo(kIfd0, kIfd0),
                   [&](const TiffLayout& l) {
                     auto ifd0 = l.block_offset.at(kIfd0);
                     return Get32(l.bytes, ifd0 + 2 + 12 * 2, order) == ifd0 ? "" : "next";
                   },
                   true});
  cases.push_back({"IFD1 links back to IFD0", base().Short(kIfd1, 259, 6).NextIfdTo(kIfd1, kIfd0),
                   [&](const TiffLayout& l) {
                     auto ifd1 = l.block_offset.at(kIfd1);
                     return Get32(l.bytes, ifd1 + 2 + 12, order) == l.block_offset.at(kIfd0)
                                ? ""
                                : "next";
                   },
                   true});
  cases.push_back({"next pointer garbage", base().NextIfd(kIfd0, 0xDEADBEEF),
                   [&](const TiffLayout& l) {
                     auto ifd0 = l.block_offset.at(kIfd0);
                     return Get32(l.bytes, ifd0 + 2 + 24, order) == 0xDEADBEEF ? "" : "next";
                   },
                   true});
  cases.push_back({"entry count overflows", base().DeclareEntryCount(kIfd0, 0xFFFF),
                   [&](const TiffLayout& l) {
                     return Get16(l.bytes, l.block_offset.at(kIfd0), order) == 0xFFFF ? ""
                                                                                      : "count";
                   },
                   true});
  cases.push_back({"truncated inside IFD0", base().TruncateTo(20),
                   [&](const TiffLayout& l) {
                     return l.bytes.size() == 20 && l.untruncated_size > 20 ? "" : "size";
                   },
                   true});
  cases.push_back({"type changed", base().Ascii(kIfd0, 272, "Model12").WithType(kSShort),
                   [&](const TiffLayout& l) {
                     auto at = l.entry_offset.at({kIfd0, 272});
                     return Get16(l.bytes, at + 2, order) == kSShort &&
                                    Get32(l.bytes, at + 4, order) == 8
                                ? ""
                                : "type";
                   },
                   false});
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto layout = c.builder.Layout();
    EXPECT_EQ(c.check(layout), "");
    // Make stays where it was: a hook touches only its own entry.
    if (layout.bytes.size() > 40) {
      EXPECT_EQ(Get16(layout.bytes, make_entry(layout), order), 271);
    }
    if (!HaveTool("exiftool")) continue;
    const auto file = c.builder.WriteJpeg(dir_);
    auto info = ExiftoolJson(file);
    ASSERT_TRUE(info);
    EXPECT_EQ(ExiftoolComplaints(*info) != "", c.exiftool_notices) << ExiftoolComplaints(*info);
  }
}

TEST(JpegBuilder, SyntheticSegmentsReadByExiftool) {
  REQUIRE_TOOL("exiftool");
  TempDir dir;
  const auto tiff = TiffBuilder(kBig).Ascii(kIfd0, 271, "Maker").Bytes();
  const auto eppim = TiffBuilder(kLittle)
                         .Undefined(kIfd0, 50341, PrintImBlock(kLittle, {{1, 0x00160016}}))
                         .Bytes();
  const auto file = JpegBuilder()
                        .Soi()
                        .App0Jfif(2, 118, 236)
                        .App1Exif(tiff)
                        .App2({'I', 'C', 'C', '_', 'X'})
                        .App6Eppim(eppim)
                        .Dqt()
                        .Sof0(321, 123)
                        .Dht()
                        .Sos({0x00, 0x11})
                        .Eoi()
                        .Write(dir);
  auto info = ExiftoolJson(file);
  ASSERT_TRUE(info);
  auto& j = *info;
  EXPECT_EQ(j["File:ImageWidth"], 321);
  EXPECT_EQ(j["File:ImageHeight"], 123);
  EXPECT_EQ(j["JFIF:ResolutionUnit"], 2);
  EXPECT_EQ(j["JFIF:XResolution"], 118);
  EXPECT_EQ(j["JFIF:YResolution"], 236);
  EXPECT_EQ(j["IFD0:Make"], "Maker");
  EXPECT_EQ(j["PrintIM:PrintIMVersion"], "0300");
}

TEST(JpegBuilder, RealPictureWithSplicedExifDecodes) {
  const auto jpeg = RealJpeg(96, 64);
  ASSERT_EQ(DecodeCleanly(jpeg)->width, 96);
  const auto spliced = SpliceExif(jpeg, TiffBuilder(kLittle).Short(kIfd0, 274, 1).Bytes());
  auto segments = WalkSegments(spliced);
  ASSERT_GE(segments.size(), 3u);
  EXPECT_EQ(segments[1].marker, kApp1);  // APP1 right behind SOI, JFIF gone
  for (const auto& s : segments) EXPECT_NE(s.marker, kApp0);
  EXPECT_EQ(segments.back().marker, kEoi);
  auto size = DecodeCleanly(spliced);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 96);
  EXPECT_EQ(size->height, 64);
  const auto with_jfif = WalkSegments(SpliceExif(jpeg, {}, /*keep_app0=*/true));
  EXPECT_EQ(with_jfif[1].marker, kApp0);
  EXPECT_EQ(with_jfif[2].marker, kApp1);
}

TEST(JpegBuilder, MalformedVariantsAreMalformed) {
  const auto tiff = TiffBuilder(kLittle).Ascii(kIfd0, 271, "Maker").Bytes();
  const auto picture = SmallJpeg();
  auto good = [&] { return JpegBuilder().Soi().App1Exif(tiff); };
  ASSERT_TRUE(DecodeCleanly(JpegBuilder(good()).ImageSegments(picture).Bytes()));

  {
    SCOPED_TRACE("length past the end");
    auto s = WalkSegments(good().WithLength(0xFFFF).Bytes());
    ASSERT_EQ(s.size(), 2u);
    EXPECT_TRUE(s[1].truncated);
    EXPECT_EQ(s[1].length, 0xFFFFu);
  }
  for (uint16_t length : {0, 1}) {
    SCOPED_TRACE("length " + std::to_string(length));
    auto bytes = JpegBuilder().Soi().Segment(kCom, {'x'}).WithLength(length).Bytes();
    bytes.insert(bytes.end(), picture.begin() + 2, picture.end());
    auto s = WalkSegments(bytes);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[1].length, length);
    EXPECT_FALSE(DecodeCleanly(bytes));
  }
  {
    SCOPED_TRACE("missing EOI");
    auto full = good().ImageSegments(picture).Bytes();
    auto bytes = good().ImageSegments(picture).TruncateTo(full.size() - 2).Bytes();
    EXPECT_NE(WalkSegments(bytes).back().marker, kEoi);
    EXPECT_FALSE(DecodeCleanly(bytes));
  }
  {
    SCOPED_TRACE("garbage between markers");
    auto bytes = good().Raw({0x12, 0x34, 0x56}).ImageSegments(picture).Bytes();
    auto s = WalkSegments(bytes);
    EXPECT_EQ(s.back().marker, 0);
    EXPECT_EQ(s.back().offset, 4 + 2 + 6 + tiff.size());
    EXPECT_FALSE(DecodeCleanly(bytes));
  }
  {
    SCOPED_TRACE("fill bytes are legal");
    auto bytes = good().Fill(2).ImageSegments(picture).Bytes();
    EXPECT_EQ(WalkSegments(bytes).back().marker, kEoi);
    EXPECT_TRUE(DecodeCleanly(bytes));
  }
  {
    SCOPED_TRACE("truncated after APP1");
    auto s = WalkSegments(good().Bytes());
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[1].marker, kApp1);
    EXPECT_FALSE(s[1].truncated);
  }
}

class SamplePicture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(VELTORA_SAMPLE_PICTURE)) GTEST_SKIP() << "sample picture not built";
  }
  const fs::path path_ = VELTORA_SAMPLE_PICTURE;
};

TEST_F(SamplePicture, ValidatesWithoutWarnings) {
  REQUIRE_TOOL("exiftool");
  auto problems = ExiftoolValidate(path_);
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->empty()) << ::testing::PrintToString(*problems);
  auto out = Exiv2Values(path_);
  if (out) {
    EXPECT_EQ(out->exit_code, 0);
    EXPECT_EQ(out->err, "");
    EXPECT_EQ(out->values["Exif.Image.Make"], "Veltora");
  }
}

TEST_F(SamplePicture, CarriesTheDocumentedValues) {
  REQUIRE_TOOL("exiftool");
  auto info = ExiftoolJson(path_);
  ASSERT_TRUE(info);
  auto& j = *info;
  EXPECT_EQ(j["IFD0:Make"], "Veltora");
  EXPECT_EQ(j["IFD0:Orientation"], 1);
  EXPECT_EQ(j["ExifIFD:ExifVersion"], "0230");
  EXPECT_EQ(j["ExifIFD:DateTimeOriginal"], "2024:05:14 09:30:05");
  EXPECT_NEAR(j["GPS:GPSLatitude"].get<double>(), 48.8584, 1e-6);
  EXPECT_NEAR(j["GPS:GPSLongitude"].get<double>(), 2.2945, 1e-6);
  EXPECT_EQ(j["GPS:GPSAltitude"], 35);
  EXPECT_EQ(j["GPS:GPSMapDatum"], "WGS-84");
  EXPECT_EQ(j["InteropIFD:InteropIndex"], "R98");
  EXPECT_EQ(j["File:ImageWidth"], 640);
  EXPECT_EQ(j["File:ImageHeight"], 480);

  const auto bytes = ReadFile(path_);
  EXPECT_EQ(DecodeCleanly(bytes)->width, 640);
  const auto maker = std::string("Quorvanta\0\0\0", 12);
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(maker), std::string::npos);
  auto thumbnail = RunTool({"exiftool", "-b", "-ThumbnailImage", path_.string()});
  ASSERT_TRUE(thumbnail);
  auto size = DecodeCleanly(std::vector<uint8_t>(thumbnail->out.begin(), thumbnail->out.end()));
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 160);
  EXPECT_EQ(size->height, 120);
}

TEST(TempDirTest, RemovesEverythingEvenReadOnlyFolders) {
  fs::path kept;
  {
    TempDir dir;
    kept = dir.path();
    fs::create_directories(dir / "a" / "b");
    WriteFile(dir / "a" / "b" / "f", std::vector<uint8_t>{1, 2, 3});
    EXPECT_EQ(ReadFile(dir / "a" / "b" / "f"), (std::vector<uint8_t>{1, 2, 3}));
    fs::permissions(dir / "a", fs::perms::owner_read | fs::perms::owner_exec);
  }
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_THROW(ReadFile(kept / "missing"), std::runtime_error);
}

TEST(TempDirTest, CorpusDirFindsTheManifest) {
  auto corpus = CorpusDir();
  if (!corpus) GTEST_SKIP() << "no corpus";
  EXPECT_TRUE(fs::exists(*corpus / "MANIFEST.tsv"));
}

}  // namespace
}  // namespace veltora::testing
