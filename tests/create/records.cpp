#include "tests/create/records.h"

#include <cstring>

namespace veltora::testing {
namespace {

void Text(CString* s, const char* text) { CStringSet(s, text); }
// The literal's bytes, inner NULs included, without its own final NUL.
template <size_t N>
void Blob(HostBlob* b, const char (&bytes)[N]) {
  HostBlobSet(b, bytes, N - 1);
}

void FillTiff(TiffInfo* t, bool thumbnail) {
  t->mask1 = 0x3FFFFFFFu;  // every attribute bit, not the two "read" bits
  t->ImageWidth = thumbnail ? 160 : 70000;
  t->ImageWidthType = thumbnail ? 3 : 4;
  t->ImageLength = thumbnail ? 120 : 3000;
  t->ImageLengthType = 3;
  for (uint16_t& b : t->BitsPerSample) b = 8;
  t->Compression = thumbnail ? 6 : 1;
  t->PhotometricInterpretation = 2;
  t->Orientation = 6;
  t->SamplesPerPixel = 3;
  t->PlanarConfiguration = 1;
  t->YCbCrSubSampling[0] = 2;
  t->YCbCrSubSampling[1] = 1;
  t->YCbCrPositioning = 2;
  t->XResolution = {300, 1};
  t->YResolution = {72, 1};
  t->ResolutionUnit = 2;
  for (uint32_t v : {8u, 70008u}) ArrayAdd(&t->StripOffsets, v);
  t->StripOffsetsType = 4;
  t->RowsPerStrip = 1500;
  t->RowsPerStripType = 3;
  for (uint32_t v : {700u, 900u}) ArrayAdd(&t->StripByteCounts, v);
  t->StripByteCountsType = 3;
  for (size_t i = 0; i < 768; ++i) t->TransferFunction[i] = static_cast<uint16_t>(i * 85);
  t->WhitePoint[0] = {313000, 1000000};
  t->WhitePoint[1] = {329, 1000};
  for (uint32_t i = 0; i < 6; ++i) t->PrimaryChromaticities[i] = {64 + i, 100};
  t->YCbCrCoefficients[0] = {299, 1000};
  t->YCbCrCoefficients[1] = {587, 1000};
  t->YCbCrCoefficients[2] = {114, 1000};
  for (uint32_t i = 0; i < 6; ++i) t->ReferenceBlackWhite[i] = {i % 2 == 0 ? 0u : 255u, 1};
  Text(&t->DateTime, "2024:05:06 07:08:09");
  Text(&t->ImageDescription, thumbnail ? "abc" : "A description");
  Text(&t->Make, "Make");
  Text(&t->Model, "Model X1");
  Text(&t->Software, "Veltora tests");
  Text(&t->Artist, "");
  Text(&t->Copyright, "(c) nobody");
  if (!thumbnail) {
    t->mask2 = TIFF_M2_PRINT_IMAGE_MATCHING;
    Blob(&t->PrintImageMatching, "PrintIM\0000300\0\0\0\0");
  }
}

void FillExif(ExifInfo* e) {
  e->mask_l = 0xFFFFFFFFu;
  e->mask_h = 0x00FFFFFFu;
  e->interop_mask = 0x1F;
  std::memcpy(e->ExifVersion, "0231", 4);
  std::memcpy(e->FlashpixVersion, "0100", 4);
  e->ColorSpace = 1;
  const uint8_t components[4] = {1, 2, 3, 0};
  std::memcpy(e->ComponentsConfiguration, components, 4);
  e->CompressedBitsPerPixel = {4, 1};
  e->PixelXDimension = 70000;
  e->PixelXDimensionType = 4;
  e->PixelYDimension = 3000;
  e->PixelYDimensionType = 3;
  Blob(&e->MakerNote, "NOTE1234567");
  Text(&e->RelatedSoundFile, "SND00001.WAV");
  Text(&e->DateTimeOriginal, "2024:01:02 03:04:05");
  Text(&e->DateTimeDigitized, "2024:01:02 03:04:06");
  Text(&e->SubSecTime, "1");
  Text(&e->SubSecTimeOriginal, "12");
  Text(&e->SubSecTimeDigitized, "1234");
  e->ExposureTime = {1, 250};
  e->FNumber = {28, 10};
  e->ExposureProgram = 2;
  Text(&e->SpectralSensitivity, "spectral");
  for (uint16_t v : {100, 200, 400}) ArrayAdd(&e->ISOSpeedRatings, v);
  Blob(&e->OECF, "\x01\x00\x01\x00" "AB");
  e->ShutterSpeedValue = {-3, 2};
  e->ApertureValue = {297, 100};
  e->BrightnessValue = {-25, 10};
  e->ExposureBiasValue = {-1, 3};
  e->MaxApertureValue = {3, 1};
  e->SubjectDistance = {150, 100};
  e->MeteringMode = 5;
  e->LightSource = 4;
  e->Flash = 16;
  e->FocalLength = {50, 1};
  e->FlashEnergy = {10, 1};
  Blob(&e->SpatialFrequencyResponse, "\x02\x00\x01\x00" "XY");
  e->FocalPlaneXResolution = {4000, 1};
  e->FocalPlaneYResolution = {4001, 1};
  e->FocalPlaneResolutionUnit = 3;
  e->SubjectLocation[0] = 100;
  e->SubjectLocation[1] = 200;
  e->ExposureIndex = {200, 1};
  e->SensingMethod = 2;
  e->FileSource = 3;
  e->SceneType = 1;
  Blob(&e->CFAPattern, "\x02\x00\x02\x00\x00\x01\x01\x02");
  Text(&e->InteroperabilityIndex, "R98");
  std::memcpy(e->InteroperabilityVersion, "0100", 4);
  Text(&e->RelatedImageFileFormat, "Exif JPEG Ver. 2.31");
  e->RelatedImageWidth = 4000;
  e->RelatedImageLength = 3000;
  Blob(&e->UserComment, "ASCII\0\0\0A comment");
  e->CustomRendered = 1;
  e->ExposureMode = 1;
  e->WhiteBalance = 1;
  e->DigitalZoomRatio = {2, 1};
  e->FocalLengthIn35mmFilm = 75;
  e->SceneCaptureType = 2;
  e->GainControl = 1;
  e->Contrast = 2;
  e->Saturation = 1;
  e->Sharpness = 2;
  Blob(&e->DeviceSettingDescription, "\x00\x00\x00\x00" "dev");
  e->SubjectDistanceRange = 3;
  for (uint16_t v : {1000, 750, 200, 100}) ArrayAdd(&e->SubjectArea, v);
}

void FillGps(GpsInfo* g) {
  g->mask = 0x7FFFFFFFu;
  const uint8_t version[4] = {2, 3, 0, 0};
  std::memcpy(g->GPSVersionID, version, 4);
  Text(&g->GPSLatitudeRef, "N");
  g->GPSLatitude[0] = {48, 1};
  g->GPSLatitude[1] = {51, 1};
  g->GPSLatitude[2] = {3024, 100};
  Text(&g->GPSLongitudeRef, "E");
  g->GPSLongitude[0] = {2, 1};
  g->GPSLongitude[1] = {17, 1};
  g->GPSLongitude[2] = {4020, 100};
  g->GPSAltitudeRef = 1;
  g->GPSAltitude = {3550, 10};
  g->GPSTimeStamp[0] = {13, 1};
  g->GPSTimeStamp[1] = {5, 1};
  g->GPSTimeStamp[2] = {42, 1};
  Text(&g->GPSSatellites, "5");
  Text(&g->GPSStatus, "A");
  Text(&g->GPSMeasureMode, "3");
  g->GPSDOP = {12, 10};
  Text(&g->GPSSpeedRef, "K");
  g->GPSSpeed = {55, 1};
  Text(&g->GPSTrackRef, "T");
  g->GPSTrack = {180, 1};
  Text(&g->GPSImgDirectionRef, "M");
  g->GPSImgDirection = {90, 1};
  Text(&g->GPSMapDatum, "WGS-84");
  Text(&g->GPSDestLatitudeRef, "S");
  g->GPSDestLatitude[0] = {33, 1};
  g->GPSDestLatitude[1] = {52, 1};
  g->GPSDestLatitude[2] = {0, 1};
  Text(&g->GPSDestLongitudeRef, "W");
  g->GPSDestLongitude[0] = {70, 1};
  g->GPSDestLongitude[1] = {40, 1};
  g->GPSDestLongitude[2] = {0, 1};
  Text(&g->GPSDestBearingRef, "T");
  g->GPSDestBearing = {45, 1};
  Text(&g->GPSDestDistanceRef, "K");
  g->GPSDestDistance = {1000, 1};
  Blob(&g->GPSProcessingMethod, "ASCII\0\0\0GPS");
  Blob(&g->GPSAreaInformation, "ASCII\0\0\0Paris");
  Text(&g->GPSDateStamp, "2024:01:02");
  g->GPSDifferential = 1;
}

}  // namespace

void AddFullRecords(RecordList& list) {
  FillTiff(list.Add<TiffInfo>(0x00010000u), false);
  FillExif(list.Add<ExifInfo>(0x00040000u));
  FillGps(list.Add<GpsInfo>(0x00080000u));
  FillTiff(list.Add<TiffInfo>(0x00020000u), true);
}

}  // namespace veltora::testing
