#include "imaging/bitmap.h"

#include <gtest/gtest.h>

#include <tuple>

#include "imaging/paint.h"
#include "imaging/picture_files.h"
#include "imaging/resample.h"
#include "imaging/rotate.h"
#include "imaging_test_support.h"
#include "tests/imaging/draw_canvas.h"

namespace veltora::imaging {
namespace {

using testing::MakeNoise;
using testing::MakePhoto;
using testing::Solid;

TEST(BitmapTest, PixelsReadBackAtEveryDepthAndOutsidePointsFail) {
  for (int32_t bits : {1, 4, 8, 24, 32}) {
    Bitmap b;
    ASSERT_EQ(CreateBitmap(&b, 9, 3, bits), 1);
    if (IsIndexedDepth(bits)) b.palette = GreyPalette(bits);
    const uint32_t colour = bits == 1 ? 0xFFFFFF : (bits == 4 ? 0x888888 : 0x123456);
    EXPECT_EQ(SetPixelColour(&b, 8, 2, colour), 1);
    EXPECT_EQ(GetPixelColour(b, 8, 2), static_cast<int32_t>(bits == 8 ? 0x343434 : colour)) << bits;
    EXPECT_EQ(GetPixelColour(b, 7, 2), 0) << "neighbour untouched, bits " << bits;
    EXPECT_EQ(GetPixelColour(b, 9, 0), kErrorInvalidArgument);
    EXPECT_EQ(SetPixelColour(&b, 0, -1, 0), kErrorInvalidArgument);
  }
}

TEST(BitmapTest, TrimClipsToTheBitmapAndRefusesEmptyAreas) {
  Bitmap b = MakeNoise(10, 8, 4);
  const Bitmap original = b;
  ASSERT_EQ(TrimBitmap(&b, 7, 5, 100, 100), 1);
  EXPECT_EQ(std::tuple(b.width, b.height), std::tuple(3, 3));
  EXPECT_EQ(GetPixelColour(b, 0, 0), GetPixelColour(original, 7, 5));
  EXPECT_EQ(GetPixelColour(b, 2, 2), GetPixelColour(original, 9, 7));
  Bitmap c = original;
  EXPECT_EQ(TrimBitmap(&c, 10, 0, 5, 5), kErrorInvalidArgument);
  EXPECT_EQ(TrimBitmap(&c, -5, 0, 5, 5), kErrorInvalidArgument);
  EXPECT_EQ(TrimBitmap(&c, 0, 0, 0, 5), kErrorInvalidArgument);
  EXPECT_TRUE(testing::SameColours(c, original));
  EXPECT_EQ(TrimBitmap(&c, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX), kErrorInvalidArgument);
}

TEST(BitmapTest, PasteClipsAndConvertsToTheTargetPalette) {
  Bitmap target = Solid(6, 4, 0x000000, 8);
  target.palette = GreyPalette(8);
  FillBitmap(&target, 0);
  const Bitmap source = Solid(4, 4, 0xFFFFFF);
  EXPECT_EQ(PasteBitmap(&target, 4, -2, 4, 4, source), 1);
  EXPECT_EQ(std::tuple(GetPixelColour(target, 3, 0), GetPixelColour(target, 4, 0),
                       GetPixelColour(target, 5, 1), GetPixelColour(target, 5, 2)),
            std::tuple(0, 0xFFFFFF, 0xFFFFFF, 0));
  EXPECT_EQ(PasteBitmap(&target, 100, 100, 4, 4, source), 1);  // nothing to do
  EXPECT_EQ(PasteBitmap(&target, 0, 0, 4, 4, source, 0, 0, 0), kErrorInvalidArgument);
}

TEST(BitmapTest, ChangeDepthKeepsFewColoursExactlyAndQuantizesMany) {
  // Three colours into 1 bit: only two fit, so the nearest are merged.
  Bitmap three = Solid(3, 1, 0x000000);
  SetPixelColour(&three, 1, 0, 0x0000FF);
  SetPixelColour(&three, 2, 0, 0x0A0A0A);
  Bitmap two;
  ASSERT_EQ(ChangeBitDepth(&two, three, 1), 1);
  EXPECT_EQ(GetPixelColour(two, 0, 0), GetPixelColour(two, 2, 0));
  EXPECT_NE(GetPixelColour(two, 0, 0), GetPixelColour(two, 1, 0));
  // Sixteen colours into 4 bits and back: exact.
  const Bitmap sixteen = MakeNoise(20, 20, 4);
  Bitmap wide, narrow;
  ASSERT_EQ(ChangeBitDepth(&wide, sixteen, 24), 1);
  ASSERT_EQ(ChangeBitDepth(&narrow, wide, 4), 1);
  EXPECT_TRUE(testing::SameColours(narrow, sixteen));
  // In place, and 24 -> 32 -> 24 is lossless.
  Bitmap photo = MakePhoto(33, 7);
  const Bitmap before = photo;
  ASSERT_EQ(ChangeBitDepth(&photo, photo, 32), 1);
  EXPECT_EQ(photo.bits_per_pixel, 32);
  ASSERT_EQ(ChangeBitDepth(&photo, photo, 24), 1);
  EXPECT_EQ(photo.pixels, before.pixels);
}

// ---- Scaling ------------------------------------------------------------------

TEST(ResampleTest, ShrinkingAveragesInsteadOfAliasing) {
  // One-pixel stripes, black and white: nearest neighbour at half size
  // picks one phase (all black or all white); the filter gives grey.
  Bitmap stripes = Solid(64, 8, 0);
  for (int32_t x = 1; x < 64; x += 2) {
    for (int32_t y = 0; y < 8; ++y) SetPixelColour(&stripes, x, y, 0xFFFFFF);
  }
  Bitmap filtered = stripes, nearest = stripes;
  ASSERT_EQ(ResizeBitmap(&filtered, 32, 8, kResizeFiltered), 1);
  ASSERT_EQ(ResizeBitmap(&nearest, 32, 8, kResizeNearest), 1);
  const int grey = GetPixelColour(filtered, 16, 4) & 0xFF;
  EXPECT_NEAR(grey, 128, 2);
  const int picked = GetPixelColour(nearest, 16, 4) & 0xFF;
  EXPECT_TRUE(picked == 0 || picked == 255);
  EXPECT_EQ(ResizeBitmap(&nearest, 32, 8, 7), kErrorInvalidArgument);
}

// Large shrinks (box reduction, then the cubic) against ImageMagick's
// Catmull-Rom resize of the same picture: the two filters differ slightly
// in shape, so a small tolerance, but any misplaced box or weight shows.
TEST(ResampleTest, LargeShrinksAgreeWithImageMagick) {
  if (!testing::HaveConvert()) GTEST_SKIP() << "ImageMagick convert is not installed";
  testing::TempDir dir;
  struct Case {
    int32_t w, h, tw, th;
  } cases[] = {{3264, 2448, 160, 120}, {1001, 333, 37, 29}, {640, 40, 160, 40}};
  for (const Case& c : cases) {
    const Bitmap photo = testing::MakePhoto(c.w, c.h);
    ASSERT_EQ(SaveFile((dir / "in.bmp").string().c_str(), photo, kSaveBmp, 24), 1);
    const std::string size = std::to_string(c.tw) + "x" + std::to_string(c.th) + "!";
    const auto run =
        veltora::testing::RunTool({"convert", (dir / "in.bmp").string(), "-filter", "Catrom",
                                   "-resize", size, (dir / "out.bmp").string()});
    ASSERT_TRUE(run.has_value() && run->exit_code == 0);
    Bitmap expected;
    ASSERT_EQ(LoadFile((dir / "out.bmp").string().c_str(), &expected, 24, kOrderBgr, nullptr), 1);
    Bitmap ours = photo;
    ASSERT_EQ(ResizeBitmap(&ours, c.tw, c.th, kResizeFiltered), 1);
    EXPECT_LE(testing::MaxChannelDifference(ours, expected), 16) << c.w << "x" << c.h;
    EXPECT_GE(testing::Psnr(ours, expected), 38.0) << c.w << "x" << c.h;
  }
}

TEST(ResampleTest, ResampleIntoAPreparedBitmapKeepsItsPalette) {
  const Bitmap source = MakeNoise(30, 30, 8);
  Bitmap target;
  ASSERT_EQ(SetUpBitmap(&target, 10, 10, 8), 1);
  ASSERT_EQ(AllocateBitmap(&target, 1), 1);
  target.palette = source.palette;
  EXPECT_GT(ResampleBitmap(source, &target), 0);
  EXPECT_EQ(target.palette, source.palette);
  // Nearest neighbour: each target pixel is one of the source's.
  EXPECT_EQ(GetPixelColour(target, 0, 0), GetPixelColour(source, 1, 1));
  Bitmap not_allocated;
  SetUpBitmap(&not_allocated, 5, 5, 24);
  EXPECT_EQ(ResampleBitmap(source, &not_allocated), kErrorNoImage);
}

// ---- Rotation -----------------------------------------------------------------

TEST(RotateTest, QuarterTurnsMovePixelsExactlyClockwise) {
  Bitmap b = Solid(4, 2, 0);
  SetPixelColour(&b, 0, 0, 0x0000FF);  // top-left marker
  Bitmap turned = b;
  ASSERT_EQ(TurnQuarters(&turned, 9000), 1);
  EXPECT_EQ(std::tuple(turned.width, turned.height), std::tuple(2, 4));
  EXPECT_EQ(GetPixelColour(turned, 1, 0), 0x0000FF);  // now top-right
  for (int32_t angle : {-27000, 36000 + 9000}) {
    Bitmap same = b;
    ASSERT_EQ(TurnQuarters(&same, angle), 1);
    EXPECT_TRUE(testing::SameColours(same, turned)) << angle;
  }
  Bitmap half = b;
  ASSERT_EQ(TurnQuarters(&half, 18000), 1);
  EXPECT_EQ(GetPixelColour(half, 3, 1), 0x0000FF);
  Bitmap none = MakeNoise(5, 5, 4);
  const Bitmap original = none;
  ASSERT_EQ(TurnQuarters(&none, 0), 1);
  EXPECT_EQ(none.pixels, original.pixels);
  EXPECT_EQ(TurnQuarters(&none, 4500), kErrorInvalidArgument);
  EXPECT_EQ(none.pixels, original.pixels);
}

// A window of a resize is exactly that part of the whole resize, for
// enlarging, shrinking (with and without box reduction) and unchanged axes.
TEST(ResampleTest, WindowsAreExactlyThePartOfTheWholeResize) {
  const Bitmap photo = MakePhoto(60, 40);
  struct Case {
    int32_t width, height;
    ResizeWindow window;
  } cases[] = {{300, 90, {17, 3, 40, 50}}, {13, 7, {2, 1, 9, 5}}, {60, 21, {0, 4, 60, 9}}, {25, 40, {5, 11, 20, 29}}};
  for (const Case& c : cases) {
    Bitmap whole = photo, part;
    ASSERT_EQ(ResizeBitmap(&whole, c.width, c.height, kResizeFiltered), 1);
    ASSERT_EQ(ResizeBitmapWindow(photo, c.width, c.height, c.window, kResizeFiltered, &part), 1);
    ASSERT_EQ(TrimBitmap(&whole, c.window.x, c.window.y, c.window.width, c.window.height), 1);
    EXPECT_EQ(part.pixels, whole.pixels) << c.width << "x" << c.height;
  }
  Bitmap part;
  EXPECT_EQ(ResizeBitmapWindow(photo, 30, 30, {20, 0, 11, 5}, kResizeFiltered, &part), kErrorInvalidArgument);
}

// Turning, cutting and scaling only a window: a quarter turn agrees with
// the exact pixel move then the filtered resize (bilinear sampling against
// the filter: a few levels apart on a smooth picture; shrinking by 5 goes
// through a box reduction first); any angle's window is exactly that part of
// the whole turned picture, whose uncovered corners stay white.
TEST(RotateTest, TurnedWindowsAgreeWithTurningTheWholePicture) {
  const Bitmap photo = MakePhoto(200, 120);
  const ResizeWindow crop{30, 20, 90, 140};
  Bitmap turned = photo;
  ASSERT_EQ(TurnQuarters(&turned, 9000), 1);
  ASSERT_EQ(TrimBitmap(&turned, crop.x, crop.y, crop.width, crop.height), 1);
  for (const auto& [w, h] : {std::pair{80, 70}, std::pair{400, 350}, std::pair{18, 28}}) {
    Bitmap scaled = turned, part;
    ASSERT_EQ(ResizeBitmap(&scaled, w, h, kResizeFiltered), 1);
    const ResizeWindow window{w / 4, h / 4, w / 2, h / 2};
    ASSERT_EQ(TurnScaledWindow(photo, 9000, crop, w, h, window, &part), 1);
    ASSERT_EQ(TrimBitmap(&scaled, window.x, window.y, window.width, window.height), 1);
    int apart = 0;  // pixels more than 12 levels apart
    testing::ForEachPixelPair(part, scaled, [&](int32_t p, int32_t q) {
      apart += testing::ColourDifference(p, q) > 12 ? 1 : 0;
    });
    EXPECT_LT(apart, part.width * part.height / 20) << w;
  }
  EXPECT_EQ(TurnedCanvasSize(100, 50, 4500).width, 106);  // (100 + 50) / sqrt(2)
  for (const int32_t angle : {1234, -4985}) {
    const CanvasSize canvas = TurnedCanvasSize(photo.width, photo.height, angle);
    const ResizeWindow all{0, 0, static_cast<int32_t>(canvas.width), static_cast<int32_t>(canvas.height)};
    Bitmap whole, part;
    ASSERT_EQ(TurnScaledWindow(photo, angle, all, all.width, all.height, all, &whole), 1);
    EXPECT_EQ(GetPixelColour(whole, 0, 0), 0xFFFFFF) << angle;
    EXPECT_EQ(GetPixelColour(whole, all.width - 1, all.height - 1), 0xFFFFFF) << angle;
    // The canvas centre shows the picture's centre (within a pixel's step).
    const int32_t centre = GetPixelColour(whole, all.width / 2, all.height / 2);
    int nearest = 255;
    for (int32_t i = 0; i < 9; ++i) {  // the 3 x 3 pixels around (100, 60)
      const int32_t near = GetPixelColour(photo, 99 + i % 3, 59 + i / 3);
      nearest = std::min(nearest, testing::ColourDifference(centre, near));
    }
    EXPECT_LE(nearest, 12) << angle;
    const ResizeWindow window{17, 9, 60, 40};
    ASSERT_EQ(TurnScaledWindow(photo, angle, all, all.width, all.height, window, &part), 1);
    ASSERT_EQ(TrimBitmap(&whole, window.x, window.y, window.width, window.height), 1);
    // Sampling positions agree to pixman's fixed point.
    EXPECT_LE(testing::MaxChannelDifference(part, whole), 2) << angle;
  }
}

// ---- Painting -----------------------------------------------------------------

// Painting itself (stretching, clipping, 1-bit surfaces) is checked through
// Draw in draw_exports_test; the painter's own refusals are reached only here.
TEST(PaintTest, EmptyRectanglesAndOtherRasterOperationsAreRefused) {
  testing::Canvas canvas(20, 20);
  const Bitmap red = Solid(2, 2, 0x0000FF);
  EXPECT_EQ(PaintBitmap(canvas.dc(), red, 10, 10, 10, 50), kErrorInvalidArgument);
  EXPECT_EQ(PaintBitmap(canvas.dc(), red, 0, 0, 5, 5, 0x00EE0086), kErrorInvalidArgument);
  EXPECT_EQ(PaintBitmap(nullptr, red, 0, 0, 5, 5), kErrorInvalidArgument);
}

}  // namespace
}  // namespace veltora::imaging
