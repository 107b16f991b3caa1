// ReplaceExifGps: merge, creation and removal of the GPS directory.
#include <gtest/gtest.h>

#include <cstring>

#include "edit/exif_editor.h"
#include "frame/veltora.h"
#include "tests/edit/edit_test_support.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

class GpsTest : public ::testing::TestWithParam<Endian> {
 protected:
  TempDir dir_;
  std::filesystem::path out_ = dir_ / "out.jpg";
};
VELTORA_BOTH_BYTE_ORDERS(GpsTest);

TiffBuilder WithOldGps(TiffBuilder b) {
  b.Byte(kGps, 0, {2, 0, 0, 0}).Ascii(kGps, 1, "S").Rational(kGps, 6, 99, 1);
  return b;
}

std::vector<uint16_t> GpsTags(const std::filesystem::path& file) {
  exif::ExifReader reader(file.string().c_str(), 0, 0);
  std::vector<exif::IfdEntry> entries;
  (void)reader.CollectEntries(exif::kGpsIfd, &entries);
  std::vector<uint16_t> tags;
  for (const auto& e : entries) tags.push_back(e.tag);
  return tags;
}

// GPSVersionID follows ExifVersion, a version 2.1 file gets no date stamp,
// and a file without GPS gets a new directory. The rest of the file
// unchanged, exiftool's and exiv2's checks: the corpus round trip; here the
// tags in order, the version, the inline datum and the stamps.
TEST_P(GpsTest, WrittenTagsAreSortedAndFollowTheExifVersion) {
  const struct {
    const char* exif_version;
    bool old_gps;
    std::vector<uint16_t> tags;
    const char* gps_version;
  } cases[] = {{"0210", true, {0, 1, 2, 3, 4, 6, 7, 18}, "\x02\x00\x00\x00"},
               {"0220", true, {0, 1, 2, 3, 4, 6, 7, 18, 29}, "\x02\x02\x00\x00"},
               {"0220", false, {0, 1, 2, 3, 4, 7, 18, 29}, "\x02\x02\x00\x00"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.exif_version) + (c.old_gps ? " merged" : " created"));
    const auto block = CameraBlock(GetParam(), 1, 1, c.exif_version);
    const auto file = (c.old_gps ? WithOldGps(block) : block).WriteJpeg(dir_);
    GpsSet gps;
    gps.Tags({29, 18, 7, 4, 3, 2, 1})
        .Position('N', 48, 'E', 2)
        .DateStamp("2024:05:01")
        .Datum("WGS");
    gps.set.GPSTimeStamp[0] = {13, 1};
    gps.set.GPSTimeStamp[1] = {5, 1};
    gps.set.GPSTimeStamp[2] = {4250, 100};
    ASSERT_EQ(ReplaceExifGps(out_.string().c_str(), file.string().c_str(), 90, &gps.set), S_OK);
    EXPECT_EQ(GpsTags(out_), c.tags);
    EXPECT_EQ(gps.set.GPSVersionID[1], c.gps_version[1]) << "the set's version is overwritten";
    EXPECT_EQ(*ReadValue(out_, exif::kGpsIfd, 0), "1/4:" + std::string(c.gps_version, 4));
    EXPECT_EQ(*ReadValue(out_, exif::kGpsIfd, 18), std::string("2/4:WGS\0", 8)) << "inline";
    EXPECT_TRUE(ThumbnailDecodes(out_));
    EXPECT_TRUE(DecodeCleanly(ReadFile(out_)));
    if (!HaveTool("exiftool")) continue;
    auto info = ExiftoolJson(out_);
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)["GPS:GPSTimeStamp"], "13:05:42.5");
    EXPECT_EQ(info->value("GPS:GPSDateStamp", ""), c.tags.back() == 29 ? "2024:05:01" : "");
    EXPECT_EQ(info->value("GPS:GPSAltitude", 0), c.old_gps ? 99 : 0)
        << "tags the set does not name stay";
  }
  const auto plain = CameraBlock(GetParam()).WriteJpeg(dir_);
  GpsSet four;
  four.Tags({18}).Datum("WGS8");
  ASSERT_EQ(ReplaceExifGps(out_.string().c_str(), plain.string().c_str(), 90, &four.set), S_OK);
  EXPECT_EQ(*ReadValue(out_, exif::kGpsIfd, 18), std::string("2/5:WGS8\0", 9)) << "value area";
}

// Two SHORT strip offsets held inline in IFD0's entry: when the GPS directory
// goes in front of the strips, each half moves by itself and still names its
// strip's bytes (file positions: the TIFF header's plus the offset). In a
// TIFF the strips are the image data, and any quality is taken.
TEST_P(GpsTest, ShortStripOffsetsHeldInlineMoveHalfByHalf) {
  const std::vector<std::vector<uint8_t>> strips = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10}};
  auto tiff = CameraBlock(GetParam());
  tiff.Long(kIfd0, 256, 4).Long(kIfd0, 257, 2).Short(kIfd0, 277, 1).Short(kIfd0, 278, 1);
  const std::filesystem::path files[] = {
      tiff.Strips(kIfd0, strips, kShort).WriteTiff(dir_),
      CameraBlock(GetParam()).Strips(kIfd0, strips, kShort).WriteJpeg(dir_)};
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const bool is_tiff = file.extension() != ".jpg";
    const auto out = is_tiff ? dir_ / "out.tif" : out_;
    GpsSet gps;
    gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
    ASSERT_EQ(ReplaceExifGps(out.string().c_str(), file.string().c_str(), is_tiff ? 0 : 90, &gps.set), S_OK);
    EXPECT_EQ(GpsTags(out), (std::vector<uint16_t>{0, 1, 2, 3, 4}));
    const auto before = ReadValue(file, exif::kIfd0, exif::kTagStripOffsets);
    const auto after = ReadValue(out, exif::kIfd0, exif::kTagStripOffsets);
    ASSERT_TRUE(before && after);
    ASSERT_EQ(after->size(), before->size());
    EXPECT_EQ(after->substr(0, 4), "3/2:");
    EXPECT_NE(*after, *before);
    exif::ExifReader reader(out.string().c_str(), 0, 0);
    const auto bytes = ReadFile(out);
    for (size_t i = 0; i < strips.size(); ++i) {
      uint16_t offset = 0;
      std::memcpy(&offset, after->data() + 4 + 2 * i, 2);
      const size_t at = reader.TiffHeaderOffset() + offset;
      ASSERT_LE(at + strips[i].size(), bytes.size());
      EXPECT_TRUE(std::equal(strips[i].begin(), strips[i].end(), bytes.begin() + long(at)))
          << "strip " << i;
    }
  }
}

// An empty tag list removes the directory and its pointer, also where the
// pointer's table runs past the block and names no directory (there the new
// one goes where readers find it); a file without one is refused.
TEST_P(GpsTest, RemovalAndDirectoriesThatCannotBeFollowedOrPutBack) {
  const auto file = WithOldGps(CameraBlock(GetParam())).WriteJpeg(dir_);
  auto broken = CameraBlock(GetParam());
  broken.Pointer(kGps).WithOffsetFromEnd(-2);
  const auto broken_file = broken.WriteJpeg(dir_, "broken.jpg");
  GpsSet gps, none;
  gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  ASSERT_EQ(ReplaceExifGps(out_.string().c_str(), broken_file.string().c_str(), 90, &gps.set), S_OK);
  EXPECT_EQ(GpsTags(out_), (std::vector<uint16_t>{0, 1, 2, 3, 4}));
  for (const auto& in : {file, broken_file}) {
    ASSERT_EQ(ReplaceExifGps(out_.string().c_str(), in.string().c_str(), 90, &none.set), S_OK);
    EXPECT_FALSE(ReadValue(out_, exif::kIfd0, exif::kTagGpsIfdPointer)) << in;
    EXPECT_LT(ReadFile(out_).size(), ReadFile(in).size()) << in;
    EXPECT_TRUE(ThumbnailDecodes(out_)) << in;
  }
  const auto without = CameraBlock(GetParam()).WriteJpeg(dir_, "plain.jpg");
  EXPECT_EQ(ReplaceExifGps(out_.string().c_str(), without.string().c_str(), 90, &none.set), E_FAIL);
  // Without an IFD1 to put back, the Interoperability directory still stays.
  TiffBuilder bare(GetParam());
  bare.Ascii(kIfd0, 271, "Maker")
      .Undefined(kExif, 36864, {'0', '2', '2', '0'})
      .Ascii(kInterop, 1, "R98");
  const auto bare_file = bare.WriteJpeg(dir_, "bare.jpg");
  ASSERT_EQ(ReplaceExifGps(out_.string().c_str(), bare_file.string().c_str(), 90, &gps.set), S_OK);
  for (const auto& f : {bare_file, out_}) {
    FileEditor editor(f);
    ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
    EXPECT_TRUE(editor.FindBlockEntry(exif::kInteropIfd, 1)) << f;
  }
}

// Two losses seen on real and minimal files: a merge whose rewrite the editor
// refuses reported success and left the old position in the file; and an
// all-zero entry beside GPSVersionID took the new version's place.
TEST_P(GpsTest, RefusedMergesFailAndDuplicateTagsKeepTheVersion) {
  const auto file = WithOldGps(CameraBlock(GetParam())).WriteJpeg(dir_);
  GpsSet gps;
  const std::string datum(66000, 'W');
  gps.Tags({1, 2, 18}).Position('N', 48, 'E', 2).Datum(datum.c_str());
  EXPECT_EQ(ReplaceExifGps(out_.string().c_str(), file.string().c_str(), 90, &gps.set), E_FAIL);
  EXPECT_FALSE(std::filesystem::exists(out_)) << "nothing written for a refused edit";

  auto zero = CameraBlock(GetParam());
  zero.Raw(kGps, 0, 0, 0, {}).Byte(kGps, 0, {2, 0, 0, 0}).Ascii(kGps, 1, "S").KeepEntryOrder();
  const auto zero_file = zero.WriteJpeg(dir_, "zero.jpg");
  gps.Tags({1, 2});  // the position as above
  ASSERT_EQ(ReplaceExifGps(out_.string().c_str(), zero_file.string().c_str(), 90, &gps.set), S_OK);
  EXPECT_EQ(GpsTags(out_), (std::vector<uint16_t>{0, 0, 1, 2}));
  exif::ExifReader reader(out_.string().c_str(), 1, 0);
  std::vector<exif::IfdEntry> entries;
  (void)reader.CollectEntries(exif::kGpsIfd, &entries);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].type, 0) << "the empty entry stays as it was";
  EXPECT_EQ(entries[1].type, exif::kTypeByte) << "the version is kept and renewed";
  EXPECT_EQ(entries[1].value, 0x00000202u);
}

TEST_P(GpsTest, ArgumentsAndOversizedApp1) {
  const auto file = CameraBlock(GetParam()).WriteJpeg(dir_);
  GpsSet gps;
  gps.Tags({27}).Method(std::vector<uint8_t>(200, 'x'));
  EXPECT_EQ(ReplaceExifGps(out_.string().c_str(), file.string().c_str(), 0, &gps.set), E_INVALIDARG);
  EXPECT_EQ(ReplaceExifGps(out_.string().c_str(), file.string().c_str(), 101, &gps.set), E_INVALIDARG);
  EXPECT_EQ(ReplaceExifGps(out_.string().c_str(), nullptr, 90, &gps.set), E_INVALIDARG);
  EXPECT_EQ(ReplaceExifGps("", file.string().c_str(), 90, &gps.set), E_INVALIDARG);
  EXPECT_EQ(ReplaceExifGps(out_.string().c_str(), file.string().c_str(), 90, nullptr), E_INVALIDARG);
  EXPECT_EQ(ReplaceExifGps((dir_ / "missing" / "o.jpg").string().c_str(), file.string().c_str(), 90, &gps.set),
            static_cast<HRESULT>(0x80070003u));
  // A set that pushes the APP1 past 65535 bytes: the existing target stays.
  const std::vector<uint8_t> old_target = {1, 2, 3};
  WriteFile(out_, old_target);
  auto big = CameraBlock(GetParam());
  big.Undefined(kIfd0, 700, std::vector<uint8_t>(64000, 'y'));
  const auto large = big.WriteJpeg(dir_, "large.jpg");
  gps.Tags({27}).Method(std::vector<uint8_t>(600, 'x'));
  EXPECT_EQ(ReplaceExifGps(out_.string().c_str(), large.string().c_str(), 90, &gps.set),
            static_cast<HRESULT>(0x8007000Du));
  EXPECT_EQ(ReadFile(out_), old_target);
}

}  // namespace
}  // namespace veltora::testing
