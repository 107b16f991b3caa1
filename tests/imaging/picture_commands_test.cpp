// The host's decode, encode and draw subcommands, run as a user runs them.
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
    photo_ = dir_ / "photo.jpg";
    // The sample picture made by the build: a real JPEG with EXIF data.
    fs::copy_file(fs::path(VELTORA_HOST_EXECUTABLE).parent_path() / "veltora-sample.jpg", photo_);
  }
  testing::TempDir dir_;
  fs::path photo_;
};

TEST_F(PictureCommandsTest, DecodeWritesPngOrBmpByExtension) {
  const ToolResult png = Host({"decode", photo_.string(), "-o", (dir_ / "a.png").string()});
  ASSERT_EQ(png.exit_code, 0) << png.err;
  const ToolResult bmp = Host({"decode", photo_.string(), "-o", (dir_ / "a.BMP").string(), "--json"});
  ASSERT_EQ(bmp.exit_code, 0) << bmp.err;
  EXPECT_NE(bmp.out.find("\"BitsPerPixel\": 24"), std::string::npos) << bmp.out;
  const std::string png_size = Identify(dir_ / "a.png");
  EXPECT_EQ(png_size.substr(0, 3), "PNG");
  EXPECT_EQ(png_size.substr(4), Identify(dir_ / "a.BMP").substr(5));
  // Only the two formats, and never over the input.
  EXPECT_EQ(Host({"decode", photo_.string(), "-o", (dir_ / "a.gif").string()}).exit_code, 2);
  const std::vector<uint8_t> png_bytes = testing::ReadFile(dir_ / "a.png");
  EXPECT_EQ(Host({"decode", (dir_ / "a.png").string(), "-o", (dir_ / "a.png").string()}).exit_code, 1);
  EXPECT_EQ(testing::ReadFile(dir_ / "a.png"), png_bytes);
  EXPECT_EQ(Host({"decode", (dir_ / "missing.jpg").string(), "-o", (dir_ / "m.png").string()}).exit_code, 1);
  EXPECT_FALSE(fs::exists(dir_ / "m.png"));
}

TEST_F(PictureCommandsTest, DecodePreviewTakesTheEmbeddedThumbnailOrFails) {
  const ToolResult result = Host({"decode", photo_.string(), "--preview", "-o", (dir_ / "p.png").string()});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Identify(dir_ / "p.png"), "PNG 160x120");
  Host({"encode", photo_.string(), "-o", (dir_ / "plain.jpg").string(), "--format", "jpeg"});
  const ToolResult none = Host({"decode", (dir_ / "plain.jpg").string(), "--preview", "-o", (dir_ / "q.png").string()});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.err.find("no usable preview"), std::string::npos) << none.err;
}

TEST_F(PictureCommandsTest, EncodeWritesEveryFormat) {
  const std::string size = Identify(photo_).substr(5);
  for (const char* format : {"jpeg", "png", "tiff", "bmp", "gif"}) {
    const fs::path out = dir_ / (std::string("out.") + format);
    const ToolResult result = Host({"encode", photo_.string(), "-o", out.string(), "--format", format, "--quality", "75"});
    ASSERT_EQ(result.exit_code, 0) << format << result.err;
    EXPECT_EQ(Identify(out).substr(Identify(out).find(' ') + 1), size) << format;
  }
  EXPECT_EQ(Host({"encode", photo_.string(), "-o", (dir_ / "x.webp").string(), "--format", "webp"}).exit_code, 2);
  const ToolResult missing_dir =
      Host({"encode", photo_.string(), "-o", (dir_ / "no" / "x.png").string(), "--format", "png"});
  EXPECT_EQ(missing_dir.exit_code, 1);
  EXPECT_NE(missing_dir.err.find("0x80070003"), std::string::npos) << missing_dir.err;
}

TEST_F(PictureCommandsTest, DrawWritesThePaintedSurface) {
  const fs::path out = dir_ / "drawn.png";
  const ToolResult result = Host({"draw", photo_.string(), "-o", out.string(), "--size", "200x150", "--angle", "12.34",
                                  "--crop", "10,10,150,100", "--whiten", "40"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Identify(out), "PNG 200x150");
  EXPECT_EQ(Host({"draw", photo_.string(), "-o", out.string(), "--size", "0x10"}).exit_code, 2);
  EXPECT_EQ(Host({"draw", photo_.string(), "-o", out.string(), "--size", "10x10", "--crop", "1,2"}).exit_code, 2);
  // A crop outside the picture: DrawImage fails and nothing is written.
  const ToolResult outside = Host({"draw", photo_.string(), "-o", (dir_ / "none.png").string(), "--size", "10x10",
                                   "--crop", "90000,90000,90010,90010"});
  EXPECT_EQ(outside.exit_code, 1);
  EXPECT_NE(outside.err.find("E_FAIL"), std::string::npos) << outside.err;
  EXPECT_FALSE(fs::exists(dir_ / "none.png"));
}

TEST_F(PictureCommandsTest, ThumbAndReplaceImageWriteCopiesNeverTheirInputs) {
  const fs::path png = dir_ / "new.png";
  ASSERT_EQ(Host({"decode", photo_.string(), "-o", png.string()}).exit_code, 0);
  for (const char* command : {"thumb", "replace-image"}) {
    SCOPED_TRACE(command);
    const fs::path out = dir_ / (std::string(command) + ".jpg");
    const ToolResult run =
        Host({command, photo_.string(), "-o", out.string(), "--from", png.string(), "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("\"Quality\": 90"), std::string::npos) << run.out;
    EXPECT_EQ(Identify(out).substr(0, 4), "JPEG");
    const auto before = testing::ReadFile(photo_);
    EXPECT_EQ(Host({command, photo_.string(), "-o", photo_.string(), "--from", png.string()}).exit_code, 1);
    EXPECT_EQ(Host({command, photo_.string(), "-o", out.string(), "--from", png.string(), "--quality", "0"})
                  .exit_code, 2);
    EXPECT_EQ(testing::ReadFile(photo_), before);
  }
}

// The values themselves are checked at the export (image_replacement_test).
TEST_F(PictureCommandsTest, EncodeWithNewExifPassesTheValuesOn) {
  const fs::path out = dir_ / "new.jpg";
  const ToolResult run = Host({"encode", photo_.string(), "-o", out.string(), "--new-exif", "--make", "Acme",
                               "--lat", "-33.5", "--lon", "151.25", "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(Host({"get", out.string(), "ifd0", "271"}).out.find("Acme"), std::string::npos);
  EXPECT_EQ(Host({"encode", photo_.string(), "-o", (dir_ / "x.png").string(), "--new-exif"}).exit_code, 2);
  EXPECT_EQ(Host({"encode", photo_.string(), "-o", out.string(), "--lat", "1", "--lon", "2"}).exit_code, 2);
}

}  // namespace
}  // namespace veltora
