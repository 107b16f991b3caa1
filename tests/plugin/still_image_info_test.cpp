// GetStillImageInfo: the summaries, the EXIF records behind them, how one
// record and several are handed over, and the failures.
#include "plugin/still_image_info.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "frame/veltora.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora {
namespace {

namespace t = veltora::testing;

class StillImageInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exif_ = t::TiffBuilder()
                .Short(t::kIfd0, 274, 6)  // turned by the tag, not by the picture's view
                .Ascii(t::kIfd0, 271, "Maker")
                .Short(t::kExif, 37385, 1)
                .Short(t::kIfd1, 259, 6)
                .JpegThumbnail(t::RealJpeg(160, 120))
                .WriteJpeg(dir_, "exif.jpg")
                .string();
    t::WriteFile(dir_ / "plain.jpg", t::RealJpeg(32, 24));
    plain_ = (dir_ / "plain.jpg").string();
  }
  // The out object as a host zero-fills it; records freed with the test.
  struct Out {
    StillImageInfoOut value{};
    ~Out() {
      if (value.single.type != 0) {
        ImageInfoRecordDelete(value.single.type, value.single.record);
      } else {
        ImageInfoListDestroy(&value.list);
      }
    }
  };
  t::TempDir dir_;
  std::string exif_, plain_;
};

TEST_F(StillImageInfoTest, OneRecordComesAsAPairSeveralAsAList) {
  Out one;
  ASSERT_EQ(GetStillImageInfo(exif_.c_str(), &one.value, INFO_IMAGE), S_OK);
  ASSERT_EQ(one.value.single.type, INFO_IMAGE);
  const auto* picture = static_cast<const ImageSummary*>(one.value.single.record);
  // The EXIF Orientation (6) does not turn the summary.
  EXPECT_EQ(std::tuple(picture->width, picture->height, picture->bits_per_pixel),
            std::tuple(16u, 16u, 24));
  EXPECT_STREQ(picture->format_name, "JPG");

  Out three;
  ASSERT_EQ(GetStillImageInfo(exif_.c_str(), &three.value, INFO_IMAGE | INFO_THUMBNAIL | INFO_TIFF_MAIN), S_OK);
  std::vector<uint32_t> types;
  ImageInfoListVisit(&three.value.list, [&](uint32_t type, void*) { types.push_back(type); });
  EXPECT_EQ(types, (std::vector<uint32_t>{INFO_IMAGE, INFO_THUMBNAIL, INFO_TIFF_MAIN}));
  EXPECT_EQ(static_cast<const ImageSummary*>(ImageInfoListFind(&three.value.list, INFO_THUMBNAIL))->width, 160u);
  const auto* tiff = static_cast<const TiffInfo*>(ImageInfoListFind(&three.value.list, INFO_TIFF_MAIN));
  EXPECT_EQ(tiff->Orientation, 6);

  // No IFD1 record to give: nothing written, success.
  t::WriteFile(dir_ / "no_ifd1.jpg", t::SpliceExif(t::SmallJpeg(), t::TiffBuilder().Short(t::kExif, 37385, 1).Bytes()));
  Out none;
  EXPECT_EQ(GetStillImageInfo((dir_ / "no_ifd1.jpg").string().c_str(), &none.value, INFO_TIFF_THUMB), S_OK);
  EXPECT_EQ(std::tuple(none.value.single.type, none.value.list.count), std::tuple(0u, 0u));
}

TEST_F(StillImageInfoTest, FailuresWriteNothing) {
  t::WriteFile(dir_ / "tiny.bmp", std::vector<uint8_t>(54, 0));
  t::WriteFile(dir_ / "picture.jfif", t::SmallJpeg());
  const struct {
    std::string path;
    uint32_t flags;
    HRESULT result;
  } cases[] = {
      {plain_, INFO_TIFF_MAIN, E_NOTEXIF},
      {plain_, INFO_IMAGE | INFO_THUMBNAIL, E_FAIL},  // no preview: the picture's summary goes too
      {(dir_ / "tiny.bmp").string(), INFO_IMAGE, E_FAIL},
      {(dir_ / "missing.jpg").string(), INFO_IMAGE, E_FAIL},
      {(dir_ / "picture.jfif").string(), INFO_IMAGE, S_OK},  // described, without a format name
      {exif_, 0x00100000, E_INVALIDARG},
      {"", INFO_IMAGE, E_INVALIDARG},
  };
  for (const auto& c : cases) {
    Out out;
    EXPECT_EQ(GetStillImageInfo(c.path.c_str(), &out.value, c.flags), c.result) << c.path;
    if (c.result < 0) {
      EXPECT_EQ(out.value.single.type, 0u) << c.path;
    }
  }
  EXPECT_EQ(GetStillImageInfo(exif_.c_str(), nullptr, INFO_IMAGE), E_INVALIDARG);
  EXPECT_EQ(GetStillImageInfo(nullptr, nullptr, INFO_IMAGE), E_INVALIDARG);
}

TEST(FormatNameTest, TheExtensionNamesTheFormat) {
  const struct {
    const char* path;
    HRESULT result;
    const char* name;
  } cases[] = {
      {"a.JPE", S_OK, "JPG"}, {"a.TiFf", S_OK, "TIFF"}, {"dir/a.gif", S_OK, "GIF"},
      {"a.jfif", E_INVALIDARG, ""}, {"dir.jpg/a", E_INVALIDARG, ""}, {"", E_INVALIDARG, ""},
  };
  for (const auto& c : cases) {
    char field[128];
    std::fill(std::begin(field), std::end(field), 'x');
    EXPECT_EQ(SetFormatName(c.path, field), c.result) << c.path;
    if (c.path[0] != '\0') {
      EXPECT_STREQ(field, c.name) << c.path;
    }
  }
}

}  // namespace
}  // namespace veltora
