// The embedded thumbnail's geometry and the encoder's argument checks; the
// encoded file itself is examined in exiftool_validation_test.
#include "plugin/jpeg_exif_encode.h"

#include <gtest/gtest.h>

#include "imaging/bitmap.h"
#include "plugin/exif_writers.h"
#include "plugin/veltora.h"

namespace veltora {
namespace {

TEST(ExifThumbnailTest, SizesPlacesAndArguments) {
  struct {
    int32_t w, h, view;
    ExifThumbnailFit fit;
  } cases[] = {
      {4000, 3000, 1, {160, 120, 0, 0}},  {3000, 4000, 1, {90, 120, 35, 0}},
      {1000, 10, 1, {160, 1, 0, 59}},     {1, 3000, 1, {1, 120, 79, 0}},
      {3000, 4000, 6, {90, 120, 35, 0}},  {3000, 4000, 5, {160, 120, 0, 0}},
  };
  for (const auto& c : cases) {
    const ExifThumbnailFit fit = FitExifThumbnail(c.w, c.h, c.view);
    EXPECT_EQ(std::tie(fit.width, fit.height, fit.left, fit.top),
              std::tie(c.fit.width, c.fit.height, c.fit.left, c.fit.top))
        << c.w << "x" << c.h << " view " << c.view;
  }
  const imaging::DibPicture none_held(nullptr);
  std::vector<uint8_t> jpeg;
  EXPECT_EQ(MakeExifThumbnail(none_held, &jpeg, 75), E_FAIL);
  EXPECT_EQ(MakeExifThumbnail(none_held, &jpeg, 101), E_INVALIDARG);
  EXPECT_EQ(MakeExifThumbnail(none_held, nullptr, 75), E_INVALIDARG);
  ImageInfoList none{};
  EXPECT_EQ(EncodeJpegWithExif(nullptr, "out.jpg", 90, &none), E_INVALIDARG);
}

}  // namespace
}  // namespace veltora
