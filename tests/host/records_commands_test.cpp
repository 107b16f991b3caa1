// End-to-end: the subcommands that hand records to the plug-in (append,
// encode --exif), with record files good and bad.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "run_host.h"
#include "tests/support/temp_dir.h"

namespace veltora::host::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class RecordsCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(HostExecutable().c_str(), X_OK) != 0) GTEST_SKIP() << "no " << HostExecutable();
    if (access(PluginPath().c_str(), R_OK) != 0) GTEST_SKIP() << "no " << PluginPath();
    fs::copy_file(fs::path(HostExecutable()).parent_path() / "veltora-sample.jpg", dir_ / "a.jpg");
    Write("orientation.json", R"({"TiffMain": {"Orientation": 6}})");
    Write("bad.json", R"({"TiffMain": {"Orientation": 70000}})");
  }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  int Orientation(const std::string& name) {
    const HostRun run = RunHost({"orientation", "--json", P(name)});
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    return json.is_array() && !json.empty() ? json[0].value("Orientation", -1) : -1;
  }
  veltora::testing::TempDir temp_;
  const fs::path& dir_ = temp_.path();
};

TEST_F(RecordsCommandsTest, AppendWritesOnlyWhereToldAndRefusesBadRecords) {
  const auto size = fs::file_size(P("a.jpg"));
  const HostRun nowhere = RunHost({"append", P("a.jpg"), "--from", P("orientation.json")});
  EXPECT_EQ(nowhere.exit_status, 2);
  const HostRun bad = RunHost({"append", P("a.jpg"), "--from", P("bad.json"), "-o", P("b.jpg")});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_THAT(bad.err, HasSubstr("TiffMain.Orientation"));
  EXPECT_FALSE(fs::exists(P("b.jpg")));

  const HostRun merged = RunHost({"append", P("a.jpg"), "--from", P("orientation.json"), "-o", P("b.jpg")});
  EXPECT_EQ(merged.exit_status, 0) << merged.err;
  EXPECT_EQ(Orientation("b.jpg"), 6);
  EXPECT_EQ(Orientation("a.jpg"), 1);
  EXPECT_EQ(fs::file_size(P("a.jpg")), size);
  const HostRun in_place =
      RunHost({"append", P("c.jpg"), "--source", P("a.jpg"), "--from", P("orientation.json"), "--in-place"});
  EXPECT_EQ(in_place.exit_status, 0) << in_place.err;
  EXPECT_EQ(Orientation("c.jpg"), 6);
}

TEST_F(RecordsCommandsTest, EncodeWritesTheBlockBuiltFromTheRecords) {
  Write("records.json", R"({"TiffMain": {"Orientation": 8, "Make": "Maker"},
                            "Exif": {"ExifVersion": "0230", "ColorSpace": 1},
                            "TiffThumb": {"Compression": 6, "JPEGInterchangeFormat": 0,
                                          "JPEGInterchangeFormatLength": 0}})");
  const HostRun run = RunHost({"encode", P("a.jpg"), "-o", P("e.jpg"), "--format", "jpeg", "--exif",
                               P("records.json")});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Orientation("e.jpg"), 8);
  const HostRun png = RunHost({"encode", P("a.jpg"), "-o", P("e.png"), "--format", "png", "--exif",
                               P("records.json")});
  EXPECT_EQ(png.exit_status, 2);
  EXPECT_FALSE(fs::exists(P("e.png")));
  const HostRun bad = RunHost({"encode", P("a.jpg"), "-o", P("f.jpg"), "--format", "jpeg", "--exif",
                               P("bad.json")});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_FALSE(fs::exists(P("f.jpg")));
  Write("main_only.json", R"({"TiffMain": {"Orientation": 8}})");
  const HostRun no_exif = RunHost({"encode", P("a.jpg"), "-o", P("f.jpg"), "--format", "jpeg",
                                   "--exif", P("main_only.json")});
  EXPECT_EQ(no_exif.exit_status, 2);
  EXPECT_THAT(no_exif.err, HasSubstr("needs a TiffMain and an Exif record"));
  EXPECT_FALSE(fs::exists(P("f.jpg")));
}

}  // namespace
}  // namespace veltora::host::testing
