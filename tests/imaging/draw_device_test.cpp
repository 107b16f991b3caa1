// Draw on each platform's own device (a cairo image surface on Linux, a
// DIB-section memory DC under GDI on Windows) paints exactly the pixels of our
// own resampling, so the same call paints the same pixels on both. Each run
// also prints a digest of the canvas, to compare the two platforms' runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "frame/veltora.h"
#include "imaging/bitmap.h"
#include "imaging/picture_io.h"
#include "imaging/resample.h"
#include "tests/imaging/draw_canvas.h"
#include "tests/imaging/imaging_test_support.h"

namespace veltora::imaging {
namespace {

using testing::Canvas;
using testing::kUntouched;

// A picture with detail everywhere (no flat area hides a resampling slip).
Bitmap Pattern(int32_t width, int32_t height) {
  Bitmap b;
  CreateBitmap(&b, width, height, 24);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t r = static_cast<uint32_t>(x * 255 / (width - 1));
      const uint32_t g = static_cast<uint32_t>(y * 255 / (height - 1));
      const uint32_t blue = ((x / 3 + y / 2) % 2) != 0 ? 0xE0u : 0x20u;
      SetPixelColour(&b, x, y, r | (g << 8) | (blue << 16));  // 0x00BBGGRR
    }
  }
  return b;
}

// 0x00BBGGRR to the canvas's 0x00RRGGBB.
uint32_t CanvasColour(int32_t colour) {
  const auto c = static_cast<uint32_t>(colour);
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

TEST(DrawDeviceTest, DrawPaintsOurResamplingOneForOneAndNothingElse) {
  const Bitmap picture = Pattern(37, 23);
  const HGLOBAL dib = DibFromBitmap(&picture);
  ASSERT_NE(dib, nullptr);
  const std::vector<uint8_t> host_dib = testing::BlockBytes(dib);
  struct Case {
    RECT target;
    const char* what;
  } cases[] = {
      {{5, 7, 55, 38}, "enlarged inside the canvas"},
      {{-9, 20, 21, 31}, "reduced, over the left and bottom edges"},
  };
  for (const Case& c : cases) {
    Canvas canvas(64, 48);
    ASSERT_EQ(Draw(canvas.dc(), dib, c.target.left, c.target.top, c.target.right, c.target.bottom),
              S_OK)
        << c.what;
    const int32_t width = c.target.right - c.target.left;
    const int32_t height = c.target.bottom - c.target.top;
    Bitmap expected;
    ASSERT_EQ(ResizeBitmapWindow(picture, width, height, ResizeWindow{0, 0, width, height},
                                 kResizeFiltered, &expected),
              1);
    int wrong = 0;
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) {
        const bool inside =
            x >= c.target.left && x < c.target.right && y >= c.target.top && y < c.target.bottom;
        const uint32_t want =
            inside ? CanvasColour(GetPixelColour(expected, x - c.target.left, y - c.target.top))
                   : kUntouched;
        if (canvas.At(x, y) != want && wrong++ < 3) {
          ADD_FAILURE() << c.what << ": pixel (" << x << ", " << y << ") is " << std::hex
                        << canvas.At(x, y) << ", not " << want;
        }
      }
    }
    EXPECT_EQ(wrong, 0) << c.what;
    std::printf("canvas digest, %s: %016llx\n", c.what,
                static_cast<unsigned long long>(canvas.Digest()));
  }
  EXPECT_EQ(testing::BlockBytes(dib), host_dib) << "the host's DIB stays as it was";
  GlobalFree(dib);
}

}  // namespace
}  // namespace veltora::imaging
