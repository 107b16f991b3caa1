// Decode and Encode as a host calls them: argument checks, flag routing and
// order, result codes, embedded previews, and round trips through every
// format. Encode under write failures is one row of the write-failure table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

#include "frame/veltora.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_files.h"
#include "imaging/picture_io.h"
#include "platform/fault_injection.h"
#include "platform/win32_error.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/tiff_builder.h"

namespace veltora::imaging {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using veltora::testing::ReadBytes;
using veltora::testing::WriteBytes;

// A host DIB, freed with the object.
struct FreeDib {
  void operator()(HGLOBAL handle) const { GlobalFree(handle); }
};
using HostDib = std::unique_ptr<void, FreeDib>;

BITMAPINFOHEADER Header(const HostDib& dib) {
  const BITMAPINFOHEADER h = *static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib.get()));
  GlobalUnlock(dib.get());
  return h;
}

// The DIB as a bitmap, for pixel comparisons.
Bitmap FromDib(HGLOBAL dib) {
  Bitmap b;
  EXPECT_EQ(BitmapFromDib(dib, &b), S_OK);
  return b;
}

bool StartsWith(const Bytes& bytes, std::initializer_list<uint8_t> magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}
const std::initializer_list<uint8_t> kJpegMagic = {0xFF, 0xD8}, kPngMagic = {0x89, 'P'},
                                     kTiffMagic = {'I', 'I'}, kBmpMagic = {'B', 'M'},
                                     kGifMagic = {'G', 'I', 'F'};

class PictureExportsTest : public veltora::testing::FileSystemTest {
 protected:
  // No export leaves a temporary file behind, whatever its result.
  void TearDown() override {
    EXPECT_TRUE(TempLeftovers().empty());
    platform::DisarmFault();
    FileSystemTest::TearDown();
  }
  HostDib photo_{MakeDib(testing::MakePhoto(64, 48))};
};

// ---- Decode -------------------------------------------------------------------

TEST_F(PictureExportsTest, DecodeRefusesModesAndExtensionsBeforeOpeningTheFile) {
  ASSERT_EQ(SaveFile(Path("a.png").c_str(), testing::MakePhoto(5, 4), kSavePng, 24), 1);
  fs::copy_file(Path("a.png"), Path("a.txt"));
  platform::ResetFaultCounts();
  EXPECT_EQ(Decode(Path("a.txt").c_str(), 0), nullptr);
  EXPECT_EQ(Decode("", 0), nullptr);
  EXPECT_EQ(Decode(nullptr, 0), nullptr);
  EXPECT_EQ(platform::FaultCallCount(platform::FaultSite::kOpen), 0u);
  EXPECT_EQ(Decode(Path("a.png").c_str(), 2), nullptr);
  EXPECT_EQ(Decode(Path("a.png").c_str(), -1), nullptr);
  EXPECT_EQ(Decode(Path("missing.png").c_str(), 0), nullptr);
}

TEST_F(PictureExportsTest, DecodeGivesAMoveable24BitDibOfExactlyItsPackedSize) {
  const Bitmap indexed = testing::MakeNoise(7, 3, 8);  // odd width: padded rows
  ASSERT_EQ(SaveFile(Path("a.png").c_str(), indexed, kSavePng, 8), 1);
  HostDib dib(Decode(Path("a.png").c_str(), 0));
  ASSERT_NE(dib.get(), nullptr);
  EXPECT_NE(GlobalLock(dib.get()), dib.get()) << "a moveable handle, not the block itself";
  GlobalUnlock(dib.get());
  const BITMAPINFOHEADER h = Header(dib);
  EXPECT_EQ(std::tuple(h.biWidth, h.biHeight, h.biBitCount), std::tuple(7, 3, 24));  // bottom-up
  EXPECT_EQ(static_cast<int64_t>(GlobalSize(dib.get())), PackedDibSize(&h));
  EXPECT_EQ(GlobalSize(dib.get()), 40u + 24u * 3u);
  EXPECT_TRUE(testing::SameColours(FromDib(dib.get()), indexed));
  EXPECT_EQ(GlobalFlags(dib.get()) & GMEM_LOCKCOUNT, 0u) << "handed over unlocked";
}

// EXIF data with a JPEG thumbnail of `thumbnail` in IFD1.
Bytes ExifJpeg(const Bytes& thumbnail, bool with_jfif = false) {
  veltora::testing::TiffBuilder tiff;
  tiff.Ascii(veltora::testing::kIfd0, 271, "Maker")
      .Short(veltora::testing::kExif, 0x9209, 0)
      .Short(veltora::testing::kIfd1, 259, 6)
      .JpegThumbnail(thumbnail);
  const Bytes main = veltora::testing::RealJpeg(96, 64);
  return veltora::testing::SpliceExif(main, tiff.Bytes(), with_jfif);
}

TEST_F(PictureExportsTest, DecodePreviewTakesTheThumbnailOnlyWhenItIsWellFormed) {
  const Bytes thumbnail = veltora::testing::RealJpeg(40, 30);
  WriteBytes(Path("exif.jpg"), ExifJpeg(thumbnail));
  HostDib preview(Decode(Path("exif.jpg").c_str(), 1));
  ASSERT_NE(preview.get(), nullptr);
  const BITMAPINFOHEADER h = Header(preview);
  EXPECT_EQ(std::tuple(h.biWidth, h.biHeight, h.biBitCount), std::tuple(40, 30, 24));
  HostDib picture(Decode(Path("exif.jpg").c_str(), 0));
  ASSERT_NE(picture.get(), nullptr);
  EXPECT_EQ(Header(picture).biWidth, 96);

  Bytes broken = thumbnail;
  broken.insert(broken.end() - 2, {0xFF, 0xC0});  // a frame marker inside the scan
  WriteBytes(Path("broken.jpg"), ExifJpeg(broken));
  WriteBytes(Path("plain.jpg"), veltora::testing::RealJpeg(96, 64));
  // A JFIF segment makes the file no EXIF file for the reader.
  WriteBytes(Path("jfif.jpg"), ExifJpeg(thumbnail, /*with_jfif=*/true));
  for (const char* name : {"broken.jpg", "plain.jpg", "jfif.jpg", "missing.jpg"}) {
    EXPECT_EQ(Decode(Path(name).c_str(), 1), nullptr) << name;
  }
}

TEST_F(PictureExportsTest, TiffPreviewIsTheStripImageOfIfd1AtTwentyFourBits) {
  using namespace veltora::testing;  // NOLINT: the builder's names
  TiffBuilder tiff;
  // The EXIF directory behind the strips makes all the data metadata, so
  // that the reader finds IFD1's strips inside it: three, one row each, so
  // that their offsets are stored out of line.
  tiff.RgbImage(kIfd0, 8, 6)
      .Short(kExif, 0x9209, 0)
      .RgbImage(kIfd1, 4, 3, {}, 1)
      .LayoutOrder({kIfd0, kStripData, kIfd1, kExif});
  WriteBytes(Path("exif.tif"), tiff.Bytes());
  Bitmap b;
  ASSERT_EQ(LoadEmbeddedPreview(Path("exif.tif").c_str(), &b, 8), 1);  // 8 asked, 24 given
  ASSERT_EQ(std::tuple(b.bits_per_pixel, b.width, b.height), std::tuple(24, 4, 3));
  // Green is the builder's row gradient (y * 255 / 3): each strip's row is read.
  EXPECT_EQ((std::multiset<int>{b.Row(0)[1], b.Row(1)[1], b.Row(2)[1]}),
            (std::multiset<int>{0, 85, 170}));
  HostDib picture(Decode(Path("exif.tif").c_str(), 0));
  ASSERT_NE(picture.get(), nullptr);
  EXPECT_EQ(Header(picture).biWidth, 8);
}

// ---- Encode: arguments, routing and order ---------------------------------------

TEST_F(PictureExportsTest, EncodeChecksArgumentsThenTheTargetDirectory) {
  const std::string out = Path("out.png");
  EXPECT_EQ(Encode(nullptr, out.c_str(), ENCODE_PNG, 90, nullptr), E_INVALIDARG);
  EXPECT_EQ(Encode(photo_.get(), nullptr, ENCODE_PNG, 90, nullptr), E_INVALIDARG);
  EXPECT_EQ(Encode(photo_.get(), "", ENCODE_PNG, 90, nullptr), E_INVALIDARG);
  EXPECT_EQ(Encode(photo_.get(), out.c_str(), 0, 90, nullptr), E_INVALIDARG);
  EXPECT_EQ(Encode(photo_.get(), Path("no/such/dir/out.png").c_str(), ENCODE_PNG, 90, nullptr),
            static_cast<HRESULT>(0x80070003u));
  // A DIB the library cannot take.
  HostDib bad_dib(GlobalAlloc(GHND, 40));
  static_cast<BITMAPINFOHEADER*>(GlobalLock(bad_dib.get()))->biBitCount = 7;
  GlobalUnlock(bad_dib.get());
  EXPECT_EQ(Encode(bad_dib.get(), out.c_str(), ENCODE_PNG, 90, nullptr), E_FAIL);
  // No format left: the bare imaging code.
  EXPECT_EQ(Encode(photo_.get(), out.c_str(), ENCODE_EXIF, 90, nullptr),
            static_cast<HRESULT>(0x82000000u));
  EXPECT_EQ(Encode(photo_.get(), Path("out.xyz").c_str(), ENCODE_BY_EXTENSION, 90, nullptr),
            static_cast<HRESULT>(0x82000000u));
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(Path("out.xyz")));
}

TEST_F(PictureExportsTest, EveryFormatBitWritesInTheFixedOrderAndTheLastOneWins) {
  struct Case {
    uint32_t flags;
    std::initializer_list<uint8_t> magic;
  } cases[] = {
      {ENCODE_JPEG | ENCODE_TIFF, kTiffMagic},
      {ENCODE_BMP | ENCODE_JPEG, kJpegMagic},
      {ENCODE_PNG | ENCODE_TIFF | ENCODE_BMP, kPngMagic},
      {ENCODE_GIF | ENCODE_PNG, kGifMagic},
      {ENCODE_JPEG_MODE1 | ENCODE_GIF, kJpegMagic},
      {ENCODE_BMP, kBmpMagic},
      {ENCODE_BY_EXTENSION, kGifMagic},  // .gif target
  };
  for (const Case& c : cases) {
    const std::string out = Path("out.gif");
    EXPECT_EQ(Encode(photo_.get(), out.c_str(), c.flags, 90, nullptr), S_OK) << std::hex << c.flags;
    EXPECT_TRUE(StartsWith(ReadBytes(out), c.magic)) << std::hex << c.flags;
  }
}

// The new-file writer is not linked yet, and an empty record list builds no
// block: both EXIF branches fail and leave the target as it was. ENCODE_EXIF
// means nothing on other extensions.
TEST_F(PictureExportsTest, ExifBranchesFailWithoutABlockToWrite) {
  const Bytes old = veltora::testing::PatternBytes(100, 1);
  WriteBytes(Path("a.jpg"), old);
  ImageInfoList records{};  // empty: no block can be built
  const struct {
    const char* name;
    uint32_t flags;
    void* data;
    HRESULT result;
  } cases[] = {
      {"a.jpg", ENCODE_NEW_EXIF_FILE, &records, E_FAIL},
      {"a.jpg", ENCODE_EXIF | ENCODE_EXIF_RECORDS, &records, E_FAIL},
      {"a.jpg", ENCODE_EXIF | ENCODE_EXIF_RECORDS, nullptr, E_FAIL},  // records missing
      {"a.jpg", ENCODE_EXIF | ENCODE_JPEG, &records, E_FAIL},         // records not flagged
      // The extension adds EXIF.
      {"a.jpeg", ENCODE_BY_EXTENSION | ENCODE_EXIF_RECORDS, &records, E_FAIL},
      // The target directory is probed first.
      {"none/a.jpg", ENCODE_NEW_EXIF_FILE, &records, static_cast<HRESULT>(0x80070003u)},
      // No records: a plain JPEG.
      {"b.jpg", ENCODE_BY_EXTENSION | ENCODE_EXIF_RECORDS, nullptr, S_OK},
      {"a.bmp", ENCODE_EXIF | ENCODE_EXIF_RECORDS | ENCODE_BMP, &records, S_OK},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Encode(photo_.get(), Path(c.name).c_str(), c.flags, 90, c.data), c.result)
        << c.name << " flags=0x" << std::hex << c.flags << (c.data == nullptr ? " no records" : "");
  }
  EXPECT_EQ(ReadBytes(Path("a.jpg")), old);
  EXPECT_FALSE(fs::exists(Path("a.jpeg")));
  EXPECT_TRUE(StartsWith(ReadBytes(Path("a.bmp")), kBmpMagic));
}

// An existing target is replaced and keeps its permissions (Windows keeps the
// read-only mark only); the owner write bit is the read-only mark for every
// user, root included.
TEST_F(PictureExportsTest, ExistingTargetsKeepTheirModeAndReadOnlyOnesAreLeftAsTheyWere) {
  const Bytes before = veltora::testing::PatternBytes(10, 3);
  WriteBytes(Path("a.png"), before);
  WriteBytes(Path("b.png"), before);
  fs::permissions(Path("a.png"), fs::perms(0640));
  fs::permissions(Path("b.png"), fs::perms(0444));
  const uint32_t mode_a = veltora::testing::ModeOf(Path("a.png"));
  const uint32_t mode_b = veltora::testing::ModeOf(Path("b.png"));
  EXPECT_EQ(Encode(photo_.get(), Path("a.png").c_str(), ENCODE_PNG, 90, nullptr), S_OK);
  EXPECT_TRUE(StartsWith(ReadBytes(Path("a.png")), kPngMagic));
  EXPECT_EQ(veltora::testing::ModeOf(Path("a.png")), mode_a);
  EXPECT_EQ(Encode(photo_.get(), Path("b.png").c_str(), ENCODE_PNG, 90, nullptr),
            HRESULT_FROM_WIN32(5));
  EXPECT_EQ(ReadBytes(Path("b.png")), before);
  EXPECT_EQ(veltora::testing::ModeOf(Path("b.png")), mode_b);
}

// ---- Round trips ----------------------------------------------------------------------

TEST_F(PictureExportsTest, EncodeThenDecodeRoundTripsInEveryFormat) {
  const Bitmap photo = testing::MakePhoto(97, 61);  // odd sizes: padding, odd chroma
  HostDib dib(MakeDib(photo));
  Bitmap few = testing::MakeNoise(33, 17, 8);  // at most 256 colours: GIF keeps them
  HostDib few_dib(MakeDib(few));
  struct Case {
    const char* name;
    uint32_t flags;
    bool exact;
  } cases[] = {{"a.bmp", ENCODE_BMP, true},        {"a.png", ENCODE_PNG, true},
               {"a.tif", ENCODE_TIFF, true},       {"a.gif", ENCODE_GIF, true},
               {"a.jpg", ENCODE_JPEG, false},      {"b.jpg", ENCODE_JPEG_MODE1, false},
               {"c.jpg", ENCODE_JPEG_MODE2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool gif = c.flags == ENCODE_GIF;
    const std::string path = Path(c.name);
    ASSERT_EQ(Encode(gif ? few_dib.get() : dib.get(), path.c_str(), c.flags, 90, nullptr), S_OK);
    HostDib back(Decode(path.c_str(), 0));
    ASSERT_NE(back.get(), nullptr);
    const Bitmap decoded = FromDib(back.get());
    if (c.exact) {
      EXPECT_TRUE(testing::SameColours(decoded, gif ? few : photo));
    } else {
      EXPECT_GE(testing::Psnr(decoded, photo), 40.0);
    }
    // Independent readers (where installed) take the file without complaint.
    if (const auto identify = veltora::testing::RunTool({"identify", path})) {
      EXPECT_EQ(std::pair(identify->exit_code, identify->err), std::pair(0, std::string()));
    }
    const auto warnings = veltora::testing::ExiftoolValidate(path);
    if (warnings.has_value()) {
      EXPECT_EQ(*warnings, std::vector<std::string>{});
    }
  }
}

}  // namespace
}  // namespace veltora::imaging
