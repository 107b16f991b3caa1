// veltora info, run as a separate process: the table, the stored numbers,
// the JSON form, the reason given for a JPEG with EXIF data behind an APP0
// segment, and `info --json F > r.json && encode F --exif r.json`, which must
// give a file whose attributes (those the records carry) exiftool reads as
// it reads F's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "interface/record_fields.h"
#include "tests/host/run_host.h"
#include "tests/info/exiftool_view.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::host::testing {
namespace {

namespace fs = std::filesystem;
namespace t = veltora::testing;
using ::testing::AllOf;
using ::testing::HasSubstr;

class InfoCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(HostExecutable().c_str(), X_OK) != 0) GTEST_SKIP() << "no " << HostExecutable();
    sample_ = (fs::path(HostExecutable()).parent_path() / "veltora-sample.jpg").string();
  }
  HostRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--plugin", PluginPath()});
    return RunHost(args);
  }
  std::string sample_;
  t::TempDir dir_;
};

TEST_F(InfoCommandTest, TablesReadAsPhotographersReadAndRawAsStored) {
  const HostRun table = Run({"info", sample_});
  ASSERT_EQ(table.exit_status, 0) << table.err;
  for (const char* line :
       {"Preview                     : 160 x 120, 24 bits per pixel, JPG\n",
        "ExposureTime                : 1/250 s\n", "FNumber                     : f/5.6\n",
        "-- Interoperability\n", "GPSLatitude                 : 48.8584 N\n"}) {
    EXPECT_THAT(table.out, HasSubstr(line));
  }
  const HostRun raw = Run({"info", "-n", sample_});
  EXPECT_THAT(raw.out, HasSubstr("ExposureTime                : 1/250\n"));
  EXPECT_THAT(raw.out, HasSubstr("FNumber                     : 56/10\n"));
  EXPECT_THAT(raw.out, HasSubstr("GPSLatitude                 : 48/1 51/1 3024/100\n"));
}

// The JSON form is read back by encode in InfoJsonEncodedBackKeepsEveryCarriedAttribute.
// EXIF data behind a JFIF APP0: described without records, and told why.
TEST_F(InfoCommandTest, AJfifFileHasNoRecordsAndIsToldWhy) {
  const auto tiff =
      t::TiffBuilder().Ascii(t::kIfd0, 271, "Maker").Short(t::kExif, 37385, 1).Bytes();
  t::WriteFile(dir_ / "jfif.jpg", t::SpliceExif(t::SmallJpeg(), tiff, true));
  const HostRun jfif = Run({"info", (dir_ / "jfif.jpg").string()});
  EXPECT_EQ(jfif.exit_status, 0);
  EXPECT_THAT(jfif.out, HasSubstr("EXIF    : none"));
  EXPECT_THAT(jfif.out, AllOf(HasSubstr("E_NOTEXIF"), HasSubstr("APP0 (JFIF)")));
  // The other query subcommands say so too, in the message and the JSON.
  const HostRun exif = Run({"exif", "--json", (dir_ / "jfif.jpg").string()});
  EXPECT_THAT(nlohmann::json::parse(exif.out)[0].value("Hint", ""), HasSubstr("APP0 (JFIF)"));
}

// exiftool's names of the attributes the records carry, by group.
std::set<std::string> CarriedTags() {
  std::set<std::string> tags;
  for (const RecordSchema& schema : RecordSchemas()) {
    const std::string record = schema.name;
    if (record != "TiffMain" && record != "Exif" && record != "Gps") continue;
    for (const RecordField& f : schema.fields) {
      // The records number the last four GPS tags 40 to 43, files 27 to 30:
      // a file's GPSDateStamp, processing method, area information and
      // differential are not read into them, so they are not carried.
      if (f.directory != FieldDirectory::kGps || f.tag < 40) tags.insert(t::ExiftoolKey(record, f));
    }
  }
  return tags;
}

TEST_F(InfoCommandTest, InfoJsonEncodedBackKeepsEveryCarriedAttribute) {
  const auto corpus = t::CorpusDir();
  if (!corpus || !t::HaveTool("exiftool")) GTEST_SKIP() << "needs the corpus and exiftool";
  std::vector<fs::path> originals, outputs;
  for (const auto& entry : fs::directory_iterator(*corpus)) {
    if (entry.path().extension() != ".jpg") continue;
    const std::string records = (dir_ / (entry.path().stem().string() + ".json")).string();
    const std::string out = (dir_ / entry.path().filename().string()).string();
    const HostRun info = Run({"info", "--json", entry.path().string()});
    if (info.exit_status != 0 || !nlohmann::json::parse(info.out)[0].contains("Exif")) continue;
    std::ofstream(records) << info.out;
    // Pictures that do not decode (cut-off files) cannot be encoded again.
    if (Run({"encode", entry.path().string(), "-o", out, "--format", "jpeg", "--exif", records})
            .exit_status != 0) {
      continue;
    }
    originals.push_back(entry.path());
    outputs.push_back(out);
  }
  std::vector<fs::path> all = originals;
  all.insert(all.end(), outputs.begin(), outputs.end());
  const auto views = t::ExiftoolJsonEach(all, {"-a", "-u", "-G1", "-n"});
  ASSERT_TRUE(views);
  const std::set<std::string> carried = CarriedTags();
  size_t compared = 0;
  for (size_t i = 0; i < originals.size(); ++i) {
    const nlohmann::json& before = views->at(originals[i].string());
    const nlohmann::json& after = views->at(outputs[i].string());
    for (const auto& [key, value] : before.items()) {
      if (carried.count(key) == 0) continue;
      ++compared;
      EXPECT_EQ(after.value(key, nlohmann::json()), value) << originals[i].filename() << " " << key;
    }
  }
  std::cout << originals.size() << " files encoded back, " << compared
            << " carried attributes compared\n";
  EXPECT_GT(originals.size(), 20u);
}

}  // namespace
}  // namespace veltora::host::testing
