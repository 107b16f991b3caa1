#include "frame/format_detection.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace veltora {
namespace {

TEST(DetectImageFormatTest, ExtensionOfTheLastComponentOnly) {
  const std::pair<ImageFormat, std::vector<const char*>> cases[] = {
      {ImageFormat::kJpeg, {"a.JPG", "a.jpeg", "a.JpE", "a.zip.jpg", ".jpg"}},
      {ImageFormat::kBmp, {"a.bmp"}},
      {ImageFormat::kTiff, {"x/a.Tiff", "a.tif"}},
      {ImageFormat::kPng, {"a.png"}},
      {ImageFormat::kGif, {"a.gif"}},
      {ImageFormat::kUnknown,
       {"dir.jpg/file", "a.", "file", "a.zip", "a.jpg.zip", "", "a.jpgx", "a. jpg", "/",
        "dir.png/"}}};
  for (const auto& [expected, paths] : cases) {
    for (const char* path : paths) {
      EXPECT_EQ(DetectImageFormat(path), expected) << '"' << path << '"';
    }
  }
  EXPECT_EQ(DetectImageFormat(nullptr), ImageFormat::kUnknown);
  std::string long_extension = "a." + std::string(300, 'j');
  EXPECT_EQ(DetectImageFormat(long_extension.c_str()), ImageFormat::kUnknown);
}

}  // namespace
}  // namespace veltora
