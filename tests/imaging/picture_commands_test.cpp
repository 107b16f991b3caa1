// The host's decode, encode and draw subcommands, run as a user runs them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::RunTool;
using testing::ToolResult;

ToolResult Host(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), VELTORA_HOST_EXECUTABLE);
  auto result = RunTool(arguments);
  return result.value_or(ToolResult{});
}

// "WxH" of a picture as identify sees it, or "" when identify refuses it.
std::string Identify(const fs::path& file) {
  auto result = RunTool({"identify", "-format", "%m %wx%h", file.string()});
  return result && result->exit_code == 0 && result->err.empty() ? result->out : "";
}

class PictureCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveTool("identify")) GTEST_SKIP() << "ImageMagick identify is not installed";
    // The sample picture made by the build: a real JPEG with EXIF data.
    fs::copy_file(fs::path(VELTORA_HOST_EXECUTABLE).parent_path() / "veltora-sample.jpg", photo_);
  }
  // `command` on the sample picture, writing `out` in the scratch directory.
  ToolResult OnPhoto(const std::string& command, const std::string& out,
                     std::vector<std::string> more = {}) {
    more.insert(more.begin(), {command, photo_.string(), "-o", P(out)});
    return Host(more);
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  testing::TempDir dir_;
  const fs::path photo_ = dir_ / "photo.jpg";
};

TEST_F(PictureCommandsTest, DecodeWritesPngOrBmpByExtension) {
  const ToolResult png = OnPhoto("decode", "a.png");
  ASSERT_EQ(png.exit_code, 0) << png.err;
  const ToolResult bmp = OnPhoto("decode", "a.BMP", {"--json"});
  ASSERT_EQ(bmp.exit_code, 0) << bmp.err;
  EXPECT_NE(bmp.out.find("\"BitsPerPixel\": 24"), std::string::npos) << bmp.out;
  const std::string png_size = Identify(P("a.png"));
  EXPECT_EQ(png_size.substr(0, 3), "PNG");
  EXPECT_EQ(png_size.substr(4), Identify(P("a.BMP")).substr(5));
  // Only the two formats, and never over the input.
  EXPECT_EQ(OnPhoto("decode", "a.gif").exit_code, 2);
  const std::vector<uint8_t> png_bytes = testing::ReadFile(P("a.png"));
  EXPECT_EQ(Host({"decode", P("a.png"), "-o", P("a.png")}).exit_code, 1);
  EXPECT_EQ(testing::ReadFile(P("a.png")), png_bytes);
  EXPECT_EQ(Host({"decode", P("missing.jpg"), "-o", P("m.png")}).exit_code, 1);
  EXPECT_FALSE(fs::exists(P("m.png")));
}

TEST_F(PictureCommandsTest, DecodePreviewTakesTheEmbeddedThumbnailOrFails) {
  const ToolResult result = OnPhoto("decode", "p.png", {"--preview"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Identify(P("p.png")), "PNG 160x120");
  OnPhoto("encode", "plain.jpg", {"--format", "jpeg"});
  const ToolResult none = Host({"decode", P("plain.jpg"), "--preview", "-o", P("q.png")});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.err.find("no usable preview"), std::string::npos) << none.err;
}

TEST_F(PictureCommandsTest, EncodeWritesEveryFormat) {
  const std::string size = Identify(photo_).substr(5);
  for (const std::string format : {"jpeg", "png", "tiff", "bmp", "gif"}) {
    const ToolResult result =
        OnPhoto("encode", "out." + format, {"--format", format, "--quality", "75"});
    ASSERT_EQ(result.exit_code, 0) << format << result.err;
    EXPECT_THAT(Identify(P("out." + format)), ::testing::EndsWith(" " + size));
  }
  EXPECT_EQ(OnPhoto("encode", "x.webp", {"--format", "webp"}).exit_code, 2);
  const ToolResult missing_dir = OnPhoto("encode", "no/x.png", {"--format", "png"});
  EXPECT_EQ(missing_dir.exit_code, 1);
  EXPECT_NE(missing_dir.err.find("0x80070003"), std::string::npos) << missing_dir.err;
}

TEST_F(PictureCommandsTest, DrawWritesThePaintedSurface) {
  const ToolResult result = OnPhoto(
      "draw", "drawn.png",
      {"--size", "200x150", "--angle", "12.34", "--crop", "10,10,150,100", "--whiten", "40"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Identify(P("drawn.png")), "PNG 200x150");
  EXPECT_EQ(OnPhoto("draw", "drawn.png", {"--size", "0x10"}).exit_code, 2);
  EXPECT_EQ(OnPhoto("draw", "drawn.png", {"--size", "10x10", "--crop", "1,2"}).exit_code, 2);
  // A crop outside the picture: DrawImage fails and nothing is written.
  const ToolResult outside =
      OnPhoto("draw", "none.png", {"--size", "10x10", "--crop", "90000,90000,90010,90010"});
  EXPECT_EQ(outside.exit_code, 1);
  EXPECT_NE(outside.err.find("E_FAIL"), std::string::npos) << outside.err;
  EXPECT_FALSE(fs::exists(P("none.png")));
}

TEST_F(PictureCommandsTest, ThumbAndReplaceImageWriteCopiesNeverTheirInputs) {
  ASSERT_EQ(OnPhoto("decode", "new.png").exit_code, 0);
  for (const std::string command : {"thumb", "replace-image"}) {
    SCOPED_TRACE(command);
    const ToolResult run = OnPhoto(command, command + ".jpg", {"--from", P("new.png"), "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("\"Quality\": 90"), std::string::npos) << run.out;
    EXPECT_EQ(Identify(P(command + ".jpg")).substr(0, 4), "JPEG");
    const auto before = testing::ReadFile(photo_);
    EXPECT_EQ(OnPhoto(command, "photo.jpg", {"--from", P("new.png")}).exit_code, 1);
    EXPECT_EQ(OnPhoto(command, "x.jpg", {"--from", P("new.png"), "--quality", "0"}).exit_code, 2);
    EXPECT_EQ(testing::ReadFile(photo_), before);
  }
}

// The values themselves are checked at the export (image_replacement_test).
TEST_F(PictureCommandsTest, EncodeWithNewExifPassesTheValuesOn) {
  const ToolResult run =
      OnPhoto("encode", "new.jpg",
              {"--new-exif", "--make", "Acme", "--lat", "-33.5", "--lon", "151.25", "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(Host({"get", P("new.jpg"), "ifd0", "271"}).out.find("Acme"), std::string::npos);
  EXPECT_EQ(OnPhoto("encode", "x.png", {"--new-exif"}).exit_code, 2);
  EXPECT_EQ(OnPhoto("encode", "new.jpg", {"--lat", "1", "--lon", "2"}).exit_code, 2);
}

}  // namespace
}  // namespace veltora
