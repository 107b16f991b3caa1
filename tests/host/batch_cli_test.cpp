// End-to-end: veltora as a daily tool on copies of the corpus: batches over
// folders, causes named before a call, the output conventions, hints for EXIF
// data the plug-in does not take, and metadata copied between files. One
// table per subcommand family.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "run_host.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::host::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Json = nlohmann::json;

// The corpus's JPEG and TIFF files copied into in/ of a scratch folder.
class CorpusBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(HostExecutable().c_str(), X_OK) != 0) GTEST_SKIP() << "no " << HostExecutable();
    const auto corpus = veltora::testing::CorpusDir();
    if (!corpus) GTEST_SKIP() << "no corpus";
    fs::create_directory(P("in"));
    for (const auto& entry : fs::directory_iterator(*corpus)) {
      const std::string ext = entry.path().extension().string();
      if (ext == ".jpg" || ext == ".tif" || ext == ".tiff") {
        fs::copy_file(entry.path(), P("in") / entry.path().filename());
      }
    }
  }
  fs::path P(const std::string& name) const { return temp_.path() / name; }
  std::string S(const std::string& name) const { return P(name).string(); }
  Json RunJson(std::vector<std::string> args) {
    args.insert(args.begin() + 1, "--json");
    return Json::parse(RunHost(args).out, nullptr, false);
  }
  // `info --json` of every file in `folder`, without what differs between
  // two writes of the same edit: the file's own path and the stamped DateTime.
  Json Described(const std::string& folder, const std::string& jobs) {
    Json all = RunJson({"info", "-j", jobs, S(folder)});
    for (Json& file : all) {
      file["SourceFile"] = fs::path(file["SourceFile"].get<std::string>()).filename().string();
      if (file.contains("TiffMain")) file["TiffMain"].erase("DateTime");
    }
    return all;
  }
  veltora::testing::TempDir temp_;
};

// Each edit runs once over the whole folder, falls back to a rebuild where the
// in-place patch is refused, counts what it refused by cause, and gives the
// same files whatever -j says.
TEST_F(CorpusBatchTest, EditsTakeAFolderAndSummariseByCause) {
  struct Case {
    std::vector<std::string> edit;
    const char* summary;  // measured on the corpus; more refusals are a regression
  } cases[] = {
      {{"set-orientation", "6"}, "54 edited, 40 refused"},
      {{"gps", "--lat", "48.8584", "--lon", "2.2945"}, "40 edited, 54 refused"},
      {{"shift-date", "+1:30"}, "edited, "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edit[0]);
    for (const std::string jobs : {"1", "4"}) {
      const std::string out = "out-" + c.edit[0] + jobs;
      fs::create_directory(P(out));
      // What a killed write left goes, and is said; a backup stays.
      std::ofstream(P(out) / "~vtNEW-999999999-1.TMP") << "cut short";
      std::ofstream(P(out) / "~vtPIC-999999999-2.TMP") << "the only whole copy";
      std::vector<std::string> args = c.edit;
      args.insert(args.end(), {"-r", "-j", jobs, S("in"), "--output-dir", S(out)});
      const HostRun run = RunHost(args);
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_THAT(run.err, HasSubstr("removed 1 temporary file left by interrupted writes"));
      EXPECT_FALSE(fs::exists(P(out) / "~vtNEW-999999999-1.TMP"));
      fs::remove(P(out) / "~vtPIC-999999999-2.TMP");
      EXPECT_THAT(run.err, HasSubstr(c.summary));
      EXPECT_THAT(run.err, HasSubstr(" JFIF"));
    }
    EXPECT_EQ(Described("out-" + c.edit[0] + "1", "1"), Described("out-" + c.edit[0] + "4", "4"));
  }
  const Json turned = RunJson({"orientation", S("out-set-orientation1")});
  ASSERT_EQ(turned.size(), 54u);
  for (const Json& file : turned) EXPECT_EQ(file["Orientation"], 6) << file["SourceFile"];
  // Reading in parallel gives what reading one by one gives.
  EXPECT_EQ(Described("in", "1"), Described("in", "4"));
}

// Before a call the host names what it can see; after a failed file-system
// call, the system's message and the path.
TEST_F(CorpusBatchTest, CausesAreNamedInsteadOfCodes) {
  fs::create_directory(P("empty"));
  fs::copy_file(P("in/etl_Apple.jpg"), P("apple.dat"));
  ASSERT_EQ(mkfifo(S("fifo.jpg").c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> args;
    std::string cause;
  } cases[] = {
      {{"check", S("missing.jpg")}, "missing.jpg: no such file"},
      {{"orientation", S("fifo.jpg")}, "not a regular file (a FIFO, device or socket); not opened"},
      {{"info", S("empty")}, "a folder without pictures (png, tif, tiff, jpeg, jpg, jpe, bmp, gif)"},
      {{"date", S("apple.dat")}, "the plug-in takes files by extension, and .dat is not one of"},
      {{"encode", S("in/etl_Apple.jpg"), "-o", S("no/x.png")},
       "0x80070003 HRESULT_FROM_WIN32(3) ERROR_PATH_NOT_FOUND: No such file or directory (" +
           S("no/x.png") + ")"},
      {{"set-orientation", "6", S("in/etl_Apple.jpg"), "--output-dir", S("no")},
       "the folder " + S("no") + " does not exist"},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(c.args);
    EXPECT_EQ(run.exit_status, 1) << c.args[0];
    EXPECT_THAT(run.err, HasSubstr(c.cause)) << c.args[0];
  }
}

// Hints for EXIF data the plug-in does not take, in every form; info shows the
// records when the picture cannot be described, and names what failed.
TEST_F(CorpusBatchTest, EveryQueryHintsAtEXIFDataThePluginDoesNotTake) {
  const std::string jfif = S("in/etl_ExifTool.jpg");
  const std::string xmp_behind = S("in/ies_DSCN0010.jpg");
  for (const std::string command : {"info", "check", "orientation", "exif"}) {
    EXPECT_THAT(RunJson({command, jfif})[0].value("Hint", ""), HasSubstr("APP0 (JFIF)")) << command;
    EXPECT_THAT(RunJson({command, xmp_behind})[0].value("Hint", ""), HasSubstr("another APP1"))
        << command;
  }
  EXPECT_THAT(RunHost({"check", jfif}).out, HasSubstr("Hint"));
  const HostRun partial = RunHost({"info", "--json", S("in/lex_fuji_makernote_variant_1.jpg")});
  EXPECT_EQ(partial.exit_status, 0) << partial.err;
  const Json described = Json::parse(partial.out)[0];
  EXPECT_TRUE(described.contains("TiffMain"));
  EXPECT_EQ(described["Unread"]["Picture"], "0x80004005 E_FAIL");
}

TEST_F(CorpusBatchTest, OutputConventions) {
  const std::string in = S("in/etl_Apple.jpg");
  fs::last_write_time(in, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  const auto size = fs::file_size(in);
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"info"}, 2, "no file given"},
      {{"set-orientation", "6", "--in-place"}, 2, "no file given"},
      {{"set-orientation", "3", in, "-o", S("in/etl_Casio.jpg")}, 1, "exists; --force replaces it"},
      {{"set-orientation", "3", in, "-o", S("in/etl_Casio.jpg"), "--force"}, 0, "1 edited"},
      {{"set-orientation", "3", in, "-o", S("kept.jpg"), "-P"}, 0, "1 edited"},
      {{"set-orientation", "3", in, "-o", S("dry.jpg"), "--dry-run"}, 0, "1 edited"},
      {{"encode", in, "-o", S("by-extension.png")}, 0, ""},
      {{"encode", in, "-o", S("by-extension.png")}, 1, "exists; --force replaces it"},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(c.args);
    EXPECT_EQ(run.exit_status, c.status) << c.args.back();
    EXPECT_THAT(run.err, HasSubstr(c.err)) << c.args.back();
  }
  EXPECT_EQ(RunJson({"orientation", S("in/etl_Casio.jpg")})[0]["Orientation"], 3);
  EXPECT_EQ(fs::last_write_time(S("kept.jpg")), fs::last_write_time(in));
  EXPECT_FALSE(fs::exists(S("dry.jpg")));
  EXPECT_EQ(fs::file_size(in), size);
  EXPECT_EQ(veltora::testing::ReadFile(P("by-extension.png"))[1], 'P');
  EXPECT_EQ(RunHost({"--version"}).out, "veltora 1.0\n");

  const HostRun piped = RunHost({"set-orientation", "8", in, "-o", "-"});
  ASSERT_EQ(piped.exit_status, 0) << piped.err;
  std::ofstream(P("piped.jpg"), std::ios::binary) << piped.out;
  EXPECT_EQ(RunJson({"orientation", S("piped.jpg")})[0]["Orientation"], 8);
  EXPECT_FALSE(fs::exists("-"));
}

// The EXIF values of another file, as exiftool -tagsFromFile would copy them,
// never its thumbnail position: the target's thumbnail stays whole.
TEST_F(CorpusBatchTest, CopiedMetadataMatchesExiftoolAndKeepsTheThumbnail) {
  if (!veltora::testing::HaveTool("exiftool")) GTEST_SKIP() << "no exiftool";
  // What the exports can carry; exiftool rounds the altitude it writes.
  const std::vector<std::string> tags = {"Orientation", "Flash", "ExposureProgram", "GPSLatitudeRef",
                                         "GPSLatitude", "GPSLongitudeRef", "GPSLongitude",
                                         "ThumbnailLength"};
  const std::string source = S("in/etl_Apple.jpg");
  const std::vector<std::string> targets = {"mei_Canon_IXUS.jpg", "mei_Kodak_DC240.jpg", "etl_Casio.jpg",
                                            "mei_Canon_PowerShot_A40.jpg", "mei_Sony_Cybershot_1.jpg"};
  fs::create_directory(P("ours"));
  fs::create_directory(P("theirs"));
  std::vector<std::string> args = {"copy-exif", source};
  for (const auto& t : targets) args.push_back(S("in/" + t));
  args.insert(args.end(), {"--output-dir", S("ours")});
  const HostRun run = RunHost(args);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::vector<std::string> exiftool = {"exiftool", "-q", "-o", S("theirs") + "/", "-tagsFromFile", source};
  for (const auto& tag : tags) {
    if (!tag.starts_with("Thumbnail")) exiftool.push_back("-" + tag);
  }
  for (const auto& t : targets) exiftool.push_back(S("in/" + t));
  ASSERT_TRUE(veltora::testing::RunTool(exiftool));
  for (const auto& t : targets) {
    const auto ours = veltora::testing::ExiftoolJson(P("ours/" + t), {"-a"});
    const auto theirs = veltora::testing::ExiftoolJson(P("theirs/" + t), {"-a"});
    ASSERT_TRUE(ours && theirs) << t;
    for (const auto& tag : tags) {
      const auto find = [&](const Json& object) {
        for (const auto& [key, value] : object.items()) {
          if (key.ends_with(":" + tag)) return value;
        }
        return Json();
      };
      EXPECT_EQ(find(*ours), find(*theirs)) << t << " " << tag;
    }
  }
  // Records read from another file never carry its thumbnail's place.
  std::ofstream(P("canon.json")) << RunHost({"info", "--json", S("in/mei_Canon_IXUS.jpg")}).out;
  ASSERT_EQ(RunHost({"append", "--from", S("canon.json"), S("in/mei_Canon_PowerShot_A40.jpg"), "-o",
                     S("appended.jpg")}).exit_status, 0);
  EXPECT_EQ(RunHost({"decode", "--preview", S("appended.jpg"), "-o", S("thumb.png")}).exit_status, 0);
}

}  // namespace
}  // namespace veltora::host::testing
