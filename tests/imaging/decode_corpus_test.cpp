// Decode on the real corpus against independent decoders: every JPEG
// against djpeg (libjpeg-turbo's own tool, same DCT and upsampling defaults,
// so the pixels must be identical), every other format against ImageMagick,
// the embedded previews against djpeg of the thumbnail exiftool extracts.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "frame/veltora.h"
#include "imaging/picture_io.h"
#include "imaging_test_support.h"
#include "tests/support/oracle.h"

namespace veltora::imaging {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Reads a binary PPM (P6) or PGM (P5) of maxval 255 into a 24-bit bitmap;
// header fields may be separated by comments, as ImageMagick writes them.
std::optional<Bitmap> ReadNetpbm(const std::vector<uint8_t>& bytes) {
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string magic;
  int width = 0, height = 0, max = 0;
  in >> magic;
  for (int* field : {&width, &height, &max}) {
    while ((in >> std::ws).peek() == '#') in.ignore(INT32_MAX, '\n');
    in >> *field;
  }
  if (!in || (magic != "P5" && magic != "P6") || max != 255) return std::nullopt;
  const size_t channels = magic == "P6" ? 3 : 1;
  const size_t start = static_cast<size_t>(in.tellg()) + 1;  // one whitespace byte ends the header
  if (bytes.size() < start + static_cast<size_t>(width) * static_cast<size_t>(height) * channels) {
    return std::nullopt;
  }
  Bitmap b;
  if (CreateBitmap(&b, width, height, 24) != 1) return std::nullopt;
  const uint8_t* s = bytes.data() + start;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x, s += channels) {
      uint8_t* d = b.Row(y) + 3 * x;
      d[0] = s[channels - 1];
      d[1] = s[channels == 3 ? 1 : 0];
      d[2] = s[0];
    }
  }
  return b;
}

// The oracle's picture, by way of `scratch`: djpeg's of a .jpg, else
// ImageMagick's first frame, transparency flattened over white. djpeg exits
// with 2 after warnings (a truncated stream, stray bytes) and still writes
// the picture, as libjpeg recovers it.
std::optional<Bitmap> DecodeWithOracle(const std::string& path, const std::string& scratch) {
  constexpr int kDjpegWarnings = 2;
  const bool jpeg = fs::path(path).extension() == ".jpg";
  auto run = veltora::testing::RunTool(
      jpeg ? std::vector<std::string>{"djpeg", "-outfile", scratch, path}
           : std::vector<std::string>{"convert", path + "[0]", "-background", "white", "-flatten",
                                      "-depth", "8", "ppm:" + scratch});
  if (!run || (run->exit_code != 0 && !(jpeg && run->exit_code == kDjpegWarnings))) return {};
  return ReadNetpbm(testing::ReadBytes(scratch));
}

std::optional<Bitmap> DecodeExport(const std::string& path, int32_t mode) {
  HGLOBAL dib = Decode(path.c_str(), mode);
  if (dib == nullptr) return std::nullopt;
  Bitmap b;
  const int32_t r = BitmapFromDib(dib, &b);
  GlobalFree(dib);
  if (r != S_OK) return std::nullopt;
  return b;
}

const std::set<std::string> kPictureExtensions = {".jpg", ".png", ".gif", ".bmp", ".tif", ".tiff"};

// Files the loading rules refuse although an independent decoder reads
// them, with the rule that refuses each.
const std::map<std::string, std::string> kRefusedByRule = {
    {"gox_sample1.tif", "a TIFF neither LZW nor larger on disk than decoded (CCITT G4 fax)"},
    {"mei_56d4a1bb53241f7c5ed6ab531320a542.jpg",
     "18 stray bytes after SOI (a fuzzer file): refused, where djpeg skips them with a warning"},
};

TEST(DecodeCorpusTest, EveryAcceptedFileDecodesToTheOraclePixels) {
  if (!fs::exists(testing::CorpusDir())) GTEST_SKIP() << "corpus not found";
  if (!veltora::testing::HaveTool("djpeg") || !testing::HaveConvert())
    GTEST_SKIP() << "djpeg or convert missing";
  TempDir dir;
  int compared = 0, refused = 0;
  for (const auto& entry : fs::directory_iterator(testing::CorpusDir())) {
    if (!kPictureExtensions.contains(entry.path().extension().string())) continue;
    const std::string path = entry.path().string();
    const std::string name = entry.path().filename().string();
    const auto expected = DecodeWithOracle(path, (dir / "oracle.pnm").string());
    const auto decoded = DecodeExport(path, 0);
    if (kRefusedByRule.contains(name)) {
      EXPECT_TRUE(expected.has_value()) << name << ": the oracle should read it";
      EXPECT_FALSE(decoded.has_value()) << name << ": " << kRefusedByRule.at(name);
      ++refused;
      continue;
    }
    if (!expected.has_value()) {
      // Broken files (fuzzer findings, truncated streams): what no decoder
      // reads is not decoded either.
      EXPECT_FALSE(decoded.has_value()) << name;
      continue;
    }
    ASSERT_TRUE(decoded.has_value()) << name;
    EXPECT_TRUE(testing::SameColours(*decoded, *expected)) << name;
    ++compared;
  }
  EXPECT_GE(compared, 40);
  EXPECT_EQ(refused, static_cast<int>(kRefusedByRule.size()));
}

TEST(DecodeCorpusTest, PreviewsAreTheThumbnailsExiftoolExtracts) {
  if (!fs::exists(testing::CorpusDir())) GTEST_SKIP() << "corpus not found";
  if (!veltora::testing::HaveTool("djpeg") || !veltora::testing::HaveTool("exiftool")) GTEST_SKIP();
  std::vector<fs::path> jpegs;
  for (const auto& entry : fs::directory_iterator(testing::CorpusDir())) {
    if (entry.path().extension() == ".jpg") jpegs.push_back(entry.path());
  }
  // One exiftool run writes every thumbnail it finds to dir/<file name>.
  TempDir dir;
  std::vector<std::string> extract = {"exiftool",        "-q", "-b",
                                      "-ThumbnailImage", "-w", (dir / "%f.%e").string()};
  for (const fs::path& path : jpegs) extract.push_back(path.string());
  ASSERT_TRUE(veltora::testing::RunTool(extract).has_value());
  int compared = 0;
  for (const fs::path& path : jpegs) {
    const std::string name = path.filename().string();
    const auto preview = DecodeExport(path.string(), 1);
    if (!preview.has_value()) continue;
    ASSERT_TRUE(fs::exists(dir / name)) << name << ": exiftool found no thumbnail";
    const auto expected = DecodeWithOracle((dir / name).string(), (dir / "thumbnail.pnm").string());
    ASSERT_TRUE(expected.has_value()) << name;
    EXPECT_TRUE(testing::SameColours(*preview, *expected)) << name;
    ++compared;
  }
  EXPECT_GE(compared, 5);
}

}  // namespace
}  // namespace veltora::imaging
