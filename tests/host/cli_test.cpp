// End-to-end: the built veltora executable, the plug-in it loads, exit
// statuses and the shapes of its output; the subcommands that write records
// and pictures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "run_host.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::host::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class HostCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(HostExecutable().c_str(), X_OK) != 0) GTEST_SKIP() << "no " << HostExecutable();
    if (access(PluginPath().c_str(), R_OK) != 0) GTEST_SKIP() << "no " << PluginPath();
  }
};

TEST_F(HostCliTest, FormatsListsTheEightExtensionsByIndex) {
  const HostRun table = RunHost({"formats"});
  ASSERT_EQ(table.exit_status, 0) << table.err;
  EXPECT_THAT(Lines(table.out), ElementsAre("0 png", "1 tif", "2 tiff", "3 jpeg", "4 jpg", "5 jpe",
                                            "6 bmp", "7 gif"));

  const HostRun json = RunHost({"formats", "--json"});
  ASSERT_EQ(json.exit_status, 0) << json.err;
  const auto array = nlohmann::json::parse(json.out);
  ASSERT_EQ(array.size(), 8u);
  EXPECT_EQ(array[4], nlohmann::json({{"Index", 4}, {"Extension", "jpg"}}));
}

TEST_F(HostCliTest, OneUnsupportedFileFailsTheRunButNotTheOtherFiles) {
  const HostRun table = RunHost({"supported", "a.JPG", "b.zip", "c.Tiff"});
  EXPECT_EQ(table.exit_status, 1);
  EXPECT_THAT(Lines(table.out), ElementsAre("a.JPG: supported", "c.Tiff: supported"));
  EXPECT_THAT(table.err, HasSubstr("b.zip: IsSupported: 0x80004005 E_FAIL"));

  // Empty and non-UTF-8 paths still give valid JSON.
  const HostRun json =
      RunHost({"supported", "--json", "a.JPG", "b.zip", "", "caf\xE9.jpg", "\xFF\xFE.zip"});
  EXPECT_EQ(json.exit_status, 1);
  EXPECT_THAT(json.err, IsEmpty());
  nlohmann::json array;
  ASSERT_NO_THROW(array = nlohmann::json::parse(json.out)) << json.out;
  ASSERT_EQ(array.size(), 5u);
  EXPECT_EQ(array[0], nlohmann::json({{"SourceFile", "a.JPG"}, {"Supported", true}}));
  EXPECT_EQ(array[1]["Message"], "IsSupported: 0x80004005 E_FAIL");
  EXPECT_EQ(array[2]["ErrorCode"], "0x80070057");
  // SourceFile leads every object, as tools reading exiftool-style JSON expect.
  EXPECT_EQ(json.out.find("\"SourceFile\""), json.out.find('"'));

  const HostRun all_good = RunHost({"supported", "x.png", "dir.jpg/y.gif"});
  EXPECT_EQ(all_good.exit_status, 0) << all_good.err;
}

TEST_F(HostCliTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {{"no-such-command"},
                                                       {"--no-such-option"},
                                                       {"formats", "extra"},
                                                       {"version", "--plugin"},
                                                       {"supported", "--json=maybe"}};
  for (const auto& args : cases) {
    const HostRun run = RunHost(args);
    EXPECT_EQ(run.exit_status, 2) << args[0] << (args.size() > 1 ? " " + args[1] : "");
    EXPECT_THAT(run.err, Not(IsEmpty())) << args[0];
  }
}

TEST_F(HostCliTest, EverySubcommandHasHelpAndNoSubcommandPrintsIt) {
  const HostRun top = RunHost({});
  ASSERT_EQ(top.exit_status, 0) << top.err;
  // The names listed under "Subcommands:".
  const std::string list = top.out.substr(std::min(top.out.find("Subcommands:"), top.out.size()));
  const std::regex entry(R"(\n  ([a-z][a-z-]*)\s)");
  std::vector<std::string> names;
  for (std::sregex_iterator it(list.begin(), list.end(), entry), end; it != end; ++it) {
    names.push_back((*it)[1]);
  }
  EXPECT_THAT(names, ::testing::IsSupersetOf({"version", "formats", "supported"}));
  EXPECT_THAT(RunHost({"help"}).out, Not(HasSubstr("example: (none)")));
  for (const auto& name : names) {
    // --help needs no plug-in: it must work even when none can be loaded.
    const HostRun help = RunHost({name, "--help"}, {"VELTORA_PLUGIN=/nonexistent/Veltora.pcp"});
    EXPECT_EQ(help.exit_status, 0) << name << ": " << help.err;
    EXPECT_THAT(help.out, HasSubstr("Usage: veltora " + name)) << name;
  }
}

TEST_F(HostCliTest, AMissingExportStopsTheCommandAndNamesTheExport) {
  const HostRun formats = RunHost({"--plugin", StubPluginPath(), "formats"});
  EXPECT_EQ(formats.exit_status, 2);
  EXPECT_THAT(formats.err, HasSubstr("Veltora.pcp does not export GetNumOfSupportedExtentions"));
  EXPECT_THAT(formats.out, IsEmpty());

  // Checked before the first file, so no half-written JSON array.
  const HostRun supported = RunHost({"supported", "--json", "--plugin", StubPluginPath(), "a.jpg"});
  EXPECT_EQ(supported.exit_status, 2);
  EXPECT_THAT(supported.err, HasSubstr("does not export IsSupported"));
  EXPECT_THAT(supported.out, IsEmpty());

  // version needs GetPluginVersion only, and counts what is missing.
  const HostRun version = RunHost({"version", "--plugin", StubPluginPath()});
  EXPECT_EQ(version.exit_status, 0) << version.err;
  EXPECT_THAT(version.out, AllOf(HasSubstr("2.3 (0x00020003)"), HasSubstr("1 of 23"),
                                 HasSubstr("GetStillImageInfo")));
}

TEST_F(HostCliTest, PluginChoiceOptionBeatsEnvironmentBeatsDefault) {
  const std::string stub_env = "VELTORA_PLUGIN=" + StubPluginPath();
  EXPECT_THAT(RunHost({"version"}, {stub_env}).out, HasSubstr(StubPluginPath()));

  const HostRun from_option = RunHost({"version", "--json", "--plugin", PluginPath()}, {stub_env});
  ASSERT_EQ(from_option.exit_status, 0) << from_option.err;
  const auto object = nlohmann::json::parse(from_option.out);
  EXPECT_EQ(object["VersionCode"], "0x00010000");
  EXPECT_EQ(object["Plugin"], PluginPath());

  const HostRun missing = RunHost({"version", "--plugin", "/nonexistent/Veltora.pcp"});
  EXPECT_EQ(missing.exit_status, 2);
  EXPECT_THAT(missing.err, HasSubstr("cannot load the plug-in /nonexistent/Veltora.pcp"));

  // A bare file name is a file in the current directory, not a library
  // search: no such file here, so the load fails instead of finding another.
  EXPECT_EQ(RunHost({"version", "--plugin", "libc.so.6"}).exit_status, 2);
}

TEST_F(HostCliTest, ProgressLineOnlyForManyFilesOnATerminal) {
  std::string command = "'" + HostExecutable() + "' supported";
  for (int i = 0; i < 25; ++i) command += " f" + std::to_string(i) + ".jpg";
  const HostRun terminal = RunOnTerminal(command + " >/dev/null");
  if (terminal.exit_status < 0) GTEST_SKIP() << "script(1) unavailable";
  EXPECT_THAT(terminal.out, HasSubstr("\r[25/25] f24.jpg"));

  const HostRun few = RunOnTerminal("'" + HostExecutable() + "' supported a.jpg >/dev/null");
  EXPECT_THAT(few.out, Not(HasSubstr("[1/1]")));

  std::vector<std::string> args = {"supported"};
  for (int i = 0; i < 25; ++i) args.push_back("f" + std::to_string(i) + ".jpg");
  EXPECT_THAT(RunHost(args).err, Not(HasSubstr("\r")));
}

// Commands run on a.jpg, a copy of the sample picture the build makes (a real
// JPEG with EXIF data), beside a good and a bad record file.
class SampleCopyTest : public HostCliTest {
 protected:
  void SetUp() override {
    HostCliTest::SetUp();
    if (IsSkipped()) return;
    fs::copy_file(SamplePicture(), dir_ / "a.jpg");
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

// The subcommands that hand records to the plug-in (append, encode --exif),
// with record files good and bad, and the in-place editors.
using RecordsCommandsTest = SampleCopyTest;

TEST_F(RecordsCommandsTest, AppendWritesOnlyWhereToldAndRefusesBadRecords) {
  EXPECT_EQ(RunHost({"append", P("a.jpg"), "--from", P("orientation.json")}).exit_status, 2);
  const HostRun bad = RunHost({"append", "--from", P("bad.json"), P("a.jpg"), "-o", P("b.jpg")});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_THAT(bad.err, HasSubstr("TiffMain.Orientation"));
  EXPECT_FALSE(fs::exists(P("b.jpg")));

  const HostRun merged =
      RunHost({"append", "--from", P("orientation.json"), P("a.jpg"), "-o", P("b.jpg")});
  EXPECT_EQ(merged.exit_status, 0) << merged.err;
  EXPECT_EQ(Orientation("b.jpg"), 6);
  EXPECT_EQ(Orientation("a.jpg"), 1);
  std::ofstream(dir_ / "c.jpg") << "any";
  const HostRun in_place = RunHost({"append", "--source", P("a.jpg"), "--from",
                                    P("orientation.json"), P("c.jpg"), "--in-place"});
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
  Write("main_only.json", R"({"TiffMain": {"Orientation": 8}})");
  const HostRun no_exif = EncodeWithRecords("f.jpg", "jpeg", "main_only.json");
  EXPECT_EQ(no_exif.exit_status, 2);
  EXPECT_THAT(no_exif.err, HasSubstr("needs a TiffMain and an Exif record"));
  EXPECT_FALSE(fs::exists(P("f.jpg")));
}

TEST_F(RecordsCommandsTest, SetOrientationRebuildsWhereThePatchIsRefused) {
  const HostRun strict = RunHost({"set-orientation", "3", P("a.jpg"), "--no-rebuild", "-o", P("t.jpg")});
  EXPECT_EQ(strict.exit_status, 1);  // the sample has no IFD1 Orientation to patch
  EXPECT_THAT(strict.err, HasSubstr("without --no-rebuild the EXIF block is rebuilt"));
  const HostRun turned = RunHost({"set-orientation", "3", P("a.jpg"), "-o", P("t.jpg")});
  EXPECT_EQ(turned.exit_status, 0) << turned.err;
  EXPECT_THAT(turned.out, HasSubstr("Rebuilt"));
  EXPECT_EQ(Orientation("t.jpg"), 3);
  EXPECT_EQ(Orientation("a.jpg"), 1);
  const HostRun bad = RunHost({"set-date", "2024-05-14 09:30:05", P("a.jpg"), "--in-place"});
  EXPECT_EQ(bad.exit_status, 2);
  EXPECT_THAT(bad.err, HasSubstr("YYYY:MM:DD HH:MM:SS"));
  ASSERT_EQ(RunHost({"set-date", "2001:02:03 04:05:06", P("a.jpg"), "-o", P("d.jpg")}).exit_status, 0);
  ASSERT_EQ(RunHost({"shift-date", "-1 05:00", P("d.jpg"), "--in-place"}).exit_status, 0);
  EXPECT_THAT(RunHost({"date", "--json", P("d.jpg")}).out, HasSubstr("2001:02:01 23:05:06"));
}

// Under "ulimit -f" a rebuild that outgrows the limit once killed the host
// with SIGXFSZ. The host ignores the signal, so the write fails with 223 and
// the host says so; that the old target is put back and no temporary file
// stays is write_failure_test's, for the same GPS write.
TEST_F(RecordsCommandsTest, FileSizeLimitFailsTheWriteInsteadOfKillingTheHost) {
  // Bytes after the end of the image are copied along, so the new file is large.
  std::ofstream(dir_ / "a.jpg", std::ios::app) << std::string(200000, 'x');
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = saved;
  limit.rlim_cur = 65536;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_DFL);  // as a shell leaves it
  const HostRun run =
      RunHost({"gps", P("a.jpg"), "-o", P("out.jpg"), "--lat", "48.8584", "--lon", "2.2945"});
  std::signal(SIGXFSZ, old_handler);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);

  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr("0x800700DF"));
}

// "WxH" of a picture as identify sees it, or "" when identify refuses it.
std::string Identify(const fs::path& file) {
  auto result = veltora::testing::RunTool({"identify", "-format", "%m %wx%h", file.string()});
  return result && result->exit_code == 0 && result->err.empty() ? result->out : "";
}

// The host's decode, encode and draw subcommands, run as a user runs them.
class PictureCommandsTest : public SampleCopyTest {
 protected:
  void SetUp() override {
    SampleCopyTest::SetUp();
    if (!veltora::testing::HaveTool("identify"))
      GTEST_SKIP() << "ImageMagick identify is not installed";
  }
  // `command` on the sample picture, writing `out` in the scratch directory.
  HostRun OnPhoto(const std::string& command, const std::string& out,
                  std::vector<std::string> more = {}) {
    more.insert(more.begin(), {command, P("a.jpg"), "-o", P(out)});
    return RunHost(more);
  }
};

TEST_F(PictureCommandsTest, DecodeWritesPngOrBmpByExtensionOrThePreview) {
  const HostRun png = OnPhoto("decode", "a.png");
  ASSERT_EQ(png.exit_status, 0) << png.err;
  const HostRun bmp = OnPhoto("decode", "a.BMP", {"--json"});
  ASSERT_EQ(bmp.exit_status, 0) << bmp.err;
  EXPECT_NE(bmp.out.find("\"BitsPerPixel\": 24"), std::string::npos) << bmp.out;
  const std::string png_size = Identify(P("a.png"));
  EXPECT_EQ(png_size.substr(0, 3), "PNG");
  EXPECT_EQ(png_size.substr(4), Identify(P("a.BMP")).substr(5));
  // Only the two formats, and never over the input.
  EXPECT_EQ(OnPhoto("decode", "a.gif").exit_status, 2);
  const std::vector<uint8_t> png_bytes = veltora::testing::ReadFile(P("a.png"));
  EXPECT_EQ(RunHost({"decode", P("a.png"), "-o", P("a.png")}).exit_status, 1);
  EXPECT_EQ(veltora::testing::ReadFile(P("a.png")), png_bytes);
  EXPECT_EQ(RunHost({"decode", P("missing.jpg"), "-o", P("m.png")}).exit_status, 1);
  EXPECT_FALSE(fs::exists(P("m.png")));
  // --preview takes the embedded thumbnail, or fails without one.
  const HostRun result = OnPhoto("decode", "p.png", {"--preview"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(Identify(P("p.png")), "PNG 160x120");
  OnPhoto("encode", "plain.jpg", {"--format", "jpeg"});
  const HostRun none = RunHost({"decode", P("plain.jpg"), "--preview", "-o", P("q.png")});
  EXPECT_EQ(none.exit_status, 1);
  EXPECT_NE(none.err.find("no usable preview"), std::string::npos) << none.err;
}

TEST_F(PictureCommandsTest, EncodeWritesEveryFormat) {
  const std::string size = Identify(P("a.jpg")).substr(5);
  for (const std::string format : {"jpeg", "png", "tiff", "bmp", "gif"}) {
    const HostRun result =
        OnPhoto("encode", "out." + format, {"--format", format, "--quality", "75"});
    ASSERT_EQ(result.exit_status, 0) << format << result.err;
    EXPECT_THAT(Identify(P("out." + format)), ::testing::EndsWith(" " + size));
  }
  EXPECT_EQ(OnPhoto("encode", "x.webp", {"--format", "webp"}).exit_status, 2);
  std::ofstream(dir_ / "junk.jpg") << "not a picture";
  EXPECT_EQ(RunHost({"encode", P("junk.jpg"), "-o", P("junk.png")}).exit_status, 1);
  EXPECT_FALSE(fs::exists(P("junk.png")));
}

TEST_F(PictureCommandsTest, DrawWritesThePaintedSurface) {
  const HostRun result = OnPhoto(
      "draw", "drawn.png",
      {"--size", "200x150", "--angle", "12.34", "--crop", "10,10,150,100", "--whiten", "40"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(Identify(P("drawn.png")), "PNG 200x150");
  EXPECT_EQ(OnPhoto("draw", "drawn.png", {"--size", "0x10"}).exit_status, 2);
  EXPECT_EQ(OnPhoto("draw", "drawn.png", {"--size", "10x10", "--crop", "1,2"}).exit_status, 2);
  // A crop outside the picture: DrawImage fails and nothing is written.
  const HostRun outside =
      OnPhoto("draw", "none.png", {"--size", "10x10", "--crop", "90000,90000,90010,90010"});
  EXPECT_EQ(outside.exit_status, 1);
  EXPECT_NE(outside.err.find("E_FAIL"), std::string::npos) << outside.err;
  EXPECT_FALSE(fs::exists(P("none.png")));
}

TEST_F(PictureCommandsTest, ThumbAndReplaceImageWriteCopiesNeverTheirInputs) {
  ASSERT_EQ(OnPhoto("decode", "new.png").exit_status, 0);
  for (const std::string command : {"thumb", "replace-image"}) {
    SCOPED_TRACE(command);
    const HostRun run = OnPhoto(command, command + ".jpg", {"--from", P("new.png"), "--json"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.out.find("\"Quality\": 90"), std::string::npos) << run.out;
    EXPECT_EQ(Identify(P(command + ".jpg")).substr(0, 4), "JPEG");
    const auto before = veltora::testing::ReadFile(P("a.jpg"));
    EXPECT_EQ(OnPhoto(command, "a.jpg", {"--from", P("new.png"), "--force"}).exit_status, 1);
    EXPECT_EQ(OnPhoto(command, "x.jpg", {"--from", P("new.png"), "--quality", "0"}).exit_status, 2);
    EXPECT_EQ(veltora::testing::ReadFile(P("a.jpg")), before);
  }
}

// The values themselves are checked at the export (image_replacement_test).
TEST_F(PictureCommandsTest, EncodeWithNewExifPassesTheValuesOn) {
  const HostRun run =
      OnPhoto("encode", "new.jpg",
              {"--new-exif", "--make", "Acme", "--lat", "-33.5", "--lon", "151.25", "--json"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(RunHost({"get", P("new.jpg"), "ifd0", "271"}).out.find("Acme"), std::string::npos);
  EXPECT_EQ(OnPhoto("encode", "x.png", {"--new-exif"}).exit_status, 2);
  EXPECT_EQ(OnPhoto("encode", "new.jpg", {"--lat", "1", "--lon", "2"}).exit_status, 2);
}

}  // namespace
}  // namespace veltora::host::testing
