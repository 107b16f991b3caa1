#include "imaging/picture_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "frame/veltora.h"
#include "imaging/dib_memory.h"
#include "imaging/packed_dib.h"
#include "imaging/picture_files.h"
#include "imaging/resample.h"
#include "imaging/save_jpeg.h"
#include "imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"

namespace veltora::imaging {
namespace {

using testing::MakePhoto;
using testing::WriteBytes;

using Bytes = std::vector<uint8_t>;

// ---- CheckJpegStream ----------------------------------------------------------

TEST(CheckJpegStreamTest, MarkerWalkCases) {
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t expected;
  } cases[] = {
      {"soi eoi", {0xFF, 0xD8, 0xFF, 0xD9}, 1},
      {"soi only", {0xFF, 0xD8}, 1},
      {"one byte", {0xFF}, 0},
      {"no soi", {0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xD8}, 0},
      {"eoi first", {0xFF, 0xD9, 0xFF, 0xD8}, 0},
      {"segment then eoi", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x04, 0xAA, 0xBB, 0xFF, 0xD9}, 1},
      {"length cut", {0xFF, 0xD8, 0xFF, 0xE1, 0x00}, 0},
      {"scan ends without eoi", {0xFF, 0xD8, 0xFF, 0xDA, 0x01, 0x02, 0xFF, 0x00, 0x03}, 1},
      {"scan with restart and fill", {0xFF, 0xD8, 0xFF, 0xDA, 0xFF, 0xD3, 0xFF, 0xFF, 0xD9}, 1},
      {"sof inside scan", {0xFF, 0xD8, 0xFF, 0xDA, 0x01, 0xFF, 0xC0, 0x00, 0xFF, 0xD9}, 0},
      {"table inside scan",
       {0xFF, 0xD8, 0xFF, 0xDA, 0xFF, 0xC4, 0x00, 0x03, 0xC0, 0x00, 0xFF, 0xD9},
       1},
      {"table cut inside scan", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0xFF, 0xC4, 0x00}, 1},
      {"garbage after eoi", {0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0xFF, 0xC0}, 1},
      {"scan before soi", {0xFF, 0xDA, 0x00, 0xFF, 0xD9}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CheckJpegStream(c.bytes.data(), c.bytes.size()), c.expected) << c.name;
  EXPECT_EQ(CheckJpegStream(nullptr, 10), 0);
}

// ---- DIBs ---------------------------------------------------------------------

TEST(PackedDibTest, SizeRule) {
  BITMAPINFOHEADER h{};
  h.biWidth = 10;
  h.biHeight = 3;
  h.biBitCount = 8;
  EXPECT_EQ(PackedDibSize(&h), 40 + 12 * 3 + 1024);
  h.biBitCount = 24;
  EXPECT_EQ(PackedDibSize(&h), 40 + 32 * 3);
  h.biBitCount = 32;
  h.biCompression = BI_BITFIELDS;
  EXPECT_EQ(PackedDibSize(&h), 40 + 40 * 3 + 12);
  h.biWidth = INT32_MAX;
  h.biHeight = INT32_MAX;
  EXPECT_GE(PackedDibSize(&h), (int64_t{1} << 62) - 1);  // saturated, not wrapped
  EXPECT_EQ(PackedDibSize(nullptr), -1);
}

HGLOBAL HostDib(const Bytes& bytes) {
  HGLOBAL h = GlobalAlloc(GHND, bytes.size());
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  if (p != nullptr) std::copy(bytes.begin(), bytes.end(), p);
  GlobalUnlock(h);
  return h;
}

int32_t FromHostDib(const Bytes& bytes, Bitmap* bitmap) {
  HGLOBAL h = HostDib(bytes);
  const int32_t r = BitmapFromDib(h, bitmap);
  GlobalFree(h);
  return r;
}

TEST(PackedDibTest, BitmapAndDibConvertBothWaysAndTheHostDibStaysUntouched) {
  for (int32_t bits : {1, 4, 8, 24, 32}) {
    const Bitmap original = testing::MakeNoise(13, 5, bits);
    HGLOBAL dib = DibFromBitmap(&original);
    ASSERT_NE(dib, nullptr);
    const Bytes before = testing::BlockBytes(dib);
    EXPECT_EQ(PackedDibSize(reinterpret_cast<const BITMAPINFOHEADER*>(before.data())),
              static_cast<int64_t>(before.size()))
        << bits;
    Bitmap back;
    ASSERT_EQ(BitmapFromDib(dib, &back), S_OK) << bits;
    EXPECT_EQ(back.bits_per_pixel, bits);
    EXPECT_TRUE(testing::SameColours(original, back)) << bits;
    EXPECT_EQ(testing::BlockBytes(dib), before);
    EXPECT_EQ(GlobalFree(dib), nullptr);
  }
}

TEST(PackedDibTest, HostDibVariants) {
  // A top-down 16-bit (5-5-5) DIB, 2 x 2: red, green / blue, white.
  Bytes dib(40 + 2 * 4, 0);
  const int32_t header[] = {40, 2, -2};
  std::memcpy(dib.data(), header, sizeof header);
  dib[14] = 16;
  const uint16_t pixels[] = {0x7C00, 0x03E0, 0x001F, 0x7FFF};
  std::memcpy(&dib[40], pixels, sizeof pixels);
  Bitmap b;
  ASSERT_EQ(FromHostDib(dib, &b), S_OK);
  EXPECT_EQ(b.bits_per_pixel, 24);
  const int32_t colours[2][2] = {{0x0000FF, 0x00FF00}, {0xFF0000, 0xFFFFFF}};  // [y][x]
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(GetPixelColour(b, i % 2, i / 2), colours[i / 2][i % 2]);
  // biSize is ignored for host DIBs: the table follows 40 bytes.
  dib[0] = 124;
  EXPECT_EQ(FromHostDib(dib, &b), S_OK);
  // A block shorter than its header, a block whose rows are missing, bad depths.
  EXPECT_EQ(FromHostDib(Bytes(20, 0), &b), E_FAIL);
  EXPECT_EQ(FromHostDib(Bytes(dib.begin(), dib.begin() + 44), &b),
            S_OK);  // copied up to PackedDibSize: zero rows
  EXPECT_EQ(GetPixelColour(b, 1, 1), 0);
  dib[14] = 7;
  EXPECT_EQ(FromHostDib(dib, &b), E_FAIL);
  EXPECT_EQ(BitmapFromDib(nullptr, &b), E_INVALIDARG);
  EXPECT_EQ(DibFromBitmap(nullptr), nullptr);
  Bitmap empty;
  EXPECT_EQ(DibFromBitmap(&empty), nullptr);
  EXPECT_EQ(CheckBitmapLoaded(&empty), E_FAIL);
  EXPECT_EQ(CheckBitmapLoaded(nullptr), E_INVALIDARG);
}

// ---- LoadPictureFile acceptance -----------------------------------------------

// Tests that read and write files in a scratch directory.
class PictureFileTest : public veltora::testing::FileSystemTest {};

// A BMP of headers only and a .jpg that fails the stream check are refused
// although the library reads them; a .jpg holding another format is taken.
TEST_F(PictureFileTest, LoadPictureFileRefusesWhatTheLibraryWouldTake) {
  Bytes jpeg, png, bmp;
  ASSERT_EQ(EncodeJpeg(MakePhoto(16, 16), 90, kJpegModeStandard, &jpeg), 0);
  ASSERT_EQ(EncodeFile(MakePhoto(5, 4), kSavePng, 24, &png), 1);
  ASSERT_EQ(EncodeFile(MakePhoto(2, 2), kSaveBmp, 24, &bmp), 1);
  Bytes broken = jpeg;
  broken.insert(broken.end() - 2, {0xFF, 0xC0});  // a frame marker inside the scan
  // A 1 x 1 1-bit BMP with a core header: 14 + 12 + 6 + 4 = 36 bytes.
  const Bytes tiny = {'B', 'M', 36, 0, 0, 0, 0, 0, 0, 0, 32, 0,   0,   0,   12,   0, 0, 0,
                      1,   0,   1,  0, 1, 0, 1, 0, 0, 0, 0,  255, 255, 255, 0x80, 0, 0, 0};
  const struct {
    const char* name;
    Bytes bytes;  // none: no such file
    int32_t expected, width;
  } cases[] = {{"tiny.bmp", tiny, 0, 0},    {"ok.bmp", bmp, 1, 2},
               {"good.jpg", jpeg, 1, 16},   {"broken.jpg", broken, 0, 0},
               {"short.jpg", {0xFF}, 0, 0}, {"png.jpg", png, 1, 5},
               {"missing.jpg", {}, 0, 0},   {"missing.gif", {}, kErrorFileOpen, 0}};
  for (const auto& c : cases) {
    if (!c.bytes.empty()) WriteBytes(Path(c.name), c.bytes);
    Bitmap b;
    EXPECT_EQ(LoadPictureFile(Path(c.name).c_str(), &b, 24), c.expected) << c.name;
    EXPECT_EQ(b.HoldsImage() ? b.width : 0, c.width) << c.name;
  }
  Bitmap b;
  EXPECT_EQ(LoadFile(Path("tiny.bmp").c_str(), &b, 24, kOrderBgr, nullptr), 1);
}

TEST_F(PictureFileTest, LoadPictureFileTiffIsAcceptedWhenLzwOrLargerThanDecoded) {
  if (!testing::HaveConvert()) GTEST_SKIP() << "ImageMagick convert is not installed";
  ASSERT_EQ(SaveFile(Path("flat.bmp").c_str(), Bitmap(MakePhoto(64, 64)), kSaveBmp, 24), 1);
  const std::string bmp = Path("flat.bmp");
  struct Case {
    const char* compression;
    int32_t expected;
  } cases[] = {{"none", 1}, {"lzw", 1}, {"zip", 0}, {"jpeg", 0}};
  for (const Case& c : cases) {
    const std::string tif = Path(std::string(c.compression) + ".tif");
    const auto run = veltora::testing::RunTool({"convert", bmp, "-compress", c.compression, tif});
    ASSERT_TRUE(run.has_value() && run->exit_code == 0) << c.compression;
    Bitmap b;
    EXPECT_EQ(LoadPictureFile(tif.c_str(), &b, 24), c.expected) << c.compression;
    EXPECT_EQ(b.HoldsImage(), c.expected == 1);
  }
}

TEST_F(PictureFileTest, LoadDibCopyModesAndFailures) {
  ASSERT_EQ(SaveFile(Path("a.png").c_str(), MakePhoto(9, 7), kSavePng, 24), 1);
  const Bytes copy = LoadDibCopy(Path("a.png").c_str(), 0);
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(static_cast<int64_t>(copy.size()),
            PackedDibSize(reinterpret_cast<const BITMAPINFOHEADER*>(copy.data())));
  // No preview in a PNG; no mode 2; no name.
  EXPECT_TRUE(LoadDibCopy(Path("a.png").c_str(), 1).empty() &&
              LoadDibCopy(Path("a.png").c_str(), 2).empty() && LoadDibCopy("", 0).empty());
}

// ---- Writers ------------------------------------------------------------------

TEST(ThumbnailTest, FitKeepsProportionsInside160By120) {
  struct Case {
    int32_t w, h;
    ThumbnailFit fit;
  } cases[] = {{1000, 1000, {120, 120, 20, 0}},
               {4000, 3000, {160, 120, 0, 0}},
               {3000, 1, {160, 1, 0, 59}},
               {1, 3000, {1, 120, 79, 0}}};
  for (const Case& c : cases) {
    const ThumbnailFit f = FitThumbnail(c.w, c.h);
    EXPECT_EQ(std::tie(f.width, f.height, f.left, f.top),
              std::tie(c.fit.width, c.fit.height, c.fit.left, c.fit.top))
        << c.w << "x" << c.h;
  }
}

TEST_F(PictureFileTest, ThumbnailSquarePictureIsCentredOnTheCanvas) {
  const Bitmap square = testing::Solid(1000, 1000, 0x00FF00);
  HGLOBAL dib = DibFromBitmap(&square);
  for (uint32_t flags : {kWriteTiff, 0x01u}) {
    std::vector<uint8_t> encoded;
    ASSERT_EQ(EncodeThumbnail(flags, dib, 90, &encoded), S_OK);
    Bitmap thumb;
    ASSERT_EQ(LoadMemory(encoded, &thumb, 24, kOrderBgr), 1);
    EXPECT_EQ(std::tuple(thumb.width, thumb.height), std::tuple(160, 120));
    // The picture in the middle, black bands left and right.
    const auto off = [&](int32_t x, int32_t colour) {
      return testing::ColourDifference(GetPixelColour(thumb, x, 60), colour);
    };
    EXPECT_LE(std::max({off(80, 0x00FF00), off(2, 0), off(157, 0)}), flags == kWriteTiff ? 0 : 8);
  }
  std::vector<uint8_t> encoded;
  EXPECT_EQ(EncodeThumbnail(0x04, dib, 90, &encoded), E_INVALIDARG);
  EXPECT_EQ(EncodeThumbnail(0x01, dib, 90, nullptr), E_INVALIDARG);
  GlobalFree(dib);
}

TEST_F(PictureFileTest, EncodeMainImageGivesJpegOrTiff) {
  const Bitmap photo = MakePhoto(40, 30);
  HGLOBAL dib = DibFromBitmap(&photo);
  std::vector<uint8_t> encoded;
  Bitmap back;
  ASSERT_EQ(EncodeMainImage(kWriteTiff, dib, 90, &encoded), S_OK);
  ASSERT_EQ(LoadMemory(encoded, &back, 24, kOrderBgr), 1);
  EXPECT_TRUE(testing::SameColours(back, photo));
  // JPEG wins over TIFF.
  ASSERT_EQ(EncodeMainImage(0x40 | kWriteTiff, dib, 90, &encoded), S_OK);
  FileInformation info;
  ASSERT_EQ(QueryMemory(encoded, &info), 1);
  EXPECT_EQ(info.format, kFormatJpeg);
  EXPECT_EQ(EncodeMainImage(0x04, dib, 90, &encoded), E_FAIL);
  // Made together, the main image's failure comes first (the thumbnail's is E_INVALIDARG).
  std::vector<uint8_t> thumbnail;
  EXPECT_EQ(EncodeMainAndThumbnail(0x04, dib, 90, &encoded, &thumbnail), E_FAIL);
  GlobalFree(dib);
  // A DIB whose depth the library cannot take.
  Bytes bad(40 + 64, 0);
  const int32_t header[] = {40, 4, 4};
  std::memcpy(bad.data(), header, sizeof header);
  bad[14] = 2;
  HGLOBAL bad_dib = HostDib(bad);
  EXPECT_EQ(EncodeMainImage(kWriteTiff, bad_dib, 90, &encoded), E_FAIL);
  EXPECT_LT(EncodeMainImage(0x01, bad_dib, 90, &encoded), 0);
  GlobalFree(bad_dib);
}

// SaveJpeg encodes common DIBs where they lie; the file must be the one the
// general road (DIB decoded to a bitmap, then encoded) makes.
TEST_F(PictureFileTest, SaveJpegDibsEncodedInPlaceGiveTheSameFileAsTheirBitmaps) {
  for (int32_t bits : {24, 32, 8}) {
    Bitmap photo = MakePhoto(37, 23);
    if (bits != 24) {
      ASSERT_EQ(ChangeBitDepth(&photo, photo, bits), 1);
    }
    HGLOBAL dib = MakeDib(photo);
    for (int32_t mode :
         {kJpegModeStandard, kJpegModeFullColour, kJpegModeProgressive, kJpegModeExif}) {
      ASSERT_EQ(SaveJpeg(dib, Path("dib.jpg").c_str(), 80, mode), 0) << bits << "/" << mode;
      ASSERT_EQ(SaveJpegBitmap(photo, Path("bitmap.jpg").c_str(), 80, mode), 0);
      EXPECT_EQ(testing::ReadBytes(Path("dib.jpg")), testing::ReadBytes(Path("bitmap.jpg")))
          << bits << "/" << mode;
    }
    EXPECT_EQ(SaveJpeg(dib, Path("bad.jpg").c_str(), 80, 3),
              ResultFromImagingError(kErrorInvalidArgument));
    EXPECT_EQ(SaveJpeg(dib, Path("no/dir.jpg").c_str(), 80, 0),
              ResultFromImagingError(kErrorFileOpen));
    GlobalFree(dib);
  }
}

// Thumbnails of large host DIBs are resampled where the rows lie; the file
// must be the one the general road (a bitmap copy of the DIB) gives.
TEST_F(PictureFileTest, ThumbnailInPlaceResamplingGivesTheGeneralRoadsFile) {
  for (int32_t bits : {24, 32}) {
    for (auto [w, h] : {std::pair{1203, 901}, std::pair{900, 1500}, std::pair{300, 200}}) {
      Bitmap photo = MakePhoto(w, h);
      if (bits == 32) {
        ASSERT_EQ(ChangeBitDepth(&photo, photo, 32), 1);
      }
      HGLOBAL dib = MakeDib(photo);
      std::vector<uint8_t> in_place, general;
      ASSERT_EQ(EncodeThumbnail(1, dib, 85, &in_place), S_OK);
      // The general road: resample the bitmap, paste it on the canvas.
      const ThumbnailFit fit = FitThumbnail(w, h);
      Bitmap scaled, canvas;
      ASSERT_EQ(CreateBitmap(&scaled, fit.width, fit.height, bits), 1);
      ASSERT_EQ(ResampleBitmap(photo, &scaled), 1);
      ASSERT_EQ(CreateBitmap(&canvas, 160, 120, bits), 1);
      ASSERT_EQ(PasteBitmap(&canvas, fit.left, fit.top, fit.width, fit.height, scaled), 1);
      ASSERT_EQ(EncodeJpeg(canvas, 85, kJpegModeExif, &general), 0);
      EXPECT_EQ(in_place, general) << bits << " " << w;
      GlobalFree(dib);
    }
  }
}

TEST(PackedDibTest, ConvertibilityIsJudgedLikeTheConversion) {
  Bitmap b;
  for (uint16_t bits : {0, 1, 7, 8, 16, 24, 32, 48}) {
    for (uint32_t compression : {BI_RGB, BI_RLE8, BI_BITFIELDS}) {
      HGLOBAL dib = GlobalAlloc(GHND, 40 + 1024 + 12 + 64);
      auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
      h->biWidth = 3;
      h->biHeight = -2;
      h->biBitCount = bits;
      h->biCompression = compression;
      GlobalUnlock(dib);
      EXPECT_EQ(CheckDibConvertible(dib), BitmapFromDib(dib, &b)) << bits << "/" << compression;
      GlobalFree(dib);
    }
  }
  EXPECT_EQ(CheckDibConvertible(nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace veltora::imaging
