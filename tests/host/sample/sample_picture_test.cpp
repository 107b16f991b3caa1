// The sample picture the build ships: independent readers find it valid and
// carrying the values the README documents.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;

class SamplePicture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(path_)) GTEST_SKIP() << "sample picture not built";
    if (!HaveTool("exiftool")) GTEST_SKIP() << "exiftool is not installed";
  }
  const fs::path path_ = VELTORA_SAMPLE_PICTURE;
};

TEST_F(SamplePicture, ValidatesWithoutWarnings) {
  auto problems = ExiftoolValidate(path_);
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->empty()) << ::testing::PrintToString(*problems);
  auto out = Exiv2Values(path_);
  if (out) {
    EXPECT_EQ(std::tuple(out->exit_code, out->err), std::tuple(0, ""));
    EXPECT_EQ(out->values["Exif.Image.Make"], "Veltora");
  }
}

TEST_F(SamplePicture, CarriesTheDocumentedValues) {
  auto info = ExiftoolJson(path_);
  ASSERT_TRUE(info);
  auto& j = *info;
  const auto documented = nlohmann::json::parse(R"({
      "IFD0:Make": "Veltora", "IFD0:Orientation": 1, "ExifIFD:ExifVersion": "0230",
      "ExifIFD:DateTimeOriginal": "2024:05:14 09:30:05", "GPS:GPSAltitude": 35,
      "GPS:GPSMapDatum": "WGS-84", "InteropIFD:InteropIndex": "R98", "File:ImageWidth": 640,
      "File:ImageHeight": 480})");
  for (const auto& [key, value] : documented.items()) EXPECT_EQ(j[key], value) << key;
  EXPECT_NEAR(j["GPS:GPSLatitude"].get<double>(), 48.8584, 1e-6);
  EXPECT_NEAR(j["GPS:GPSLongitude"].get<double>(), 2.2945, 1e-6);

  const auto bytes = ReadFile(path_);
  EXPECT_EQ(DecodeCleanly(bytes)->width, 640);
  const auto maker = std::string("Quorvanta\0\0\0", 12);
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(maker), std::string::npos);
  auto thumbnail = RunTool({"exiftool", "-b", "-ThumbnailImage", path_.string()});
  ASSERT_TRUE(thumbnail);
  auto size = DecodeCleanly(std::vector<uint8_t>(thumbnail->out.begin(), thumbnail->out.end()));
  ASSERT_TRUE(size);
  EXPECT_EQ(std::tuple(size->width, size->height), std::tuple(160, 120));
}

}  // namespace
}  // namespace veltora::testing
