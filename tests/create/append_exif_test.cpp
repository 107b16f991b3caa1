// AppendExif on built files in both byte orders: what is merged, what moves,
// what stays, and what is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>

#include "bytes/byte_order.h"
#include "create/exif_merge.h"
#include "create/whole_file.h"
#include "exif/exif_reader.h"
#include "plugin/veltora.h"
#include "tests/create/records.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/tiff_builder.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::Endian;
using testing::ReadBytes;
using testing::TiffBuilder;
using namespace veltora::testing;  // Dir and type names of the builder

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
  // Runs AppendExif into out.jpg; the old and new files.
  HRESULT Append(const std::string& in, RecordList& records, int32_t require = 1) {
    return AppendExif(Path("out.jpg").c_str(), in.c_str(), records.get(), require);
  }
};

struct Segment {
  size_t at, size;
};
Segment App1(const std::vector<uint8_t>& file) {
  const auto at = static_cast<size_t>(create::FindJpegMarker(0xFFE1, file));
  return {at, size_t{2} + exif::Read16(&file[at + 2], exif::kBigEndian)};
}

TEST_P(AppendExifTest, EqualSizesReplaceInPlaceAndMissingShortsAreInserted) {
  const std::string in = Write(Source(GetParam()));
  RecordList records;
  auto* main = records.Add<TiffInfo>(INFO_TIFF_MAIN);
  main->mask1 = TIFF_M1_ORIENTATION | TIFF_M1_RESOLUTION_UNIT | TIFF_M1_MAKE;
  main->Orientation = 6;
  main->ResolutionUnit = 3;  // missing, below the EXIF pointer's tag: inserted
  CStringSet(&main->Make, "Texts are never merged");
  auto* exif = records.Add<ExifInfo>(INFO_EXIF);
  exif->mask_l = EXIF_L_COLOR_SPACE | EXIF_L_MAKER_NOTE;
  exif->mask_h = EXIF_H_SUBJECT_DISTANCE_RANGE;
  exif->ColorSpace = 1;
  exif->SubjectDistanceRange = 2;  // above the last source tag: not inserted
  HostBlobSet(&exif->MakerNote, "never merged", 12);
  ASSERT_EQ(Append(in, records), S_OK);

  const auto before = ReadBytes(in), after = ReadBytes(Path("out.jpg"));
  const Segment old_app1 = App1(before), new_app1 = App1(after);
  EXPECT_EQ(new_app1.size, old_app1.size + 24);  // two entries of 12 bytes
  EXPECT_TRUE(std::equal(before.begin() + static_cast<std::ptrdiff_t>(old_app1.at + old_app1.size),
                         before.end(),
                         after.begin() + static_cast<std::ptrdiff_t>(new_app1.at + new_app1.size),
                         after.end()));
  exif::ExifReader old_reader(in.c_str(), 1, 0), reader(Path("out.jpg").c_str(), 1, 0);
  ASSERT_TRUE(reader.IsExifJpeg());
  EXPECT_EQ(reader.GetOrientationTag(0), 6);
  const struct {
    uint32_t dir;
    uint16_t tag;
    int found;
    uint32_t value;
  } entries[] = {{kIfd0, 296, 1, 3},   {kExif, 40961, 1, 1}, {kExif, 41996, 0, 0},
                 {kExif, 37500, 0, 0}, {kIfd1, 259, 1, 6}};
  for (const auto& e : entries) {
    exif::IfdEntry entry{e.tag, 0, 0, 0};
    EXPECT_EQ(reader.FindEntry(e.dir, &entry), e.found) << e.tag;
    if (e.found == 1) {
      EXPECT_EQ(entry.value, e.value) << e.tag;
    }
  }
  std::string make;
  exif::IfdEntry make_entry{271, 0, 0, 0};
  ASSERT_EQ(reader.FindEntry(kIfd0, &make_entry), 1);
  EXPECT_EQ(make_entry.count, 6u);
  // Everything behind the insertions moved by 24, the links with it.
  EXPECT_EQ(reader.thumbnailImage.ifdOffset, old_reader.thumbnailImage.ifdOffset + 24);
  std::vector<uint8_t> old_thumbnail, thumbnail;
  EXPECT_GT(old_reader.GetThumbnail(&old_thumbnail), 0u);
  EXPECT_EQ(reader.GetThumbnail(&thumbnail), old_thumbnail.size());
  EXPECT_EQ(thumbnail, old_thumbnail);
  // The DateTime carries the time of the call.
  std::string stamp;
  EXPECT_EQ(reader.ReadDateText(0, 0, &stamp), 1);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(stamp.substr(0, 5), std::to_string(local.tm_year + 1900) + ":");
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_P(AppendExifTest, AnEqualSizeValueChangesOnlyItsBytesAndTheStamp) {
  const std::string in = Write(Source(GetParam()));
  RecordList records;
  auto* main = records.Add<TiffInfo>(INFO_TIFF_MAIN);
  main->mask1 = TIFF_M1_ORIENTATION;
  main->Orientation = 3;
  ASSERT_EQ(Append(in, records), S_OK);
  const auto before = ReadBytes(in), after = ReadBytes(Path("out.jpg"));
  ASSERT_EQ(before.size(), after.size());
  size_t changed = 0;
  for (size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i] ? 1 : 0;
  EXPECT_GE(changed, 2u);   // the orientation's low byte and the date's digits
  EXPECT_LE(changed, 20u);  // nothing else
}

TEST_P(AppendExifTest, AGrowingDirectoryLeavesTheMakerNoteWhereItWas) {
  TiffBuilder tiff = Source(GetParam());
  tiff.MakerNoteHeader(MakerNoteForm::kSignature, "Quorvanta")
      .Short(kMakerNote, 1, 7)
      .Ascii(kMakerNote, 2, "inner value at an offset from the TIFF header");
  const auto layout = tiff.Layout();
  const std::string in = Write(tiff);
  RecordList records;
  auto* exif = records.Add<ExifInfo>(INFO_EXIF);
  exif->mask_l = EXIF_L_COLOR_SPACE;
  exif->ColorSpace = 1;
  ASSERT_EQ(Append(in, records), S_OK);
  const auto before = ReadBytes(in), after = ReadBytes(Path("out.jpg"));
  const size_t tiff_at = App1(before).at + 10;
  const uint32_t note = layout.block_offset.at(kMakerNote);
  const uint32_t end = layout.value_offset.at({kMakerNote, 2}) + 47;
  EXPECT_TRUE(std::equal(before.begin() + static_cast<std::ptrdiff_t>(tiff_at + note),
                         before.begin() + static_cast<std::ptrdiff_t>(tiff_at + end),
                         after.begin() + static_cast<std::ptrdiff_t>(tiff_at + note)));
  exif::ExifReader reader(Path("out.jpg").c_str(), 1, 0);
  exif::IfdEntry maker{37500, 0, 0, 0}, colour{40961, 0, 0, 0};
  ASSERT_EQ(reader.FindEntry(kExif, &maker), 1);
  EXPECT_EQ(maker.value, note);
  EXPECT_EQ(reader.FindEntry(kExif, &colour), 1);
}

TEST_P(AppendExifTest, ASourceWithoutIfd1KeepsNoLink) {
  TiffBuilder tiff(GetParam());
  tiff.Short(kIfd0, 274, 1).Short(kIfd0, 531, 1).Short(kExif, 41986, 0);
  const std::string in = Write(tiff);
  RecordList records;
  auto* main = records.Add<TiffInfo>(INFO_TIFF_MAIN);
  main->mask1 = TIFF_M1_RESOLUTION_UNIT;
  main->ResolutionUnit = 2;
  ASSERT_EQ(Append(in, records), S_OK);
  exif::ExifReader reader(Path("out.jpg").c_str(), 1, 0);
  EXPECT_EQ(reader.thumbnailImage.ifdOffset, 0u);
  exif::IfdEntry unit{296, 0, 0, 0};
  EXPECT_EQ(reader.FindEntry(kIfd0, &unit), 1);
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
  auto* main = records.Add<TiffInfo>(INFO_TIFF_MAIN);
  main->mask1 = TIFF_M1_ORIENTATION;
  auto* exif = big_insert.Add<ExifInfo>(INFO_EXIF);
  exif->mask_l = EXIF_L_COLOR_SPACE;
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

INSTANTIATE_TEST_SUITE_P(BothByteOrders, AppendExifTest, ::testing::Values(kLittle, kBig),
                         [](const auto& param_info) { return std::string(EndianName(param_info.param)); });

}  // namespace
}  // namespace veltora
