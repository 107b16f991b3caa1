// SetOrientation and SetDateTimeOriginal through the exports. That a TIFF's
// rebuild keeps its image data byte for byte at an even position and reads
// without warnings is held by the corpus round trip (its TIFFs rebuilt for
// GPS), the editor's TIFF layout test and the sub-image output test.
#include <gtest/gtest.h>

#include <tuple>

#include "edit/orientation_edit.h"
#include "exif/directory.h"
#include "frame/veltora.h"
#include "tests/edit/edit_test_support.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

uint16_t Orientation(const std::filesystem::path& file, uint32_t which) {
  return exif::ExifReader(file.string().c_str(), 0, 0).GetOrientationTag(which);
}

std::string DateTime(const std::filesystem::path& file, uint32_t kind) {
  exif::ExifReader reader(file.string().c_str(), 0, 0);
  std::string text;
  (void)reader.ReadDateText(0, kind, &text);
  return text;
}

// Bytes that differ between two files of the same size.
size_t Differences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t n = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
  return n;
}

class OrientationTest : public ::testing::TestWithParam<Endian> {
 protected:
  TempDir dir_;
};
VELTORA_BOTH_BYTE_ORDERS(OrientationTest);

TEST(NewOrientations, ThumbnailTurnsWithTheMainImageAndKeepsItsMirroring) {
  using edit::NewOrientations;
  struct Case {
    uint16_t r, c0, c1, n0, n1;
  } cases[] = {{6, 1, 1, 6, 6}, {8, 6, 1, 8, 3}, {6, 1, 2, 6, 5}, {3, 3, 2, 3, 2},
               {1, 6, 8, 1, 3}, {2, 1, 3, 2, 3}, {5, 7, 4, 5, 2}};
  for (const auto& c : cases) {
    const auto n = NewOrientations(c.r, c.c0, c.c1);
    EXPECT_EQ(n.primary, c.n0) << c.r << " " << c.c0 << " " << c.c1;
    EXPECT_EQ(n.thumbnail, c.n1) << c.r << " " << c.c0 << " " << c.c1;
  }
}

// The patch road: both values change where they lie, DateTime is stamped
// (even when the orientation stays), and a copy leaves its input alone.
TEST_P(OrientationTest, PatchChangesOnlyTheTwoValuesAndDateTime) {
  struct Case {
    const char* name;
    uint16_t old0, old1, turn, new0, new1;
    bool copy;
  } cases[] = {{"in place", 6, 1, 8, 8, 3, false},
               {"same orientation", 1, 1, 1, 1, 1, false},
               {"copy", 1, 2, 6, 6, 5, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file =
        CameraBlock(GetParam(), c.old0, c.old1).WriteJpeg(dir_, std::string(c.name) + ".jpg");
    const auto out = c.copy ? dir_ / "turned.jpg" : file;
    const auto before = ReadFile(file);
    ASSERT_EQ(SetOrientation(out.string().c_str(), file.string().c_str(), c.turn, 0), S_OK);
    const auto after = ReadFile(out);
    ASSERT_EQ(after.size(), before.size());
    if (c.copy) {
      EXPECT_EQ(ReadFile(file), before);
    }
    EXPECT_EQ(std::tuple(Orientation(out, 0), Orientation(out, 1)), std::tuple(c.new0, c.new1));
    EXPECT_LE(Differences(before, after), 2u + 19u);
    EXPECT_NE(DateTime(out, 0), "2001:01:01 00:00:00") << "DateTime is stamped";
    EXPECT_EQ(DateTime(out, 0).size(), 19u);
  }
}

// A thumbnail without Orientation, or a main image whose Orientation is no
// valid one (read as 1), cannot be patched. The rebuild writes both; its
// stamp and pictures are checked where the other rebuilding edits are
// (output_test, gps_test).
TEST_P(OrientationTest, MissingOrInvalidOrientationNeedsTheRebuild) {
  for (const uint16_t primary : {1, 0}) {
    SCOPED_TRACE(primary);
    const auto file = CameraBlock(GetParam(), primary, 0).WriteJpeg(dir_);
    const auto before = ReadFile(file);
    EXPECT_EQ(SetOrientation(file.string().c_str(), file.string().c_str(), 6, 0), E_FAIL);
    EXPECT_EQ(ReadFile(file), before);
    ASSERT_EQ(SetOrientation(file.string().c_str(), file.string().c_str(), 6, 1), S_OK);
    EXPECT_EQ(std::tuple(Orientation(file, 0), Orientation(file, 1)), std::tuple(6, 6));
  }
}

TEST_P(OrientationTest, RefusalsLeaveTheFileAlone) {
  const auto file = CameraBlock(GetParam()).WriteJpeg(dir_);
  const auto before = ReadFile(file);
  EXPECT_EQ(SetOrientation(file.string().c_str(), file.string().c_str(), 9, 1), E_FAIL);
  EXPECT_EQ(SetOrientation(file.string().c_str(), file.string().c_str(), 0, 1), E_FAIL);
  const auto png = dir_ / "picture.png";
  WriteFile(png, before);
  EXPECT_EQ(SetOrientation(png.string().c_str(), png.string().c_str(), 6, 1), E_FAIL);
  EXPECT_EQ(SetOrientation(nullptr, file.string().c_str(), 6, 1), E_INVALIDARG);
  SYSTEMTIME date{2020, 2, 0, 30, 10, 0, 0, 0};
  EXPECT_EQ(SetDateTimeOriginal(file.string().c_str(), date), E_INVALIDARG);
  date.wDay = 29;
  date.wHour = 24;
  EXPECT_EQ(SetDateTimeOriginal(file.string().c_str(), date), E_INVALIDARG);
  EXPECT_EQ(ReadFile(file), before);

  // A damaged block whose maker note covers IFD0's table: the patch would
  // write into the note. The rebuild writes IFD0 anew behind the block
  // instead, and the note keeps every byte where it was.
  auto damaged = CameraBlock(GetParam());
  damaged.Undefined(kExif, 37500, std::vector<uint8_t>(64, 0xA5)).WithOffset(8);
  const auto overlap = damaged.WriteJpeg(dir_, "overlap.jpg");
  const auto overlap_before = ReadFile(overlap);
  EXPECT_EQ(SetOrientation(overlap.string().c_str(), overlap.string().c_str(), 6, 0), E_FAIL);
  EXPECT_EQ(ReadFile(overlap), overlap_before);
  EXPECT_EQ(SetOrientation(overlap.string().c_str(), overlap.string().c_str(), 6, 1), S_OK);
  const size_t note_at = exif::ExifReader(overlap.string().c_str(), 0, 0).TiffHeaderOffset() + 8;
  const auto overlap_after = ReadFile(overlap);
  ASSERT_GE(overlap_after.size(), note_at + 64);
  EXPECT_TRUE(std::equal(overlap_before.begin() + note_at, overlap_before.begin() + note_at + 64,
                         overlap_after.begin() + note_at));
  EXPECT_EQ(exif::ExifReader(overlap.string().c_str(), 0, 0).GetOrientationTag(0), 6);

  const auto jfif = dir_ / "jfif.jpg";
  WriteFile(jfif, SpliceExif(SmallJpeg(), CameraBlock(GetParam()).Bytes(), true));
  EXPECT_EQ(SetOrientation(jfif.string().c_str(), jfif.string().c_str(), 6, 1), E_NOTEXIF);
  EXPECT_EQ(SetDateTimeOriginal(jfif.string().c_str(), SYSTEMTIME{2020, 1, 0, 1, 0, 0, 0, 0}),
            E_NOTEXIF);
}

TEST_P(OrientationTest, CaptureDateKeepsItsSeparatorsAndNeedsCount20) {
  TiffBuilder b(GetParam());
  b.Ascii(kIfd0, 306, "2001:01:01 00:00:00").Ascii(kExif, 36867, "2006/05/14 09-30-05");
  const auto file = b.WriteJpeg(dir_);
  const auto size = ReadFile(file).size();
  ASSERT_EQ(SetDateTimeOriginal(file.string().c_str(), SYSTEMTIME{99, 12, 4, 31, 7, 8, 9, 0}), S_OK);
  EXPECT_EQ(DateTime(file, 16), "0099/12/31 07-08-09");  // years below 100 are dates too
  ASSERT_EQ(SetDateTimeOriginal(file.string().c_str(), SYSTEMTIME{2024, 2, 4, 29, 7, 8, 9, 0}), S_OK);
  EXPECT_EQ(DateTime(file, 16), "2024/02/29 07-08-09");
  EXPECT_NE(DateTime(file, 0), "2001:01:01 00:00:00");
  EXPECT_EQ(ReadFile(file).size(), size);

  TiffBuilder short_text(GetParam());
  short_text.Ascii(kIfd0, 306, "2001:01:01 00:00:00").Ascii(kExif, 36867, "2006:05:14");
  const auto other = short_text.WriteJpeg(dir_, "short.jpg");
  const auto before = ReadFile(other);
  EXPECT_EQ(SetDateTimeOriginal(other.string().c_str(), SYSTEMTIME{2024, 2, 4, 29, 7, 8, 9, 0}),
            E_FAIL);
  EXPECT_EQ(ReadFile(other), before);
}

}  // namespace
}  // namespace veltora::testing
