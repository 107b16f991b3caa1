// End-to-end: the subcommands that hand records to the plug-in (append,
// encode --exif), with record files good and bad, and the in-place editors.
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
  void Write(const std::string& name, const std::string& json) {
    std::ofstream(dir_ / name) << json;
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  // Encodes a.jpg into `out` with the EXIF block built from the record file `records`.
  HostRun EncodeWithRecords(const std::string& out, const char* format,
                            const std::string& records) {
    return RunHost({"encode", P("a.jpg"), "-o", P(out), "--format", format, "--exif", P(records)});
  }
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
  EXPECT_EQ(RunHost({"append", P("a.jpg"), "--from", P("orientation.json")}).exit_status, 2);
  const HostRun bad = RunHost({"append", P("a.jpg"), "--from", P("bad.json"), "-o", P("b.jpg")});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_THAT(bad.err, HasSubstr("TiffMain.Orientation"));
  EXPECT_FALSE(fs::exists(P("b.jpg")));

  const HostRun merged =
      RunHost({"append", P("a.jpg"), "--from", P("orientation.json"), "-o", P("b.jpg")});
  EXPECT_EQ(merged.exit_status, 0) << merged.err;
  EXPECT_EQ(Orientation("b.jpg"), 6);
  EXPECT_EQ(Orientation("a.jpg"), 1);
  EXPECT_EQ(fs::file_size(P("a.jpg")), size);
  const HostRun in_place = RunHost({"append", P("c.jpg"), "--source", P("a.jpg"), "--from",
                                    P("orientation.json"), "--in-place"});
  EXPECT_EQ(in_place.exit_status, 0) << in_place.err;
  EXPECT_EQ(Orientation("c.jpg"), 6);
}

TEST_F(RecordsCommandsTest, EncodeWritesTheBlockBuiltFromTheRecords) {
  Write("records.json", R"({"TiffMain": {"Orientation": 8, "Make": "Maker"},
                            "Exif": {"ExifVersion": "0230", "ColorSpace": 1},
                            "TiffThumb": {"Compression": 6, "JPEGInterchangeFormat": 0,
                                          "JPEGInterchangeFormatLength": 0}})");
  const HostRun run = EncodeWithRecords("e.jpg", "jpeg", "records.json");
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Orientation("e.jpg"), 8);
  EXPECT_EQ(EncodeWithRecords("e.png", "png", "records.json").exit_status, 2);
  EXPECT_FALSE(fs::exists(P("e.png")));
  EXPECT_EQ(EncodeWithRecords("f.jpg", "jpeg", "bad.json").exit_status, 2);
  EXPECT_FALSE(fs::exists(P("f.jpg")));
  Write("main_only.json", R"({"TiffMain": {"Orientation": 8}})");
  const HostRun no_exif = EncodeWithRecords("f.jpg", "jpeg", "main_only.json");
  EXPECT_EQ(no_exif.exit_status, 2);
  EXPECT_THAT(no_exif.err, HasSubstr("needs a TiffMain and an Exif record"));
  EXPECT_FALSE(fs::exists(P("f.jpg")));
}

TEST_F(RecordsCommandsTest, SetOrientationAndSetDateWriteWhatTheyAreGiven) {
  const HostRun patch = RunHost({"set-orientation", P("a.jpg"), "3", "-o", P("t.jpg")});
  EXPECT_EQ(patch.exit_status, 1);  // the sample has no IFD1 Orientation to patch
  EXPECT_THAT(patch.err, HasSubstr("--rebuild rewrites the EXIF block"));
  const HostRun turned =
      RunHost({"set-orientation", P("a.jpg"), "3", "--rebuild", "-o", P("t.jpg")});
  EXPECT_EQ(turned.exit_status, 0) << turned.err;
  EXPECT_EQ(Orientation("t.jpg"), 3);
  EXPECT_EQ(Orientation("a.jpg"), 1);
  const HostRun bad = RunHost({"set-date", P("a.jpg"), "2024-05-14 09:30:05"});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_THAT(bad.err, HasSubstr("YYYY:MM:DD HH:MM:SS"));
  const HostRun dated = RunHost({"set-date", P("a.jpg"), "2001:02:03 04:05:06"});
  EXPECT_EQ(dated.exit_status, 0) << dated.err;
  EXPECT_THAT(RunHost({"date", "--json", P("a.jpg")}).out, HasSubstr("2001:02:03 04:05:06"));
}

}  // namespace
}  // namespace veltora::host::testing
