// The query subcommands of the veltora host, run as a separate process on the
// sample picture (GPS, a Quorvanta maker note, a thumbnail) and on files
// that fail, checking what a user or a script sees.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/host/run_host.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

using host::testing::HostRun;
using host::testing::PluginPath;
using host::testing::RunHost;

class QueryCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("VELTORA_BUILD_DIR");
    if (build == nullptr) GTEST_SKIP() << "VELTORA_BUILD_DIR is not set (run through ctest)";
    sample_ = (std::filesystem::path(build) / "veltora-sample.jpg").string();
    if (!std::filesystem::exists(sample_)) GTEST_SKIP() << "no sample picture at " << sample_;
  }

  // Runs veltora with the built plug-in.
  HostRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--plugin", PluginPath()});
    return RunHost(args);
  }

  // Runs with --json: the exit status, and one printed object per element
  // of `expected` (a JSON array) holding at least that element's members.
  // Returns the printed array.
  nlohmann::json Json(std::vector<std::string> args, int expected_status, const char* expected) {
    args.push_back("--json");
    const HostRun run = Run(std::move(args));
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

  std::string sample_;
  TempDir dir_;
};

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
  const HostRun table = Run({"exif", sample_});
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
  EXPECT_NE(Run({"get", sample_, "exif", "33434"}).out.find("1/250 (0.004)"), std::string::npos);
  Json({"get", sample_, "IFD0", "0x010F"}, 0, R"([{"Value": "Veltora", "Size": 8}])");
  Json({"get", sample_, "gps", "0"}, 0, R"([{"Value": [2, 3, 0, 0]}])");
  Json({"get", sample_, "2", "36864"}, 0, R"([{"Value": "30 32 33 30"}])");

  // A code the plug-in refuses is passed on and its refusal shown.
  Json({"get", sample_, "17", "1"}, 1, R"([{"Error": "E_INVALIDARG"}])");
  Json({"get", sample_, "ifd1", "271"}, 1, R"([{"Error": "E_FAIL"}])");
  // Names and numbers the host cannot parse stop the command.
  EXPECT_EQ(Run({"get", sample_, "makernote", "1"}).exit_status, 2);
  EXPECT_EQ(Run({"get", sample_, "exif", "70000"}).exit_status, 2);
}

TEST_F(QueryCommandsTest, MakerListsEntriesAndReportsAnotherSignature) {
  const nlohmann::json all = Json({"maker", sample_}, 0, R"([{"Signature": "Quorvanta"}])");
  ASSERT_TRUE(all.at(0)["Entries"].is_array());
  EXPECT_EQ(all[0]["Entries"].size(), 6u);
  EXPECT_EQ(all[0]["Entries"][1], (nlohmann::json{{"Tag", 2}, {"Value", 0x00010002}}));
  EXPECT_NE(Run({"maker", sample_}).out.find("0x0002    0x00010002\n"), std::string::npos);

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
