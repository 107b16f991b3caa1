// Draw and DrawImage on cairo image surfaces: argument limits, whitening
// values, rotation, crop and the 1-bit device branch.
#include <gtest/gtest.h>

#include <utility>

#include "frame/veltora.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_files.h"
#include "imaging_test_support.h"
#include "tests/imaging/draw_canvas.h"

namespace veltora::imaging {
namespace {

using testing::Canvas;
using testing::kUntouched;

// Four flat quadrants, 40 x 30: red top left, green top right, blue bottom
// left, black bottom right. Flat areas keep their exact colour through the
// filtered resize, so points away from the borders can be compared exactly.
Bitmap Quadrants() {
  Bitmap b;
  CreateBitmap(&b, 40, 30, 24);
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      const uint32_t colour =
          y < 15 ? (x < 20 ? 0x0000FF : 0x00FF00) : (x < 20 ? 0xFF0000 : 0x000000);
      SetPixelColour(&b, x, y, colour);  // 0x00BBGGRR
    }
  }
  return b;
}
constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;
constexpr uint32_t kBlack = 0, kWhite = 0xFFFFFF;

class DrawExportsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SaveFile(picture_.c_str(), Quadrants(), kSavePng, 24), 1); }
  HRESULT DrawPicture(const Canvas& canvas, int32_t angle, RECT crop = {}, int32_t whiten = 0,
                      int32_t p = 0, RECT target = {0, 0, 40, 30}) {
    return DrawImage(picture_.c_str(), canvas.dc(), target.left, target.top, target.right,
                     target.bottom, angle, crop.left, crop.top, crop.right, crop.bottom, whiten, p);
  }
  ~DrawExportsTest() override { GlobalFree(dib_); }
  testing::TempDir dir_;
  std::string picture_ = (dir_ / "quadrants.png").string();
  HGLOBAL dib_ = MakeDib(Quadrants());  // the same picture as a host DIB
};

// Argument checks, then failures after them (a missing file, a crop wholly
// outside the turned picture, a target no bitmap can be resized to, a block
// that is no DIB): nothing is drawn.
TEST_F(DrawExportsTest, RefusalsAndFailuresDrawNothing) {
  Canvas canvas(40, 30);
  EXPECT_EQ(Draw(canvas.dc(), dib_, 10, 10, 10, 50), E_INVALIDARG);
  EXPECT_EQ(Draw(canvas.dc(), dib_, 10, 50, 20, 50), E_INVALIDARG);
  EXPECT_EQ(Draw(nullptr, dib_, 0, 0, 4, 4), E_INVALIDARG);
  EXPECT_EQ(Draw(canvas.dc(), nullptr, 0, 0, 4, 4), E_INVALIDARG);
  EXPECT_EQ(DrawPicture(canvas, 0, {}, 0, 0, {10, 10, 10, 50}), E_INVALIDARG);
  EXPECT_EQ(DrawPicture(canvas, 36001), E_INVALIDARG);
  EXPECT_EQ(DrawPicture(canvas, -36001), E_INVALIDARG);
  EXPECT_EQ(DrawImage("", canvas.dc(), 0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0), E_INVALIDARG);
  EXPECT_EQ(DrawImage(nullptr, canvas.dc(), 0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0), E_INVALIDARG);
  EXPECT_EQ(DrawImage(picture_.c_str(), nullptr, 0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0), E_INVALIDARG);
  const std::string missing = (dir_ / "missing.png").string();
  EXPECT_EQ(DrawImage(missing.c_str(), canvas.dc(), 0, 0, 40, 30, 0, 0, 0, 0, 0, 0, 0), E_FAIL);
  EXPECT_EQ(DrawPicture(canvas, 0, {100, 100, 120, 120}), E_FAIL);
  EXPECT_EQ(DrawPicture(canvas, 0, {}, 0, 0, {INT32_MIN, 0, INT32_MAX, 30}), E_FAIL);
  HGLOBAL bad = GlobalAlloc(GHND, 40);  // biBitCount 0
  EXPECT_EQ(Draw(canvas.dc(), bad, 0, 0, 40, 30), E_FAIL);
  GlobalFree(bad);
  EXPECT_EQ(std::pair(canvas.At(5, 5), canvas.At(35, 25)), std::pair(kUntouched, kUntouched));
  EXPECT_EQ(DrawPicture(canvas, 36000), S_OK);
  EXPECT_EQ(DrawPicture(canvas, -36000), S_OK);
  EXPECT_EQ(canvas.At(5, 5), kRed) << "a full turn is the picture as it is";
}

TEST_F(DrawExportsTest, WhiteningMapsEachChannelAndKeepsTheLowEightBits) {
  struct Case {
    int32_t whiten, p;
    uint32_t red_becomes, black_becomes;  // 0x00RRGGBB
  } cases[] = {
      {1, 0, kRed, kBlack},
      {1, 100, kWhite, kWhite},
      // 0 -> 127, 255 -> 255.
      {1, 50, 0xFF7F7F, 0x7F7F7F},
      // The switch decides, not p.
      {0, 100, kRed, kBlack},
      {-1, 50, kRed, kBlack},
      // 0 -> -255 and 0 -> 510: the low bytes 0x01 and 0xFE.
      {1, -100, 0xFF0101, 0x010101},
      {1, 200, 0xFFFEFE, 0xFEFEFE},
  };
  for (const Case& c : cases) {
    Canvas canvas(40, 30);
    ASSERT_EQ(DrawPicture(canvas, 0, {}, c.whiten, c.p), S_OK) << c.whiten << "/" << c.p;
    EXPECT_EQ(canvas.At(5, 5), c.red_becomes) << c.whiten << "/" << c.p;
    EXPECT_EQ(canvas.At(35, 25), c.black_becomes) << c.whiten << "/" << c.p;
  }
}

TEST_F(DrawExportsTest, CropIsTakenInTheTurnedPictureAndAnEmptyOneIsSkipped) {
  Canvas canvas(40, 30);
  // After a half turn the red quadrant is bottom right: (20, 15)-(40, 30).
  ASSERT_EQ(DrawPicture(canvas, 18000, {20, 15, 40, 30}), S_OK);
  EXPECT_EQ(std::pair(canvas.At(5, 5), canvas.At(35, 25)), std::pair(kRed, kRed));
  // A crop reaching past the picture keeps what it covers.
  ASSERT_EQ(DrawPicture(canvas, 0, {-100, -100, 20, 15}), S_OK);
  EXPECT_EQ(canvas.At(35, 25), kRed);
  // Empty crops (right <= left, bottom <= top) draw the whole picture.
  for (RECT empty : {RECT{5, 5, 5, 20}, RECT{30, 5, 10, 20}, RECT{0, 20, 40, 10}}) {
    ASSERT_EQ(DrawPicture(canvas, 0, empty), S_OK);
    EXPECT_EQ(std::pair(canvas.At(5, 5), canvas.At(35, 25)), std::pair(kRed, kBlack));
  }
}

// Targets far larger than the surface, or beside it: only what lands on the
// surface is drawn (the quadrant under each point), at once.
TEST_F(DrawExportsTest, OnlyTheVisiblePartOfAHugeTargetIsDrawn) {
  Canvas canvas(40, 30);
  ASSERT_EQ(Draw(canvas.dc(), dib_, -11000, -200, 585, 11385), S_OK);  // 11585 x 11585
  EXPECT_EQ(canvas.At(5, 5), kGreen);
  ASSERT_EQ(DrawPicture(canvas, 0, {}, 0, 0, {0, 0, 11585, 11585}), S_OK);
  EXPECT_EQ(canvas.At(35, 25), kRed);
  ASSERT_EQ(DrawPicture(canvas, 4985, {}, 0, 0, {-12000, -100, -10000, 30000}), S_OK);
  EXPECT_EQ(canvas.At(35, 25), kRed) << "a turned picture beside the surface draws nothing";
  ASSERT_EQ(DrawPicture(canvas, 4500), S_OK);
  EXPECT_EQ(canvas.At(1, 1), kWhite) << "the turned canvas's corner";
}

TEST_F(DrawExportsTest, OneBitDevicesTakeThePictureAtItsPositionAndSize) {
  Canvas device(64, 64, CAIRO_FORMAT_A1);
  ASSERT_EQ(Draw(device.dc(), dib_, 8, 16, 40, 48), S_OK);
  // Inside at the target's corners, outside beside them.
  EXPECT_TRUE(device.BitAt(8, 16) && device.BitAt(39, 47));
  EXPECT_FALSE(device.BitAt(7, 16) || device.BitAt(40, 30) || device.BitAt(20, 48));
  // DrawImage has no branch for them: it paints as everywhere.
  Canvas other(64, 64, CAIRO_FORMAT_A1);
  EXPECT_EQ(DrawPicture(other, 0, {}, 0, 0, {0, 0, 10, 10}), S_OK);
  EXPECT_EQ(std::pair(other.BitAt(5, 5), other.BitAt(12, 5)), std::pair(true, false));
}

}  // namespace
}  // namespace veltora::imaging
