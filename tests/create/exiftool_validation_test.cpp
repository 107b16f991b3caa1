// Encode with ENCODE_EXIF and fully populated records, as a host calls it:
// the block follows the SOI and carries a thumbnail; and as an independent
// reader sees it, every attribute reads back in exiftool with the record's
// value, and exiftool's validation finds no error (skipped without exiftool).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "create/whole_file.h"
#include "exif/exif_reader.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_io.h"
#include "plugin/veltora.h"
#include "tests/create/records.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/oracle.h"

namespace veltora {
namespace {

using nlohmann::json;

bool SameValue(const json& got, const json& want) {
  if (got.is_number() && want.is_number()) {
    return std::fabs(got.get<double>() - want.get<double>()) <= 1e-9 * (1 + std::fabs(want.get<double>()));
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
  EXPECT_EQ(bytes[2], 0xFF);
  EXPECT_EQ(bytes[3], 0xE1);  // no APP0 in front of (or behind) the EXIF block
  EXPECT_EQ(create::FindJpegMarker(0xFFE0, bytes), -1);
  exif::ExifReader reader(out.c_str(), 1, 0);
  ASSERT_TRUE(reader.IsExifJpeg());
  EXPECT_EQ(reader.sofWidth, 400);
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
  // 12 bytes before the TIFF header.
  const std::vector<std::pair<std::string, json>> expected = {
      {"IFD0:ImageWidth", 70000}, {"IFD0:ImageHeight", 3000}, {"IFD0:BitsPerSample", "8 8 8"},
      {"IFD0:Compression", 1}, {"IFD0:PhotometricInterpretation", 2},
      {"IFD0:ImageDescription", "A description"}, {"IFD0:Make", "Make"},
      {"IFD0:Model", "Model X1"}, {"IFD0:StripOffsets", "20 70020"}, {"IFD0:Orientation", 6},
      {"IFD0:SamplesPerPixel", 3}, {"IFD0:RowsPerStrip", 1500},
      {"IFD0:StripByteCounts", "700 900"}, {"IFD0:XResolution", 300}, {"IFD0:YResolution", 72},
      {"IFD0:PlanarConfiguration", 1}, {"IFD0:ResolutionUnit", 2},
      {"IFD0:Software", "Veltora tests"}, {"IFD0:ModifyDate", "2024:05:06 07:08:09"},
      {"IFD0:Artist", ""}, {"IFD0:WhitePoint", "0.313 0.329"},
      {"IFD0:PrimaryChromaticities", "0.64 0.65 0.66 0.67 0.68 0.69"},
      {"IFD0:YCbCrCoefficients", "0.299 0.587 0.114"}, {"IFD0:YCbCrSubSampling", "2 1"},
      {"IFD0:YCbCrPositioning", 2}, {"IFD0:ReferenceBlackWhite", "0 255 0 255 0 255"},
      {"IFD0:Copyright", "(c) nobody"}, {"PrintIM:PrintIMVersion", "0300"},
      {"ExifIFD:ExposureTime", 0.004}, {"ExifIFD:FNumber", 2.8}, {"ExifIFD:ExposureProgram", 2},
      {"ExifIFD:SpectralSensitivity", "spectral"}, {"ExifIFD:ISO", "100 200 400"},
      {"ExifIFD:ExifVersion", "0231"}, {"ExifIFD:DateTimeOriginal", "2024:01:02 03:04:05"},
      {"ExifIFD:CreateDate", "2024:01:02 03:04:06"}, {"ExifIFD:ComponentsConfiguration", "1 2 3 0"},
      {"ExifIFD:CompressedBitsPerPixel", 4}, {"ExifIFD:ShutterSpeedValue", std::pow(2.0, 1.5)},
      {"ExifIFD:ApertureValue", std::pow(2.0, 2.97 / 2)}, {"ExifIFD:BrightnessValue", -2.5},
      {"ExifIFD:ExposureCompensation", -0.3333333333}, {"ExifIFD:MaxApertureValue", std::pow(2.0, 1.5)},
      {"ExifIFD:SubjectDistance", 1.5}, {"ExifIFD:MeteringMode", 5}, {"ExifIFD:LightSource", 4},
      {"ExifIFD:Flash", 16}, {"ExifIFD:FocalLength", 50}, {"ExifIFD:SubjectArea", "1000 750 200 100"},
      {"ExifIFD:MakerNoteUnknownText", "NOTE1234567"}, {"ExifIFD:UserComment", "A comment"},
      {"ExifIFD:SubSecTime", 1}, {"ExifIFD:SubSecTimeOriginal", 12},
      {"ExifIFD:SubSecTimeDigitized", 1234}, {"ExifIFD:FlashpixVersion", "0100"},
      {"ExifIFD:ColorSpace", 1}, {"ExifIFD:ExifImageWidth", 70000},
      {"ExifIFD:ExifImageHeight", 3000}, {"ExifIFD:RelatedSoundFile", "SND00001.WAV"},
      {"ExifIFD:FlashEnergy", 10}, {"ExifIFD:FocalPlaneXResolution", 4000},
      {"ExifIFD:FocalPlaneYResolution", 4001}, {"ExifIFD:FocalPlaneResolutionUnit", 3},
      {"ExifIFD:SubjectLocation", "100 200"}, {"ExifIFD:ExposureIndex", 200},
      {"ExifIFD:SensingMethod", 2}, {"ExifIFD:FileSource", 3}, {"ExifIFD:SceneType", 1},
      {"ExifIFD:CFAPattern", "2 2 0 1 1 2"}, {"ExifIFD:CustomRendered", 1},
      {"ExifIFD:ExposureMode", 1}, {"ExifIFD:WhiteBalance", 1}, {"ExifIFD:DigitalZoomRatio", 2},
      {"ExifIFD:FocalLengthIn35mmFormat", 75}, {"ExifIFD:SceneCaptureType", 2},
      {"ExifIFD:GainControl", 1}, {"ExifIFD:Contrast", 2}, {"ExifIFD:Saturation", 1},
      {"ExifIFD:Sharpness", 2}, {"ExifIFD:SubjectDistanceRange", 3},
      {"InteropIFD:InteropIndex", "R98"}, {"InteropIFD:InteropVersion", "0100"},
      {"InteropIFD:RelatedImageFileFormat", "Exif JPEG Ver. 2.31"},
      {"InteropIFD:RelatedImageWidth", 4000}, {"InteropIFD:RelatedImageHeight", 3000},
      {"GPS:GPSVersionID", "2 3 0 0"}, {"GPS:GPSLatitudeRef", "N"}, {"GPS:GPSLatitude", 48.8584},
      {"GPS:GPSLongitudeRef", "E"}, {"GPS:GPSLongitude", 2.2945}, {"GPS:GPSAltitudeRef", 1},
      {"GPS:GPSAltitude", 355}, {"GPS:GPSTimeStamp", "13:05:42"}, {"GPS:GPSSatellites", 5},
      {"GPS:GPSStatus", "A"}, {"GPS:GPSMeasureMode", 3}, {"GPS:GPSDOP", 1.2},
      {"GPS:GPSSpeedRef", "K"}, {"GPS:GPSSpeed", 55}, {"GPS:GPSTrackRef", "T"},
      {"GPS:GPSTrack", 180}, {"GPS:GPSImgDirectionRef", "M"}, {"GPS:GPSImgDirection", 90},
      {"GPS:GPSMapDatum", "WGS-84"}, {"GPS:GPSDestLatitudeRef", "S"},
      {"GPS:GPSDestLatitude", 33 + 52 / 60.0}, {"GPS:GPSDestLongitudeRef", "W"},
      {"GPS:GPSDestLongitude", 70 + 40 / 60.0}, {"GPS:GPSDestBearingRef", "T"},
      {"GPS:GPSDestBearing", 45}, {"GPS:GPSDestDistanceRef", "K"}, {"GPS:GPSDestDistance", 1000},
      // Tags 40 to 43, as this system numbers them, are unknown to exiftool.
      {"GPS:GPS_0x0028", "ASCIIGPS"}, {"GPS:GPS_0x0029", "ASCIIParis"},
      {"GPS:GPS_0x002a", "2024:01:02"}, {"GPS:GPS_0x002b", 1},
      {"IFD1:ImageWidth", 160}, {"IFD1:ImageHeight", 120}, {"IFD1:Compression", 6},
      {"IFD1:ImageDescription", "abc"}, {"IFD1:Orientation", 6},
  };
  for (const auto& [key, want] : expected) {
    ASSERT_TRUE(tags->contains(key)) << key;
    EXPECT_TRUE(SameValue((*tags)[key], want)) << key << ": " << (*tags)[key] << " != " << want;
  }
  EXPECT_TRUE(tags->contains("IFD1:ThumbnailImage"));  // found where IFD1 says it lies

  const auto problems = testing::ExiftoolValidate(out);
  ASSERT_TRUE(problems);
  for (const std::string& line : *problems) EXPECT_FALSE(line.starts_with("Error")) << line;
}

}  // namespace
}  // namespace veltora
