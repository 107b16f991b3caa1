// AppendExif on built files in both byte orders: what is merged, what moves,
// what stays, and what is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "bytes/byte_order.h"
#include "create/whole_file.h"
#include "exif/exif_reader.h"
#include "frame/veltora.h"
#include "platform/local_time.h"
#include "tests/create/records.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/tiff_builder.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using namespace veltora::testing;  // the builders and the file helpers

// The source: IFD0 with a DateTime, an EXIF IFD lacking ColorSpace between
// FlashpixVersion and ExposureMode, and IFD1 with a JPEG thumbnail.
TiffBuilder Source(Endian order) {
  TiffBuilder b(order);
  b.Ascii(kIfd0, 271, "Maker")
      .Short(kIfd0, 274, 1)
      .Ascii(kIfd0, 306, "2001:01:01 00:00:00")
      .Short(kIfd0, 531, 1)
      .Rational(kExif, 33437, 28, 10)
      .Undefined(kExif, 36864, {'0', '2', '3', '0'})
      .Undefined(kExif, 40960, {'0', '1', '0', '0'})
      .Short(kExif, 41986, 0)
      .Short(kIfd1, 259, 6)
      .JpegThumbnail(RealJpeg(32, 24));
  return b;
}

class AppendExifTest : public FileSystemTest, public ::testing::WithParamInterface<Endian> {
 protected:
  std::string Write(const TiffBuilder& tiff, const std::string& name = "in.jpg") {
    WriteBytes(Path(name), SpliceExif(RealJpeg(64, 48), tiff.Bytes()));
    return Path(name);
  }
};

struct Segment {
  size_t at, size;
};
Segment App1(const std::vector<uint8_t>& file) {
  const auto at = static_cast<size_t>(create::FindJpegMarker(0xFFE1, file));
  return {at, size_t{2} + bytes::Read16(&file[at + 2], bytes::kBigEndian)};
}

// That nothing else changes, maker notes included, is held against exiftool
// and exiv2 over the corpus (corpus_round_trip_test); which entries are
// replaced, and that a maker note keeps its offset and bytes, by the merge's
// fuzz target; here: which are inserted, the growth and the DateTime stamp.
TEST_P(AppendExifTest, MissingShortsAreInsertedAndTheDateTimeStamped) {
  const std::string in = Write(Source(GetParam()));
  // ResolutionUnit and ColorSpace are missing and inserted; SubjectDistanceRange
  // lies above the last EXIF tag and texts are never merged.
  RecordList records;
  AddRecords(records, R"({"TiffMain": {"Orientation": 6, "ResolutionUnit": 3, "Make": "Not merged"},
                         "Exif": {"ColorSpace": 1, "SubjectDistanceRange": 2}})");
  ASSERT_EQ(AppendExif(Path("out.jpg").c_str(), in.c_str(), records.get(), 1), S_OK);
  EXPECT_EQ(App1(ReadBytes(Path("out.jpg"))).size, App1(ReadBytes(in)).size + 24);  // two entries
  exif::ExifReader reader(Path("out.jpg").c_str(), 1, 0);
  ASSERT_TRUE(reader.IsExifJpeg());
  EXPECT_EQ(reader.GetOrientationTag(0), 6);
  exif::IfdEntry unit{296, 0, 0, 0}, colour{40961, 0, 0, 0}, range{41996, 0, 0, 0};
  EXPECT_EQ(reader.FindEntry(kIfd0, &unit), exif::Outcome::kDone);
  EXPECT_EQ(reader.FindEntry(kExif, &colour), exif::Outcome::kDone);
  EXPECT_EQ(reader.FindEntry(kExif, &range), exif::Outcome::kAbsent) << "no higher tag to insert it below";
  std::string stamp;
  EXPECT_EQ(reader.ReadDateText(0, 0, &stamp), 1);
  EXPECT_EQ(stamp.substr(0, 5), std::to_string(platform::GetLocalTime().wYear) + ":");
  EXPECT_TRUE(TempLeftovers().empty());
}

// A file's own thumbnail position merged back while a missing SHORT is
// inserted before the thumbnail: the position moves with the thumbnail, as
// the merge moves every pointer behind an insertion.
TEST_P(AppendExifTest, TheThumbnailPositionMovesWithAnInsertion) {
  const std::string in = Write(Source(GetParam()));
  // IFD1's JPEGInterchangeFormat and its length, as the file holds them.
  const auto thumbnail_at = [](const std::string& path, uint16_t tag) {
    exif::IfdEntry entry{.tag = tag};
    EXPECT_EQ(exif::ExifReader(path.c_str(), 1, 0).FindEntry(exif::kIfd1, &entry), exif::Outcome::kDone) << path;
    return entry.value;
  };
  const uint32_t at = thumbnail_at(in, 513), length = thumbnail_at(in, 514);
  RecordList records;
  auto* thumb = records.Add<TiffInfo>(INFO_TIFF_THUMB);
  thumb->mask1 = TIFF_M1_JPEG_INTERCHANGE_FORMAT | TIFF_M1_JPEG_INTERCHANGE_FORMAT_LENGTH;
  thumb->JPEGInterchangeFormat = at;
  thumb->JPEGInterchangeFormatLength = length;
  auto* exif = records.Add<ExifInfo>(INFO_EXIF);
  exif->mask_h = EXIF_H_SENSING_METHOD;
  exif->SensingMethod = 2;
  ASSERT_EQ(AppendExif(Path("out.jpg").c_str(), in.c_str(), records.get(), 1), S_OK);
  const uint32_t moved = thumbnail_at(Path("out.jpg"), 513);
  EXPECT_EQ(moved, at + 12);
  EXPECT_EQ(thumbnail_at(Path("out.jpg"), 514), length);
  std::vector<uint8_t> thumbnail;
  ASSERT_GT(exif::ExifReader(Path("out.jpg").c_str(), 1, 0).GetThumbnail(&thumbnail), 0u);
  EXPECT_TRUE(DecodeCleanly(thumbnail)) << "the thumbnail is still a JPEG";

  // A record blob that claims 1 GiB over 4 bytes is never read (larger
  // values are not merged anyway); the rest of the list still is.
  uint8_t four[4] = {1, 2, 3, 4};
  exif->mask_l = EXIF_L_MAKER_NOTE;
  exif->MakerNote = {four, 1u << 30};
  EXPECT_EQ(AppendExif(Path("lie.jpg").c_str(), in.c_str(), records.get(), 1), S_OK);
  exif->MakerNote = {};  // the list frees what it holds
  EXPECT_EQ(thumbnail_at(Path("lie.jpg"), 513), moved) << "SensingMethod still merged";
}

TEST_P(AppendExifTest, RefusalsWriteNothing) {
  const std::string in = Write(Source(GetParam()));
  // Another APP1 in front of the EXIF one.
  auto jfif_first = ReadBytes(in);
  const std::vector<uint8_t> xmp = {0xFF, 0xE1, 0, 8, 'h', 't', 't', 'p', ':', '/'};
  jfif_first.insert(jfif_first.begin() + 2, xmp.begin(), xmp.end());
  WriteBytes(Path("xmp.jpg"), jfif_first);
  WriteBytes(Path("plain.jpg"), RealJpeg(16, 16));
  fs::copy_file(in, Path("in.png"));
  // A segment of about 65530 bytes: one more entry passes the 65536-byte bound.
  TiffBuilder big = Source(GetParam());
  const size_t base = Source(GetParam()).Bytes().size();
  big.Undefined(kExif, 37510, std::vector<uint8_t>(65510 - base, 'x'));
  const std::string full = Write(big, "full.jpg");
  RecordList records, big_insert;
  records.Add<TiffInfo>(INFO_TIFF_MAIN)->mask1 = TIFF_M1_ORIENTATION;
  big_insert.Add<ExifInfo>(INFO_EXIF)->mask_l = EXIF_L_COLOR_SPACE;
  const struct {
    const char* name;
    const char* target;
    std::string source;
    ImageInfoList* list;
    int32_t require;
    HRESULT result;
  } cases[] = {
      {"first APP1 is not EXIF", "out.jpg", Path("xmp.jpg"), records.get(), 1, E_FAIL},
      {"no EXIF, required", "out.jpg", Path("plain.jpg"), records.get(), 1, E_NOTEXIF},
      {"no EXIF, not required", "out.jpg", Path("plain.jpg"), records.get(), 0, E_FAIL},
      {"not a JPEG name", "out.jpg", Path("in.png"), records.get(), 1, E_FAIL},
      {"missing source", "out.jpg", Path("none.jpg"), records.get(), 0, E_FAIL},
      {"target directory missing", "no/out.jpg", in, records.get(), 1,
       static_cast<HRESULT>(0x80070003u)},
      {"merged segment too large", "out.jpg", full, big_insert.get(), 1, E_FAIL},
      {"no records", "out.jpg", in, nullptr, 1, E_INVALIDARG},
      {"empty target", "", in, records.get(), 1, E_INVALIDARG},
  };
  for (const auto& c : cases) {
    const std::string target = *c.target == '\0' ? std::string() : Path(c.target);
    EXPECT_EQ(AppendExif(target.c_str(), c.source.c_str(), c.list, c.require), c.result) << c.name;
    EXPECT_FALSE(fs::exists(Path("out.jpg"))) << c.name;
  }
  EXPECT_TRUE(TempLeftovers().empty());
}

VELTORA_BOTH_BYTE_ORDERS(AppendExifTest);

}  // namespace
}  // namespace veltora
