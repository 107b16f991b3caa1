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

  // The same with --json: the JSON array it printed.
  nlohmann::json Json(std::vector<std::string> args, int expected_status) {
    args.push_back("--json");
    const HostRun run = Run(std::move(args));
    EXPECT_EQ(run.exit_status, expected_status) << run.err;
    nlohmann::json parsed = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_TRUE(parsed.is_array()) << run.out;
    return parsed.is_array() ? parsed : nlohmann::json::array();
  }

  std::string sample_;
  TempDir dir_;
};

TEST_F(QueryCommandsTest, ExifShowsAllThreeRecords) {
  const nlohmann::json out = Json({"exif", sample_}, 0);
  ASSERT_EQ(out.size(), 1u);
  const nlohmann::json& f = out[0];
  EXPECT_EQ(f.value("SourceFile", ""), sample_);
  EXPECT_EQ(f.value("Make", ""), "Veltora");
  EXPECT_EQ(f["ExposureTime"], nlohmann::json::array({1, 250}));
  EXPECT_EQ(f.value("DateTimeOriginal", ""), "2024:05:14 09:30:05");
  EXPECT_EQ(f["GPSLatitude"], nlohmann::json::parse("[[48, 1], [51, 1], [3024, 100]]"));
  EXPECT_EQ(f["GPSVersionID"], nlohmann::json::array({2, 3, 0, 0}));
  EXPECT_EQ(f.value("GPSMapDatum", ""), "WGS-84");
  EXPECT_EQ(f.value("MakerSignature", ""), "Quorvanta");
  EXPECT_EQ(f.value("Maker0x0002", 0u), 0x00010002u);
  EXPECT_EQ(f.value("Maker0x0021", false), true);

  // The table form prints one aligned "Key : value" line per attribute.
  const HostRun table = Run({"exif", sample_});
  EXPECT_EQ(table.exit_status, 0);
  EXPECT_NE(table.out.find("Model                : Veltora Sample One\n"), std::string::npos)
      << table.out;
  // Rationals read as people read them there, and only there.
  EXPECT_NE(table.out.find("ExposureTime         : 1/250 (0.004)\n"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("GPSVersionID         : 2.3.0.0\n"), std::string::npos) << table.out;
}

TEST_F(QueryCommandsTest, GetShowsValuesByType) {
  const nlohmann::json rational = Json({"get", sample_, "exif", "33434"}, 0);
  ASSERT_EQ(rational.size(), 1u);
  EXPECT_EQ(rational[0].value("Type", ""), "RATIONAL");
  EXPECT_EQ(rational[0]["Value"], nlohmann::json::array({1, 250}));
  EXPECT_EQ(rational[0]["Tag"], 33434);
  EXPECT_NE(Run({"get", sample_, "exif", "33434"}).out.find("1/250 (0.004)"), std::string::npos);

  const nlohmann::json text = Json({"get", sample_, "IFD0", "0x010F"}, 0);
  EXPECT_EQ(text[0].value("Value", ""), "Veltora");
  EXPECT_EQ(text[0].value("Size", 0u), 8u);

  const nlohmann::json bytes = Json({"get", sample_, "gps", "0"}, 0);
  EXPECT_EQ(bytes[0]["Value"], nlohmann::json::array({2, 3, 0, 0}));
  const nlohmann::json version = Json({"get", sample_, "2", "36864"}, 0);
  EXPECT_EQ(version[0].value("Value", ""), "30 32 33 30");

  // A code the plug-in refuses is passed on and its refusal shown.
  const nlohmann::json refused = Json({"get", sample_, "17", "1"}, 1);
  EXPECT_EQ(refused[0].value("Error", ""), "E_INVALIDARG");
  const nlohmann::json absent = Json({"get", sample_, "ifd1", "271"}, 1);
  EXPECT_EQ(absent[0].value("Error", ""), "E_FAIL");
  // Names and numbers the host cannot parse stop the command.
  EXPECT_EQ(Run({"get", sample_, "makernote", "1"}).exit_status, 2);
  EXPECT_EQ(Run({"get", sample_, "exif", "70000"}).exit_status, 2);
}

TEST_F(QueryCommandsTest, MakerListsEntriesAndReportsAnotherSignature) {
  const nlohmann::json all = Json({"maker", sample_}, 0);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].value("Signature", ""), "Quorvanta");
  ASSERT_TRUE(all[0]["Entries"].is_array());
  EXPECT_EQ(all[0]["Entries"].size(), 6u);
  EXPECT_EQ(all[0]["Entries"][1], (nlohmann::json{{"Tag", 2}, {"Value", 0x00010002}}));
  EXPECT_NE(Run({"maker", sample_}).out.find("0x0002    0x00010002\n"), std::string::npos);

  const nlohmann::json some = Json({"maker", sample_, "0x0007", "1"}, 0);
  ASSERT_EQ(some[0]["Entries"].size(), 2u);
  EXPECT_EQ(some[0]["Entries"][0].value("Tag", 0), 1);

  const nlohmann::json other = Json({"maker", sample_, "--signature", "Other"}, 1);
  EXPECT_EQ(other[0].value("Error", ""), "E_ABORT");
  EXPECT_EQ(other[0].value("Signature", ""), "Quorvanta");
}

TEST_F(QueryCommandsTest, ManyFilesEachReportedOnItsOwn) {
  const std::string missing = (dir_ / "missing.jpg").string();
  const std::string png = (dir_ / "picture.png").string();
  const nlohmann::json orientation = Json({"orientation", sample_, missing, png}, 1);
  ASSERT_EQ(orientation.size(), 3u);
  EXPECT_EQ(orientation[0].value("Orientation", 99), 1);
  EXPECT_EQ(orientation[0].value("ThumbnailOrientation", 99), 0);
  EXPECT_EQ(orientation[1].value("Error", ""), "E_NOTEXIF");
  EXPECT_EQ(orientation[2].value("Error", ""), "E_FAIL");

  const nlohmann::json date = Json({"date", sample_, missing}, 1);
  EXPECT_EQ(date[0].value("DateTimeOriginal", ""), "2024:05:14 09:30:05");
  EXPECT_EQ(date[1].value("Call", ""), "GetDateTimeOriginal");

  // Presence flags never fail: an unreadable file is simply not EXIF.
  const nlohmann::json check = Json({"check", sample_, missing}, 0);
  EXPECT_EQ(check[0].value("Exif", false), true);
  EXPECT_EQ(check[0].value("ExifVersion22", false), true);
  EXPECT_EQ(check[0].value("PrintMatching", true), false);
  EXPECT_EQ(check[1].value("Exif", true), false);

  const HostRun failed = Run({"date", missing});
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_NE(failed.err.find(missing + ": GetDateTimeOriginal: 0x8878000B E_NOTEXIF"),
            std::string::npos)
      << failed.err;
}

}  // namespace
}  // namespace veltora::testing
