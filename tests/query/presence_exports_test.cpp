// IsExifFile, IsExifEx, GetOrientation and GetDateTimeOriginal, and what
// every query export answers for a name that is no regular file.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/query/query_answers.h"
#include "tests/query/query_test_files.h"

namespace veltora::testing {
namespace {

using PresenceTest = QueryTest;

// Each case: a file, whether TIFF is allowed, and the answers expected.
TEST_P(PresenceTest, OrientationOfPrimaryAndThumbnail) {
  // Only a SHORT with count 1 is an orientation.
  TiffBuilder odd = Builder();
  odd.Long(kIfd0, 274, 6).Shorts(kIfd1, 274, {3, 3}).Short(kExif, 34855, 1).Short(kIfd1, 259, 6);
  const std::string exif_tiff = Tiff(Typical().RgbImage(kIfd0, 8, 8), "exif.tiff");
  const struct {
    const char* name;
    std::string path;
    int32_t allow_tiff;
    HRESULT result;
    uint32_t primary, thumbnail;
  } cases[] = {
      {"both", Jpeg(Typical().Short(kIfd1, 274, 8)), 0, S_OK, 6, 8},
      {"not SHORT[1]", Jpeg(odd, "odd.jpg"), 0, S_OK, 0, 0},
      // JFIF APP0 in front of the EXIF data: not an EXIF file, and a JPEG has
      // no IFD0 dimensions to fall back on.
      {"jfif", JfifJpeg(Typical()), 1, E_NOTEXIF, 0, 0},
      // Not opened at all when TIFF is not allowed.
      {"tiff not allowed", (dir_ / "missing.tif").string(), 0, S_OK, 0, 0},
      // A plain TIFF (dimensions, no EXIF directory) is accepted, but its
      // orientation counts only in an EXIF file.
      {"plain tiff", Tiff(Builder().RgbImage(kIfd0, 8, 8).Short(kIfd0, 274, 3), "plain.tif"), 1,
       S_OK, 0, 0},
      {"exif tiff", exif_tiff, 1, S_OK, 6, 0},
      {"exif tiff not allowed", exif_tiff, 0, S_OK, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t primary = 99, thumbnail = 99;
    EXPECT_EQ(GetOrientation(c.path.c_str(), &primary, &thumbnail, c.allow_tiff), c.result)
        << c.name;
    EXPECT_EQ(std::tuple(primary, thumbnail), std::tuple(c.primary, c.thumbnail)) << c.name;
  }
  EXPECT_EQ(GetOrientation(Jpeg(Typical()).c_str(), nullptr, nullptr, 1), E_FAIL);
  uint32_t primary = 5;
  EXPECT_EQ(GetOrientation(nullptr, &primary, nullptr, 1), E_FAIL);
  EXPECT_EQ(primary, 0u);
}

// The text's parsing and the calendar itself are tested where they are
// implemented; here, what the export makes of each outcome.
TEST_P(PresenceTest, CaptureTime) {
  const auto with_text = [&](const char* text) {
    return Jpeg(Builder().Ascii(kExif, 36867, text).Short(kIfd0, 274, 1),
                std::string(text) + ".jpg");
  };
  const struct {
    std::string path;
    HRESULT result;
    SYSTEMTIME expected;
  } cases[] = {
      {with_text(kCaptureText), S_OK, {2024, 5, 0, 14, 9, 30, 5, 0}},
      {with_text("0000:00:00 00:00:00"), S_FALSE, {}},  // clock never set
      {with_text("2023:02:29 12:00:00"), S_FALSE, {}},  // no such day
      {with_text("2024:05:14 09:30"), E_FAIL, {}},      // not 19 characters
      {Jpeg(Builder().Ascii(kExif, 36868, kCaptureText), "digitized.jpg"), E_FAIL, {}},
      {(dir_ / "x.png").string(), E_FAIL, {}},
      {JfifJpeg(Typical()), E_NOTEXIF, {}},
  };
  for (const auto& c : cases) {
    SYSTEMTIME when;
    std::memset(&when, 0xFF, sizeof when);
    EXPECT_EQ(GetDateTimeOriginal(c.path.c_str(), &when), c.result) << c.path;
    EXPECT_EQ(std::memcmp(&when, &c.expected, sizeof when), 0) << c.path;
  }
  EXPECT_EQ(GetDateTimeOriginal(Jpeg(Typical()).c_str(), nullptr), E_FAIL);
}

struct Flags {
  HRESULT result;
  uint32_t is_exif = 9, print = 9, v22 = 9;
};

Flags FlagsOf(const std::string& path) {
  Flags f;
  f.result = IsExifEx(path.c_str(), &f.is_exif, &f.print, &f.v22);
  return f;
}

TEST_P(PresenceTest, ExifVersionTest) {
  const std::map<std::string, uint32_t> v22_of = {{"0220", 1}, {"0221", 1}, {"0232", 1},
                                                  {"0210", 0}, {"0200", 0}, {"0300", 0}};
  for (const auto& [version, v22] : v22_of) {
    const Flags f =
        FlagsOf(Jpeg(Builder().Undefined(kExif, 36864, {version.begin(), version.end()})));
    EXPECT_EQ(std::tuple(f.result, f.is_exif, f.v22), std::tuple(S_OK, 1u, v22)) << version;
  }
  // Stored as ASCII, or with another count: not a version.
  EXPECT_EQ(FlagsOf(Jpeg(Builder().Ascii(kExif, 36864, "0230", false), "ascii.jpg")).v22, 0u);
}

TEST_P(PresenceTest, PrintMatchingInEachOfItsPlaces) {
  const auto block = PrintImBlock(order(), {{1, 2}});
  // APP6 segment with no EXIF data at all.
  const std::string app6 = (dir_ / "app6.jpg").string();
  WriteFile(app6, JpegBuilder().Soi().Segment(kApp6, block).ImageSegments(SmallJpeg()).Bytes());
  uint32_t print = 9;
  EXPECT_EQ(IsExifEx(app6.c_str(), nullptr, &print, nullptr), S_OK);
  EXPECT_EQ(print, 1u);
  // IFD0 tag 50341.
  EXPECT_EQ(FlagsOf(Jpeg(Typical().Undefined(kIfd0, 50341, block), "ifd0.jpg")).print, 1u);
  // Maker-note tag 0x0E00 of type UNDEFINED.
  TiffBuilder maker = Typical();
  maker.MakerNoteHeader(MakerNoteForm::kSignature, "Quorvanta")
      .Undefined(kMakerNote, 0x0E00, block);
  EXPECT_EQ(FlagsOf(Jpeg(maker, "maker.jpg")).print, 1u);
  const Flags none = FlagsOf(Jpeg(Typical(), "none.jpg"));
  EXPECT_EQ(std::tuple(none.is_exif, none.print, none.v22), std::tuple(1u, 0u, 1u));
}

TEST_P(PresenceTest, PresenceFlagsNeverFailOnUnreadableFiles) {
  WriteFile(dir_ / "junk.jpg", std::vector<uint8_t>{0xFF, 0xD8, 0xFF});
  for (const std::string& path :
       {(dir_ / "missing.jpg").string(), (dir_ / "junk.jpg").string(), JfifJpeg(Typical())}) {
    const Flags f = FlagsOf(path);
    EXPECT_EQ(std::tuple(f.result, f.is_exif, f.print, f.v22), std::tuple(S_OK, 0u, 0u, 0u))
        << path;
    uint32_t is_exif = 9;
    EXPECT_EQ(IsExifFile(path.c_str(), &is_exif), S_OK) << path;
    EXPECT_EQ(is_exif, 0u) << path;
  }
  uint32_t flag = 9;
  EXPECT_EQ(IsExifEx(nullptr, &flag, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(IsExifEx(Jpeg(Typical()).c_str(), nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(flag, 9u);
}

TEST_P(PresenceTest, IsExifFileLooksAtTheExtensionFirst) {
  const std::string jpeg = Jpeg(Typical());
  uint32_t is_exif = 9;
  EXPECT_EQ(IsExifFile(jpeg.c_str(), &is_exif), S_OK);
  EXPECT_EQ(is_exif, 1u);
  // The same bytes under a name of another format are not opened.
  const std::string png = (dir_ / "exif.png").string();
  std::filesystem::copy_file(jpeg, png);
  EXPECT_EQ(IsExifFile(png.c_str(), &is_exif), S_OK);
  EXPECT_EQ(is_exif, 0u);
  EXPECT_EQ(IsExifFile(Tiff(Typical().RgbImage(kIfd0, 4, 4)).c_str(), &is_exif), S_OK);
  EXPECT_EQ(is_exif, 1u);
  EXPECT_EQ(IsExifFile("", &is_exif), E_INVALIDARG);
  EXPECT_EQ(IsExifFile(nullptr, &is_exif), E_INVALIDARG);
  EXPECT_EQ(IsExifFile(jpeg.c_str(), nullptr), E_INVALIDARG);
}

// A FIFO without a writer once held every query export in its open forever.
// A FIFO, a directory and a device answer at once, as a missing file does.
TEST(NonRegularFileTest, QueriesAnswerAsForAMissingFileAtOnce) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.jpg");
  std::vector<const char*> names = {"folder.jpg"};
#if !defined(_WIN32)
  // FIFOs and device nodes are POSIX files.
  ASSERT_EQ(::mkfifo((dir / "x.jpg").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "device.jpg");
  names = {"x.jpg", "folder.jpg", "device.jpg"};
  ::alarm(60);  // a hang ends the test run instead of blocking it
#endif
  const auto missing = QueryAnswers((dir / "missing.jpg").string());
  for (const char* name : names) {
    EXPECT_EQ(QueryAnswers((dir / name).string()), missing) << name;
  }
#if !defined(_WIN32)
  ::alarm(0);
#endif
}

VELTORA_BOTH_BYTE_ORDERS(PresenceTest);

}  // namespace
}  // namespace veltora::testing
