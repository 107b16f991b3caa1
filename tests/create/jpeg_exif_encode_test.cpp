// Encode with ENCODE_EXIF and a record list, as a host calls it, and the
// embedded thumbnail's geometry.
#include "plugin/jpeg_exif_encode.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "create/whole_file.h"
#include "exif/exif_reader.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_io.h"
#include "plugin/exif_writers.h"
#include "plugin/veltora.h"
#include "tests/create/records.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::RecordList;

constexpr uint32_t kExifEncode = ENCODE_EXIF | ENCODE_EXIF_RECORDS;

TEST(ExifThumbnailFitTest, SizesAndPlaces) {
  struct {
    int32_t w, h, view;
    ExifThumbnailFit fit;
  } cases[] = {
      {4000, 3000, 1, {160, 120, 0, 0}},  {3000, 4000, 1, {90, 120, 35, 0}},
      {1000, 10, 1, {160, 1, 0, 59}},     {1, 3000, 1, {1, 120, 79, 0}},
      {3000, 4000, 6, {90, 120, 35, 0}},  {3000, 4000, 5, {160, 120, 0, 0}},
  };
  for (const auto& c : cases) {
    const ExifThumbnailFit fit = FitExifThumbnail(c.w, c.h, c.view);
    EXPECT_EQ(std::tie(fit.width, fit.height, fit.left, fit.top),
              std::tie(c.fit.width, c.fit.height, c.fit.left, c.fit.top))
        << c.w << "x" << c.h << " view " << c.view;
  }
}

class JpegExifEncodeTest : public testing::FileSystemTest {
 protected:
  void SetUp() override {
    FileSystemTest::SetUp();
    testing::AddFullRecords(records_);
    dib_ = imaging::MakeDib(imaging::testing::MakePhoto(400, 300));
  }
  void TearDown() override {
    GlobalFree(dib_);
    FileSystemTest::TearDown();
  }
  RecordList records_;
  HGLOBAL dib_ = nullptr;
};

TEST_F(JpegExifEncodeTest, TheBlockFollowsTheStartOfImageAndCarriesAThumbnail) {
  const std::string out = Path("out.jpg");
  ASSERT_EQ(Encode(dib_, out.c_str(), kExifEncode, 90, records_.get()), S_OK);
  const auto bytes = ReadBytes(out);
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_EQ(bytes[2], 0xFF);
  EXPECT_EQ(bytes[3], 0xE1);  // no APP0 in front of (or behind) the EXIF block
  EXPECT_EQ(create::FindJpegMarker(0xFFE0, bytes), -1);
  EXPECT_TRUE(TempLeftovers().empty());

  exif::ExifReader reader(out.c_str(), 1, 0);
  ASSERT_TRUE(reader.IsExifJpeg());
  EXPECT_EQ(reader.sofWidth, 400);
  std::vector<uint8_t> thumbnail;
  ASSERT_GT(reader.GetThumbnail(&thumbnail), 0u);
  EXPECT_EQ(create::FindJpegMarker(0xFFE0, thumbnail), -1);
  EXPECT_EQ(imaging::CheckJpegStream(thumbnail.data(), thumbnail.size()), 1);
  imaging::Bitmap decoded;
  ASSERT_EQ(imaging::LoadEmbeddedPreview(out.c_str(), &decoded, 24), 1);
  EXPECT_EQ(decoded.width, 160);
  EXPECT_EQ(decoded.height, 120);
  imaging::Bitmap picture;
  EXPECT_EQ(imaging::LoadPictureFile(out.c_str(), &picture, 24), 1);
}

TEST_F(JpegExifEncodeTest, FailuresLeaveTheTargetAndNoTempFile) {
  const auto old = testing::PatternBytes(64, 7);
  const std::string target = Path("old.jpg");
  testing::WriteBytes(target, old);
  RecordList no_exif;
  no_exif.Add<TiffInfo>(INFO_TIFF_MAIN);
  const struct {
    const char* name;
    HGLOBAL dib;
    ImageInfoList* list;
    HRESULT result;
  } cases[] = {
      {"no INFO_EXIF record", dib_, no_exif.get(), E_FAIL},
      {"null DIB", nullptr, records_.get(), E_INVALIDARG},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Encode(c.dib, target.c_str(), kExifEncode, 90, c.list), c.result) << c.name;
    EXPECT_EQ(ReadBytes(target), old) << c.name;
    EXPECT_TRUE(TempLeftovers().empty()) << c.name;
  }
  EXPECT_EQ(EncodeJpegWithExif(dib_, "", 90, records_.get()), E_INVALIDARG);
  imaging::Bitmap empty;
  std::vector<uint8_t> jpeg;
  EXPECT_EQ(MakeExifThumbnail(&empty, &jpeg, 75), E_FAIL);
  EXPECT_EQ(MakeExifThumbnail(&empty, &jpeg, 0), E_INVALIDARG);
  EXPECT_EQ(MakeExifThumbnail(&empty, nullptr, 75), E_INVALIDARG);
}

}  // namespace
}  // namespace veltora
