// The query subcommands of the veltora host, run as a separate process on the
// sample picture (GPS, a Quorvanta maker note, a thumbnail) and on files
// that fail, checking what a user or a script sees: info's table and stored
// numbers (its JSON form is the records', record_json_test), the reason given
// for a JPEG with EXIF data behind an APP0 segment, exif, get, maker and the
// presence subcommands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/host/run_host.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::testing {
namespace {

using host::testing::HostRun;
using host::testing::RunHost;
using ::testing::AllOf;
using ::testing::HasSubstr;

class QueryCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(sample_)) GTEST_SKIP() << "no sample picture at " << sample_;
  }

  // Runs with --json: the exit status, and one printed object per element
  // of `expected` (a JSON array) holding at least that element's members.
  // Returns the printed array.
  nlohmann::json Json(std::vector<std::string> args, int expected_status, const char* expected) {
    args.push_back("--json");
    const HostRun run = RunHost(args);
    EXPECT_EQ(run.exit_status, expected_status) << run.err;
    const nlohmann::json out = nlohmann::json::parse(run.out, nullptr, false);
    const nlohmann::json want = nlohmann::json::parse(expected);
    if (!out.is_array() || out.size() != want.size()) {
      ADD_FAILURE() << "expected " << want.size() << " objects:\n" << run.out;
      return nlohmann::json::array();
    }
    for (size_t i = 0; i < want.size(); ++i) {
      for (const auto& [key, value] : want[i].items()) {
        EXPECT_EQ(out[i].value(key, nlohmann::json()), value) << "object " << i << ": " << key;
      }
    }
    return out;
  }

  const std::string sample_ = host::testing::SamplePicture();
  TempDir dir_;
};

TEST_F(QueryCommandsTest, InfoTablesReadAsPhotographersReadAndRawAsStored) {
  const HostRun table = RunHost({"info", sample_});
  ASSERT_EQ(table.exit_status, 0) << table.err;
  for (const char* line :
       {"Preview                     : 160 x 120, 24 bits per pixel, JPG\n",
        "ExposureTime                : 1/250 s\n", "FNumber                     : f/5.6\n",
        "-- Interoperability\n", "GPSLatitude                 : 48.8584 N\n"}) {
    EXPECT_THAT(table.out, HasSubstr(line));
  }
  const HostRun raw = RunHost({"info", "-n", sample_});
  EXPECT_THAT(raw.out, HasSubstr("ExposureTime                : 1/250\n"));
  EXPECT_THAT(raw.out, HasSubstr("FNumber                     : 56/10\n"));
  EXPECT_THAT(raw.out, HasSubstr("GPSLatitude                 : 48/1 51/1 3024/100\n"));
}

// EXIF data behind a JFIF APP0: described without records, and told why.
TEST_F(QueryCommandsTest, InfoOfAJfifFileHasNoRecordsAndSaysWhy) {
  const auto tiff = TiffBuilder().Ascii(kIfd0, 271, "Maker").Short(kExif, 37385, 1).Bytes();
  WriteFile(dir_ / "jfif.jpg", SpliceExif(SmallJpeg(), tiff, true));
  const HostRun jfif = RunHost({"info", (dir_ / "jfif.jpg").string()});
  EXPECT_EQ(jfif.exit_status, 0);
  EXPECT_THAT(jfif.out, HasSubstr("EXIF    : none"));
  EXPECT_THAT(jfif.out, AllOf(HasSubstr("E_NOTEXIF"), HasSubstr("APP0 (JFIF)")));
}

TEST_F(QueryCommandsTest, ExifShowsAllThreeRecords) {
  // Maker0x0002 is 0x00010002.
  const nlohmann::json out = Json({"exif", sample_}, 0, R"([{
      "Make": "Veltora", "ExposureTime": [1, 250], "DateTimeOriginal": "2024:05:14 09:30:05",
      "GPSLatitude": [[48, 1], [51, 1], [3024, 100]], "GPSVersionID": [2, 3, 0, 0],
      "GPSMapDatum": "WGS-84", "MakerSignature": "Quorvanta", "Maker0x0002": 65538,
      "Maker0x0021": true}])");
  EXPECT_EQ(out.at(0).value("SourceFile", ""), sample_);

  // The table form prints one aligned "Key : value" line per attribute;
  // rationals read as people read them there, and only there.
  const HostRun table = RunHost({"exif", sample_});
  EXPECT_EQ(table.exit_status, 0);
  for (const char* line :
       {"Model                : Veltora Sample One\n", "ExposureTime         : 1/250 (0.004)\n",
        "GPSVersionID         : 2.3.0.0\n"}) {
    EXPECT_NE(table.out.find(line), std::string::npos) << table.out;
  }
}

TEST_F(QueryCommandsTest, GetShowsValuesByType) {
  Json({"get", sample_, "exif", "33434"}, 0,
       R"([{"Type": "RATIONAL", "Value": [1, 250], "Tag": 33434}])");
  EXPECT_NE(RunHost({"get", sample_, "exif", "33434"}).out.find("1/250 (0.004)"), std::string::npos);
  Json({"get", sample_, "IFD0", "0x010F"}, 0, R"([{"Value": "Veltora", "Size": 8}])");
  Json({"get", sample_, "gps", "0"}, 0, R"([{"Value": [2, 3, 0, 0]}])");
  Json({"get", sample_, "2", "36864"}, 0, R"([{"Value": "30 32 33 30"}])");

  // A code the plug-in refuses is passed on and its refusal shown.
  Json({"get", sample_, "17", "1"}, 1, R"([{"Error": "E_INVALIDARG"}])");
  // Names and numbers the host cannot parse stop the command.
  EXPECT_EQ(RunHost({"get", sample_, "makernote", "1"}).exit_status, 2);
  EXPECT_EQ(RunHost({"get", sample_, "exif", "70000"}).exit_status, 2);
}

TEST_F(QueryCommandsTest, MakerListsEntriesAndReportsAnotherSignature) {
  const nlohmann::json all = Json({"maker", sample_}, 0, R"([{"Signature": "Quorvanta"}])");
  ASSERT_TRUE(all.at(0)["Entries"].is_array());
  EXPECT_EQ(all[0]["Entries"].size(), 6u);
  EXPECT_EQ(all[0]["Entries"][1], (nlohmann::json{{"Tag", 2}, {"Value", 0x00010002}}));
  EXPECT_NE(RunHost({"maker", sample_}).out.find("0x0002    0x00010002\n"), std::string::npos);

  const nlohmann::json some = Json({"maker", sample_, "0x0007", "1"}, 0, "[{}]");
  ASSERT_EQ(some.at(0)["Entries"].size(), 2u);
  EXPECT_EQ(some[0]["Entries"][0].value("Tag", 0), 1);

  Json({"maker", sample_, "--signature", "Other"}, 1,
       R"([{"Error": "E_ABORT", "Signature": "Quorvanta"}])");
}

TEST_F(QueryCommandsTest, ManyFilesEachReportedOnItsOwn) {
  const std::string missing = (dir_ / "missing.jpg").string();
  const std::string png = (dir_ / "picture.png").string();
  Json({"orientation", sample_, missing, png}, 1, R"([
      {"Orientation": 1, "ThumbnailOrientation": 0}, {"Cause": "no such file"}, {"Cause": "no such file"}])");
  Json({"date", sample_, missing}, 1,
       R"([{"DateTimeOriginal": "2024:05:14 09:30:05"}, {"Error": "no such file"}])");
  // The presence flags would call a missing file "not EXIF"; the host says why first.
  Json({"check", sample_, missing}, 1,
       R"([{"Exif": true, "ExifVersion22": true, "PrintMatching": false}, {"Error": "no such file"}])");
}

}  // namespace
}  // namespace veltora::testing
