#include "imaging/picture_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <tuple>
#include <utility>

#include "imaging/dib_memory.h"
#include "imaging/packed_dib.h"
#include "imaging/save_jpeg.h"
#include "imaging_test_support.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/tiff_builder.h"

namespace veltora::imaging {
namespace {

using testing::MakeNoise;
using testing::MakePhoto;

Bitmap Decode(const std::vector<uint8_t>& bytes, int32_t bits = 0) {
  Bitmap b;
  EXPECT_EQ(LoadMemory(bytes, &b, bits, kOrderBgr), 1);
  return b;
}

// The file `EncodeFile` makes of `bitmap`.
std::vector<uint8_t> Encoded(const Bitmap& bitmap, int32_t format, int32_t bits = 24) {
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeFile(bitmap, format, bits, &bytes), 1);
  return bytes;
}

// The JPEG file `EncodeJpeg` makes of `bitmap`.
std::vector<uint8_t> Jpeg(const Bitmap& bitmap, int32_t quality = 90,
                          int32_t mode = kJpegModeStandard) {
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeJpeg(bitmap, quality, mode, &bytes), 0);
  return bytes;
}

// ---- Lossless round trips ---------------------------------------------------

TEST(PictureFilesTest, GifOfAPhotographUsesAnAdaptivePalette) {
  // Like most photographs, its colours fill a small part of the RGB cube.
  Bitmap original = MakePhoto(160, 120);
  for (uint8_t& byte : original.pixels) byte = static_cast<uint8_t>(90 + byte / 4);
  const Bitmap back = Decode(Encoded(original, kSaveGif, 8), 24);
  EXPECT_GT(testing::Psnr(original, back), 35.0);
  // The same picture through a fixed 6x6x6 colour cube, the palette a
  // non-adaptive writer would use.
  Bitmap cube = original;
  for (uint8_t& byte : cube.pixels) byte = static_cast<uint8_t>((byte + 25) / 51 * 51);
  EXPECT_GT(testing::Psnr(original, back), testing::Psnr(original, cube) + 6.0);
}

// ---- JPEG writer --------------------------------------------------------------

// The offset of the first `marker` segment of a JPEG (of its 0xFF).
size_t SegmentOffset(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  for (const veltora::testing::JpegSegment& segment : veltora::testing::WalkSegments(jpeg)) {
    if (segment.marker == marker) return segment.offset;
  }
  ADD_FAILURE() << "no segment 0xFF" << std::hex << int{marker};
  return 0;
}

TEST(SaveJpegTest, ModesHaveTheirDocumentedLayoutAndQualityIsClamped) {
  const Bitmap photo = MakePhoto(96, 64);
  struct Case {
    int32_t mode;
    uint8_t sof, sampling;
  } cases[] = {{kJpegModeStandard, 0xC0, 0x22},
               {kJpegModeFullColour, 0xC0, 0x11},
               {kJpegModeProgressive, 0xC2, 0x22},
               {kJpegModeExif, 0xC0, 0x21}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = Jpeg(photo, 90, c.mode);
    const size_t app0 = SegmentOffset(bytes, veltora::testing::kApp0);
    EXPECT_EQ(std::memcmp(&bytes[app0 + 4], "JFIF", 5), 0) << c.mode;
    const size_t sof = SegmentOffset(bytes, c.sof);
    EXPECT_EQ(bytes[sof + 11], c.sampling) << c.mode;
    EXPECT_GE(testing::Psnr(photo, Decode(bytes)), 40.0) << c.mode;
  }
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeJpeg(photo, 90, 3, &bytes), kErrorInvalidArgument);
  EXPECT_EQ(Jpeg(photo, -5), Jpeg(photo, 1));
  // Indexed pictures are encoded too.
  EXPECT_EQ(Decode(Jpeg(MakeNoise(9, 9, 4), 75, kJpegModeExif)).width, 9);
}

// ---- Loading options ----------------------------------------------------------

TEST(PictureFilesTest, LoadConvertsToTheRequestedDepthAndFlattensAlphaOverWhite) {
  Bitmap rgba;
  ASSERT_EQ(CreateBitmap(&rgba, 2, 1, 32), 1);
  rgba.flags |= kBitmapHasAlpha;
  const uint8_t pixels[] = {0, 0, 255, 0, 0, 0, 255, 255};  // transparent red, opaque red
  std::memcpy(rgba.pixels.data(), pixels, sizeof pixels);
  const std::vector<uint8_t> bytes = Encoded(rgba, kSavePng, 32);
  const Bitmap flat = Decode(bytes, 24);
  EXPECT_EQ(std::tuple(flat.bits_per_pixel, GetPixelColour(flat, 0, 0), GetPixelColour(flat, 1, 0)),
            std::tuple(24, 0xFFFFFF, 0x0000FF));
  EXPECT_EQ(Decode(bytes, 8).bits_per_pixel, 8);
  Bitmap b;
  EXPECT_EQ(LoadMemory(bytes, &b, 24, 3), kErrorInvalidArgument);
  EXPECT_EQ(LoadMemory(bytes, &b, 16, kOrderBgr), kErrorInvalidArgument);
}

TEST(PictureFilesTest, FileOperationsReportMissingFilesAndWriteWhatTheyEncode) {
  testing::TempDir dir;
  Bitmap b;
  FileInformation info;
  const std::string missing = (dir / "missing.png").string(), path = (dir / "out.bmp").string();
  EXPECT_EQ(LoadFile(missing.c_str(), &b, 24, kOrderBgr, nullptr), kErrorFileOpen);
  EXPECT_EQ(QueryFile(missing.c_str(), &info), kErrorFileOpen);
  EXPECT_EQ(SaveFile((dir / "no/dir.png").c_str(), MakePhoto(4, 4), kSavePng, 24), kErrorFileOpen);
  ASSERT_EQ(SaveFile(path.c_str(), MakePhoto(7, 3), kSaveBmp, 24), 1);
  ASSERT_EQ(LoadFile(path.c_str(), &b, 24, kOrderBgr, &info), 1);
  EXPECT_EQ(info.file_size, static_cast<int64_t>(std::filesystem::file_size(path)));
  EXPECT_EQ(info.file_size, 14 + 40 + 24 * 3);
  EXPECT_TRUE(testing::SameColours(b, MakePhoto(7, 3)));
  Bitmap empty;
  EXPECT_EQ(SaveFile(path.c_str(), empty, kSaveBmp, 24), kErrorNoImage);
  EXPECT_EQ(SaveFile(path.c_str(), MakePhoto(4, 4), 99, 24), kErrorInvalidArgument);
  EXPECT_EQ(SaveFile(path.c_str(), MakePhoto(4, 4), kSaveGif, 24), kErrorUnsupported);
}

// ---- Malformed input ----------------------------------------------------------

// Every prefix of a valid file of each format, and a few byte flips, must
// give a negative error or a picture, never a crash (the sanitizer build
// checks the "never").
TEST(PictureFilesTest, TruncatedAndCorruptedFilesFailCleanly) {
  const Bitmap photo = MakePhoto(40, 30);
  for (const auto& file :
       {Encoded(photo, kSaveBmp), Encoded(photo, kSavePng), Encoded(photo, kSaveTiff),
        Encoded(photo, kSaveGif, 8), Jpeg(photo, 80, kJpegModeProgressive)}) {
    for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 8) {
      const std::vector<uint8_t> part(file.data(), file.data() + cut);
      Bitmap b;
      FileInformation info;
      const int32_t r = LoadMemory(part, &b, 24, kOrderBgr);
      EXPECT_TRUE(r == 1 || r < 0) << "cut " << cut;
      EXPECT_EQ(r == 1, b.HoldsImage());
      const int32_t q = QueryMemory(part, &info);
      EXPECT_TRUE(q == 1 || q < 0);
    }
    for (size_t at = 0; at < std::min<size_t>(file.size(), 200); at += 3) {
      std::vector<uint8_t> flipped = file;
      flipped[at] ^= 0x5A;
      Bitmap b;
      const int32_t r = LoadMemory(flipped, &b, 24, kOrderBgr);
      EXPECT_TRUE(r == 1 || r < 0) << "flip " << at;
    }
  }
  Bitmap b;
  EXPECT_EQ(LoadMemory({}, &b, 24, kOrderBgr), kErrorUnknownFormat);
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(LoadMemory(text, &b, 24, kOrderBgr), kErrorUnknownFormat);
}

TEST(PictureFilesTest, HeadersAskingForHugePicturesAreRefusedBeforeAllocationAndCutOnesAreCorrupt) {
  // A BMP header claiming 60000 x 60000 at 32 bits with no rows behind it.
  std::vector<uint8_t> bmp = Encoded(MakePhoto(2, 2), kSaveBmp, 32);
  const uint32_t side = 60000;
  std::memcpy(&bmp[18], &side, 4);
  std::memcpy(&bmp[22], &side, 4);
  Bitmap b;
  EXPECT_EQ(LoadMemory(bmp, &b, 0, kOrderBgr), kErrorTooLarge);
  // Within the caps but with rows missing.
  const uint32_t small = 300;
  std::memcpy(&bmp[18], &small, 4);
  std::memcpy(&bmp[22], &small, 4);
  EXPECT_EQ(LoadMemory(bmp, &b, 0, kOrderBgr), kErrorCorrupt);
  // A JPEG frame header of 65500 x 65500.
  std::vector<uint8_t> jpeg = Jpeg(MakePhoto(16, 16));
  const size_t sof = SegmentOffset(jpeg, veltora::testing::kSof0);
  jpeg[sof + 5] = jpeg[sof + 7] = 0xFF;
  jpeg[sof + 6] = jpeg[sof + 8] = 0xDC;
  EXPECT_EQ(LoadMemory(jpeg, &b, 24, kOrderBgr), kErrorTooLarge);
  EXPECT_FALSE(b.HoldsImage());
  // Cut before its scan, the same header is corrupt, not too large.
  jpeg.resize(SegmentOffset(jpeg, veltora::testing::kSos));
  EXPECT_EQ(LoadMemory(jpeg, &b, 24, kOrderBgr), kErrorCorrupt);
  FileInformation info;
  EXPECT_EQ(QueryMemory(jpeg, &info), kErrorCorrupt);
}

void PutBigEndian32(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// An RGBA TIFF of `width` x `height` holding one uncompressed strip of 16 bytes.
std::vector<uint8_t> RgbaTiff(uint32_t width, uint32_t height) {
  using veltora::testing::kIfd0;
  return veltora::testing::TiffBuilder(veltora::testing::kLittle)
      .Long(kIfd0, 256, width)
      .Long(kIfd0, 257, height)
      .Shorts(kIfd0, 258, {8, 8, 8, 8})
      .Short(kIfd0, 259, 1)
      .Short(kIfd0, 262, 2)
      .Short(kIfd0, 277, 4)
      .Long(kIfd0, 278, height)
      .Short(kIfd0, 338, 2)
      .Strips(kIfd0, {{0, 0, 255, 0, 0, 0, 255, 128, 10, 200, 30, 255, 90, 90, 90, 64}})
      .Bytes();
}

// Each file is valid at its own size; its header then declares 4000 x 4000
// (well inside the caps) over the same data.
TEST(PictureFilesTest, HeadersPromisingMoreThanTheDataHoldsAreRefused) {
  const Bitmap photo = MakePhoto(16, 16);
  const std::vector<uint8_t> png = Encoded(photo, kSavePng), jpeg = Jpeg(photo),
                             gif = Encoded(photo, kSaveGif, 8);
  struct Case {
    const char* name;
    std::vector<uint8_t> valid, inflated;
  } cases[] = {{"png", png, png},
               {"jpeg", jpeg, jpeg},
               {"gif", gif, gif},
               {"tiff", RgbaTiff(2, 2), RgbaTiff(4000, 4000)}};
  PutBigEndian32(&cases[0].inflated, 16, 4000);
  PutBigEndian32(&cases[0].inflated, 20, 4000);
  // The IHDR chunk's CRC over its type and data.
  PutBigEndian32(&cases[0].inflated, 29,
                 static_cast<uint32_t>(crc32(0, &cases[0].inflated[12], 17)));
  PutBigEndian32(&cases[1].inflated, SegmentOffset(jpeg, veltora::testing::kSof0) + 5,
                 4000u << 16 | 4000u);
  // The frame itself (image descriptor at 13 + 768), not only the screen.
  for (size_t at : {6, 13 + 768 + 5}) {
    cases[2].inflated[at] = cases[2].inflated[at + 2] = 4000 & 0xFF;
    cases[2].inflated[at + 1] = cases[2].inflated[at + 3] = 4000 >> 8;
  }
  for (const Case& c : cases) {
    Bitmap b;
    EXPECT_EQ(LoadMemory(c.valid, &b, 24, kOrderBgr), 1) << c.name;
    EXPECT_EQ(LoadMemory(c.inflated, &b, 24, kOrderBgr), kErrorCorrupt) << c.name;
    EXPECT_FALSE(b.HoldsImage()) << c.name;
  }
  // A 35-byte GIF declaring an 11585 x 11585 screen over a 1 x 1 frame: the
  // file cannot hold what would fill the screen, and nothing is allocated.
  const std::vector<uint8_t> tiny_gif = {'G',  'I',  'F',  '8',  '9',  'a',  0x41, 0x2D, 0x41,
                                         0x2D, 0x80, 0,    0,    0,    0,    0,    255,  255,
                                         255,  0x2C, 0,    0,    0,    0,    1,    0,    1,
                                         0,    0,    0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
  Bitmap b;
  EXPECT_EQ(LoadMemory(tiny_gif, &b, 24, kOrderBgr), kErrorCorrupt);
  EXPECT_FALSE(b.HoldsImage());
}

// Decoders that deliver 24 bits straight (GIF colours, TIFF alpha flattened,
// rows written bottom-up into a DIB block) give what converting the native
// decode and copying it into a DIB gives, byte for byte.
TEST(PictureFilesTest, StraightDecodesIntoDibBlocksEqualConvertedCopies) {
  const Bitmap photo = MakePhoto(13, 7);
  std::vector<std::vector<uint8_t>> files = {Jpeg(photo), Encoded(photo, kSaveGif, 8),
                                             RgbaTiff(2, 2), Encoded(photo, kSaveBmp)};
  files[1][6] = 20;  // a screen wider than the frame: its uncovered part is white
  for (const auto& file : files) {
    Bitmap native, straight;
    ASSERT_EQ(LoadMemory(file, &native, 0, kOrderBgr), 1);
    ASSERT_EQ(ChangeBitDepth(&native, native, 24), 1);
    ASSERT_EQ(LoadMemory(file, &straight, 24, kOrderBgr, kMemoryDib), 1);
    ASSERT_TRUE(straight.pixels.bottom_up());
    HGLOBAL copied = MakeDib(native), taken = TakeDib(&straight);
    ASSERT_NE(taken, nullptr);
    EXPECT_FALSE(straight.HoldsImage());
    EXPECT_EQ(testing::BlockBytes(copied), testing::BlockBytes(taken));
    GlobalFree(copied);
    GlobalFree(taken);
  }
}

// What the writers store (pHYs in metres, TIFF in centimetres, JFIF in
// whole dots per inch) reads back; a JFIF density in dots per inch is
// converted, one that gives only the aspect is no resolution.
TEST(PictureFilesTest, ResolutionReadsBackIntoPixelsPerMetre) {
  const auto resolution = [](const Bitmap& b) {
    return std::pair(b.x_pixels_per_metre, b.y_pixels_per_metre);
  };
  Bitmap photo = MakePhoto(8, 8);
  photo.x_pixels_per_metre = 3780;
  photo.y_pixels_per_metre = 2835;
  for (const int32_t format : {kSavePng, kSaveTiff, kSaveBmp}) {
    const Bitmap back = Decode(Encoded(photo, format));
    EXPECT_EQ(resolution(back), std::pair(3780, 2835)) << format;
  }
  std::vector<uint8_t> jpeg = Jpeg(photo);
  EXPECT_EQ(resolution(Decode(jpeg)), std::pair(3780, 2835));  // written as 96 and 72 dpi
  ASSERT_EQ(std::memcmp(&jpeg[6], "JFIF", 5), 0);
  const uint8_t density[] = {1, 300 >> 8, 300 & 0xFF, 0, 150};  // dots per inch
  std::memcpy(&jpeg[13], density, sizeof density);
  EXPECT_EQ(resolution(Decode(jpeg)), std::pair(11811, 5906));
  jpeg[13] = 0;  // an aspect ratio only
  EXPECT_EQ(Decode(jpeg).x_pixels_per_metre, 0);
}

// A 4 x 3 BMP of four palette colours whose rows are run-length coded.
std::vector<uint8_t> RleBmp(uint16_t bits, const std::vector<uint8_t>& codes) {
  std::vector<uint8_t> b = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 14 + 40 + 16, 0, 0, 0};
  auto put = [&b](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(40, 4), put(4, 4), put(3, 4), put(1, 2), put(bits, 2), put(bits == 8 ? 1 : 2, 4), put(0, 4);
  put(0, 4), put(0, 4), put(4, 4), put(0, 4);
  // The palette: black, blue, green, red.
  for (uint32_t colour : {0x000000, 0x0000FF, 0x00FF00, 0xFF0000}) put(colour, 4);
  b.insert(b.end(), codes.begin(), codes.end());
  return b;
}

// Bottom row: a run of 10 (cut at the edge); middle: 3 pixels as they are;
// top: a delta of one pixel, a run of 2, the end of the bitmap.
TEST(PictureFilesTest, RunLengthCodedBmpsDecodeAtTheirDepth) {
  const std::vector<uint8_t> rle8 = {10, 1, 0, 0, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 1, 0, 2, 3, 0, 1};
  const std::vector<uint8_t> rle4 = {10, 0x11, 0, 0, 0, 3, 0x23, 0x10, 0,
                                     0,  0,    2, 1, 0, 2, 0x33, 0,    1};
  const uint32_t k = 0x000000, b = 0xFF0000, g = 0x00FF00, r = 0x0000FF;  // 0x00BBGGRR
  const uint32_t expected[3][4] = {{k, r, r, k}, {g, r, b, k}, {b, b, b, b}};
  for (const auto& [bits, codes] : {std::pair{uint16_t{8}, rle8}, std::pair{uint16_t{4}, rle4}}) {
    const Bitmap picture = Decode(RleBmp(bits, codes));
    EXPECT_EQ(picture.bits_per_pixel, bits);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(static_cast<uint32_t>(GetPixelColour(picture, x, y)), expected[y][x])
            << bits << ": " << x << "," << y;
      }
    }
    // Codes that end early keep what they decoded; the rest stays index 0.
    const std::vector<uint8_t> cut(codes.begin(), codes.begin() + 4);
    const Bitmap part = Decode(RleBmp(bits, cut));
    EXPECT_EQ(GetPixelColour(part, 3, 2), static_cast<int32_t>(b));
    EXPECT_EQ(GetPixelColour(part, 0, 1), 0);
  }
  std::vector<uint8_t> top_down = RleBmp(8, rle8);
  top_down[22] = 0xFD;  // a height of -3: RLE rows are bottom-up only
  std::fill(top_down.begin() + 23, top_down.begin() + 26, 0xFF);
  Bitmap none;
  EXPECT_EQ(LoadMemory(top_down, &none, 0, kOrderBgr), kErrorCorrupt);
}

}  // namespace
}  // namespace veltora::imaging
