// Encode with ENCODE_EXIF as a host calls it. The embedded thumbnail's
// geometry and the encoder's argument checks; then, with fully populated
// records, the block follows the SOI and carries a thumbnail, and as an
// independent reader sees it, every attribute reads back in exiftool with the
// record's value, and exiftool's validation finds no error (skipped without
// exiftool).
#include "plugin/jpeg_exif_encode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "create/whole_file.h"
#include "exif/exif_reader.h"
#include "frame/veltora.h"
#include "imaging/bitmap.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_io.h"
#include "plugin/exif_writers.h"
#include "tests/create/records.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/oracle.h"

namespace veltora {
namespace {

using nlohmann::json;

TEST(ExifThumbnailTest, SizesPlacesAndArguments) {
  struct {
    int32_t w, h, view;
    ExifThumbnailFit fit;
  } cases[] = {
      {4000, 3000, 1, {160, 120, 0, 0}}, {3000, 4000, 1, {90, 120, 35, 0}},
      {1000, 10, 1, {160, 1, 0, 59}},    {1, 3000, 1, {1, 120, 79, 0}},
      {3000, 4000, 6, {90, 120, 35, 0}}, {3000, 4000, 5, {160, 120, 0, 0}},
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

bool SameValue(const json& got, const json& want) {
  if (got.is_number() && want.is_number()) {
    return std::fabs(got.get<double>() - want.get<double>()) <=
           1e-9 * (1 + std::fabs(want.get<double>()));
  }
  return got == want;
}

class ExiftoolValidationTest : public testing::FileSystemTest {};

TEST_F(ExiftoolValidationTest, FullRecordsReadBackEqualAndValidate) {
  testing::RecordList records;
  testing::AddFullRecords(records);
  HGLOBAL dib = imaging::MakeDib(imaging::testing::MakePhoto(400, 300));
  const std::string out = Path("full.jpg");
  ASSERT_EQ(Encode(dib, out.c_str(), ENCODE_EXIF | ENCODE_EXIF_RECORDS, 90, records.get()), S_OK);
  GlobalFree(dib);
  EXPECT_TRUE(TempLeftovers().empty());
  const auto bytes = testing::ReadBytes(out);
  ASSERT_GT(bytes.size(), 4u);
  // No APP0 in front of (or behind) the EXIF block.
  EXPECT_EQ(std::pair(bytes[2], bytes[3]), std::pair(uint8_t{0xFF}, uint8_t{0xE1}));
  EXPECT_EQ(create::FindJpegMarker(0xFFE0, bytes), -1);
  exif::ExifReader reader(out.c_str(), 1, 0);
  ASSERT_TRUE(reader.IsExifJpeg());
  EXPECT_EQ(reader.Jpeg().sofWidth, 400);
  std::vector<uint8_t> thumbnail;
  ASSERT_GT(reader.GetThumbnail(&thumbnail), 0u);
  EXPECT_EQ(create::FindJpegMarker(0xFFE0, thumbnail), -1);
  EXPECT_EQ(imaging::CheckJpegStream(thumbnail.data(), thumbnail.size()), 1);
  imaging::Bitmap decoded;
  ASSERT_EQ(imaging::LoadEmbeddedPreview(out.c_str(), &decoded, 24), 1);
  EXPECT_EQ(std::pair(decoded.width, decoded.height), std::pair(160, 120));
  EXPECT_EQ(imaging::LoadPictureFile(out.c_str(), &decoded, 24), 1);

  if (!testing::HaveTool("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const auto tags = testing::ExiftoolJson(out, {"-a", "-u"});
  ASSERT_TRUE(tags);
  // Strip offsets as exiftool shows them in a JPEG: from the file's start,
  // 12 bytes before the TIFF header. Tags 40 to 43 of GPS, as this system
  // numbers them, are unknown to exiftool.
  auto expected = json::parse(R"({
    "IFD0": {"ImageWidth": 70000, "ImageHeight": 3000, "BitsPerSample": "8 8 8", "Compression": 1,
      "PhotometricInterpretation": 2, "ImageDescription": "A description", "Make": "Make",
      "Model": "Model X1", "StripOffsets": "20 70020", "Orientation": 6, "SamplesPerPixel": 3,
      "RowsPerStrip": 1500, "StripByteCounts": "700 900", "XResolution": 300, "YResolution": 72,
      "PlanarConfiguration": 1, "ResolutionUnit": 2, "Software": "Veltora tests",
      "ModifyDate": "2024:05:06 07:08:09", "Artist": "", "WhitePoint": "0.313 0.329",
      "PrimaryChromaticities": "0.64 0.65 0.66 0.67 0.68 0.69",
      "YCbCrCoefficients": "0.299 0.587 0.114", "YCbCrSubSampling": "2 1", "YCbCrPositioning": 2,
      "ReferenceBlackWhite": "0 255 0 255 0 255", "Copyright": "(c) nobody"},
    "PrintIM": {"PrintIMVersion": "0300"},
    "ExifIFD": {"ExposureTime": 0.004, "FNumber": 2.8, "ExposureProgram": 2,
      "SpectralSensitivity": "spectral", "ISO": "100 200 400", "ExifVersion": "0231",
      "DateTimeOriginal": "2024:01:02 03:04:05", "CreateDate": "2024:01:02 03:04:06",
      "ComponentsConfiguration": "1 2 3 0", "CompressedBitsPerPixel": 4, "BrightnessValue": -2.5,
      "ExposureCompensation": -0.3333333333, "SubjectDistance": 1.5, "MeteringMode": 5,
      "LightSource": 4, "Flash": 16, "FocalLength": 50, "SubjectArea": "1000 750 200 100",
      "MakerNoteUnknownText": "NOTE1234567", "UserComment": "A comment", "SubSecTime": 1,
      "SubSecTimeOriginal": 12, "SubSecTimeDigitized": 1234, "FlashpixVersion": "0100",
      "ColorSpace": 1, "ExifImageWidth": 70000, "ExifImageHeight": 3000,
      "RelatedSoundFile": "SND00001.WAV", "FlashEnergy": 10, "FocalPlaneXResolution": 4000,
      "FocalPlaneYResolution": 4001, "FocalPlaneResolutionUnit": 3, "SubjectLocation": "100 200",
      "ExposureIndex": 200, "SensingMethod": 2, "FileSource": 3, "SceneType": 1,
      "CFAPattern": "2 2 0 1 1 2", "CustomRendered": 1, "ExposureMode": 1, "WhiteBalance": 1,
      "DigitalZoomRatio": 2, "FocalLengthIn35mmFormat": 75, "SceneCaptureType": 2, "GainControl": 1,
      "Contrast": 2, "Saturation": 1, "Sharpness": 2, "SubjectDistanceRange": 3},
    "InteropIFD": {"InteropIndex": "R98", "InteropVersion": "0100",
      "RelatedImageFileFormat": "Exif JPEG Ver. 2.31", "RelatedImageWidth": 4000,
      "RelatedImageHeight": 3000},
    "GPS": {"GPSVersionID": "2 3 0 0", "GPSLatitudeRef": "N", "GPSLatitude": 48.8584,
      "GPSLongitudeRef": "E", "GPSLongitude": 2.2945, "GPSAltitudeRef": 1, "GPSAltitude": 355,
      "GPSTimeStamp": "13:05:42", "GPSSatellites": 5, "GPSStatus": "A", "GPSMeasureMode": 3,
      "GPSDOP": 1.2, "GPSSpeedRef": "K", "GPSSpeed": 55, "GPSTrackRef": "T", "GPSTrack": 180,
      "GPSImgDirectionRef": "M", "GPSImgDirection": 90, "GPSMapDatum": "WGS-84",
      "GPSDestLatitudeRef": "S", "GPSDestLongitudeRef": "W", "GPSDestBearingRef": "T",
      "GPSDestBearing": 45, "GPSDestDistanceRef": "K", "GPSDestDistance": 1000,
      "GPS_0x0028": "ASCIIGPS", "GPS_0x0029": "ASCIIParis", "GPS_0x002a": "2024:01:02",
      "GPS_0x002b": 1},
    "IFD1": {"ImageWidth": 160, "ImageHeight": 120, "Compression": 6, "ImageDescription": "abc",
      "Orientation": 6}})");
  // Values exiftool converts: APEX speeds and apertures, GPS minutes.
  auto& exif = expected["ExifIFD"];
  exif["ShutterSpeedValue"] = std::pow(2.0, 1.5);
  exif["MaxApertureValue"] = std::pow(2.0, 1.5);
  exif["ApertureValue"] = std::pow(2.0, 2.97 / 2);
  expected["GPS"]["GPSDestLatitude"] = 33 + 52 / 60.0;
  expected["GPS"]["GPSDestLongitude"] = 70 + 40 / 60.0;
  for (const auto& [group, values] : expected.items()) {
    for (const auto& [name, want] : values.items()) {
      const std::string key = group + ":" + name;
      ASSERT_TRUE(tags->contains(key)) << key;
      EXPECT_TRUE(SameValue((*tags)[key], want)) << key << ": " << (*tags)[key] << " != " << want;
    }
  }
  EXPECT_TRUE(tags->contains("IFD1:ThumbnailImage"));  // found where IFD1 says it lies

  const auto problems = testing::ExiftoolValidate(out);
  ASSERT_TRUE(problems);
  for (const std::string& line : *problems) EXPECT_FALSE(line.starts_with("Error")) << line;
}

}  // namespace
}  // namespace veltora
