// The host-boundary layout, checked at compile time. Offsets and sizes are
// those the hosts were built against (32-bit model); under a 64-bit model the
// pointer-free prefix must match and the natural layout is pinned, so that a
// change to any record is a deliberate one.
//
// Compiled by check_abi.sh with and without -m32 (-fsyntax-only); includes
// nothing but the chief header, as a host would.
#include "plugin/veltora.h"

#include <stddef.h>

namespace {

constexpr bool kIlp32 = sizeof(void*) == 4;
constexpr bool kLp64 = sizeof(void*) == 8;
static_assert(kIlp32 || kLp64, "only the 32-bit and the 64-bit models are laid out");

#define AT32(T, member, off) \
  static_assert(!kIlp32 || offsetof(T, member) == (off), #T "::" #member " must be at " #off)
#define SIZE32(T, n) static_assert(!kIlp32 || sizeof(T) == (n), "sizeof(" #T ") must be " #n)
#define AT(T, member, off) \
  static_assert(offsetof(T, member) == (off), #T "::" #member " must be at " #off " in every model")
#define SIZE(T, n) static_assert(sizeof(T) == (n), "sizeof(" #T ") must be " #n " in every model")
#define AT64(T, member, off) \
  static_assert(!kLp64 || offsetof(T, member) == (off), #T "::" #member " must be at " #off)
#define SIZE64(T, n) static_assert(!kLp64 || sizeof(T) == (n), "sizeof(" #T ") must be " #n)

// ---- Pointer-free types: one layout in every model ------------------------------
SIZE(SYSTEMTIME, 16);
AT(SYSTEMTIME, wYear, 0);
AT(SYSTEMTIME, wMonth, 2);
AT(SYSTEMTIME, wDayOfWeek, 4);
AT(SYSTEMTIME, wDay, 6);
AT(SYSTEMTIME, wHour, 8);
AT(SYSTEMTIME, wMinute, 10);
AT(SYSTEMTIME, wSecond, 12);
AT(SYSTEMTIME, wMilliseconds, 14);

SIZE(RECT, 16);
AT(RECT, left, 0);
AT(RECT, top, 4);
AT(RECT, right, 8);
AT(RECT, bottom, 12);

SIZE(BITMAPINFOHEADER, 40);
AT(BITMAPINFOHEADER, biSize, 0);
AT(BITMAPINFOHEADER, biWidth, 4);
AT(BITMAPINFOHEADER, biHeight, 8);
AT(BITMAPINFOHEADER, biPlanes, 12);
AT(BITMAPINFOHEADER, biBitCount, 14);
AT(BITMAPINFOHEADER, biCompression, 16);
AT(BITMAPINFOHEADER, biSizeImage, 20);
AT(BITMAPINFOHEADER, biXPelsPerMeter, 24);
AT(BITMAPINFOHEADER, biYPelsPerMeter, 28);
AT(BITMAPINFOHEADER, biClrUsed, 32);
AT(BITMAPINFOHEADER, biClrImportant, 36);
SIZE(RGBQUAD, 4);
AT(RGBQUAD, rgbBlue, 0);
AT(RGBQUAD, rgbGreen, 1);
AT(RGBQUAD, rgbRed, 2);
AT(RGBQUAD, rgbReserved, 3);
AT(BITMAPINFO, bmiColors, 40);
static_assert(BI_BITFIELDS == 3);

SIZE(HostRational, 8);
SIZE(HostSRational, 8);

// The text's length word lies 8 bytes before the first character in every
// model: the header is three int32 words directly in front of the characters.
SIZE(CStringData, 12);
AT(CStringData, length, 4);
static_assert(sizeof(CStringData) - offsetof(CStringData, length) == 8);

SIZE(ImageSummary, 148);
AT(ImageSummary, width, 0);
AT(ImageSummary, height, 4);
AT(ImageSummary, bits_per_pixel, 8);
AT(ImageSummary, reserved_12, 12);
AT(ImageSummary, reserved_16, 16);
AT(ImageSummary, format_name, 20);
static_assert(sizeof(ImageSummary::format_name) == 128);

// Field widths the records fix.
static_assert(sizeof(ExifTagSet::ExifVersion) == 4);
static_assert(sizeof(GpsTagSet::GPSLatitude) == 24);
static_assert(sizeof(GpsTagSet::GPSLatitudeRef) == 2);
static_assert(sizeof(MakerTagSet::value_0002) == 4 && sizeof(MakerTagSet::value_0026) == 4 &&
              sizeof(MakerTagSet::value_002B) == 4);
static_assert(sizeof(TiffInfo::BitsPerSample) == 6);
static_assert(sizeof(TiffInfo::TransferFunction) == 1536);
static_assert(sizeof(TiffInfo::WhitePoint) == 16 && sizeof(TiffInfo::PrimaryChromaticities) == 48 &&
              sizeof(TiffInfo::YCbCrCoefficients) == 24 &&
              sizeof(TiffInfo::ReferenceBlackWhite) == 48);
static_assert(sizeof(ExifInfo::ComponentsConfiguration) == 4);
static_assert(sizeof(ExifInfo::SubjectLocation) == 4);
static_assert(sizeof(GpsInfo::GPSDestLongitude) == 24);

// TiffInfo up to its first array object holds no pointer.
AT(TiffInfo, XResolution, 36);
AT(TiffInfo, ResolutionUnit, 52);
AT(TiffInfo, StripOffsets, 56);

// ---- 32-bit model ------------------------------------------------------------------
SIZE32(HGLOBAL, 4);
SIZE32(HDC, 4);
SIZE32(CString, 4);
SIZE32(HostBlob, 8);
AT32(HostBlob, size, 4);

// The three arrays: class word, elements, count, capacity, growth step.
SIZE32(CWordArray, 20);
SIZE32(CDWordArray, 20);
SIZE32(CByteArray, 20);
AT32(CWordArray, class_word, 0);
AT32(CWordArray, elements, 4);
AT32(CWordArray, count, 8);
AT32(CWordArray, capacity, 12);
AT32(CWordArray, grow_by, 16);
AT32(CDWordArray, elements, 4);
AT32(CDWordArray, count, 8);
AT32(CByteArray, elements, 4);
AT32(CByteArray, count, 8);

SIZE32(ImageInfoList, 12);
AT32(ImageInfoList, allocator_reserved, 0);
AT32(ImageInfoList, sentinel, 4);
AT32(ImageInfoList, count, 8);
SIZE32(ImageInfoNode, 16);
AT32(ImageInfoNode, next, 0);
AT32(ImageInfoNode, prev, 4);
AT32(ImageInfoNode, type, 8);
AT32(ImageInfoNode, record, 12);

// GetStillImageInfo's single answer overlays the list's first two words.
AT32(StillImageInfoOut, single.type, 0);
AT32(StillImageInfoOut, single.record, 4);
AT(StillImageInfoOut, single.record, offsetof(ImageInfoList, sentinel));
SIZE32(StillImageInfoOut, 12);

SIZE32(EncodeExifData, 8);
AT32(EncodeExifData, gps, 4);

SIZE32(GpsTagSet, 164);
SIZE32(ImageTextInfo, 36);
SIZE32(TiffInfo, 1840);
SIZE32(ExifInfo, 360);
SIZE32(GpsInfo, 272);
SIZE32(ExifTagSet, 108);
SIZE32(MakerTagSet, 92);

// ExifTagSet
AT32(ExifTagSet, tags, 0);
AT32(ExifTagSet, Orientation, 20);
AT32(ExifTagSet, Make, 24);
AT32(ExifTagSet, Model, 28);
AT32(ExifTagSet, ExifVersion, 32);
AT32(ExifTagSet, DateTimeOriginal, 36);
AT32(ExifTagSet, ExposureTime, 52);
AT32(ExifTagSet, FNumber, 60);
AT32(ExifTagSet, ISOSpeedRatings, 68);
AT32(ExifTagSet, ShutterSpeedValue, 72);
AT32(ExifTagSet, ApertureValue, 80);
AT32(ExifTagSet, ExposureBiasValue, 88);
AT32(ExifTagSet, Flash, 96);
AT32(ExifTagSet, ExposureMode, 98);
AT32(ExifTagSet, WhiteBalance, 100);
AT32(ExifTagSet, SceneCaptureType, 102);
AT32(ExifTagSet, SubjectDistanceRange, 104);
AT32(ExifTagSet, reserved_22, 22);
AT32(ExifTagSet, reserved_70, 70);
AT32(ExifTagSet, reserved_106, 106);

// MakerTagSet
AT32(MakerTagSet, tags, 0);
AT32(MakerTagSet, signature, 20);
AT32(MakerTagSet, value_0001, 24);
AT32(MakerTagSet, value_0002, 26);
AT32(MakerTagSet, value_0003, 30);
AT32(MakerTagSet, value_0007, 32);
AT32(MakerTagSet, value_000F, 34);
AT32(MakerTagSet, value_001A, 36);
AT32(MakerTagSet, value_001C, 38);
AT32(MakerTagSet, value_001F, 40);
AT32(MakerTagSet, value_0020, 42);
AT32(MakerTagSet, present_0021, 44);
AT32(MakerTagSet, value_0022, 48);
AT32(MakerTagSet, value_0026, 50);
AT32(MakerTagSet, value_0027, 54);
AT32(MakerTagSet, value_0028, 56);
AT32(MakerTagSet, value_002A, 58);
AT32(MakerTagSet, value_002B, 60);
AT32(MakerTagSet, value_002D, 64);
AT32(MakerTagSet, value_0032, 66);
AT32(MakerTagSet, date_0033, 68);
AT32(MakerTagSet, present_0E00, 84);
AT32(MakerTagSet, present_4950, 88);

// GpsTagSet
AT32(GpsTagSet, tags, 0);
AT32(GpsTagSet, GPSVersionID, 20);
AT32(GpsTagSet, GPSLatitudeRef, 24);
AT32(GpsTagSet, GPSLatitude, 28);
AT32(GpsTagSet, GPSLongitudeRef, 52);
AT32(GpsTagSet, GPSLongitude, 56);
AT32(GpsTagSet, GPSAltitudeRef, 80);
AT32(GpsTagSet, GPSAltitude, 84);
AT32(GpsTagSet, GPSTimeStamp, 92);
AT32(GpsTagSet, GPSMapDatum, 116);
AT32(GpsTagSet, GPSProcessingMethod, 120);
AT32(GpsTagSet, GPSProcessingMethod.elements, 124);
AT32(GpsTagSet, GPSProcessingMethod.count, 128);
AT32(GpsTagSet, GPSAreaInformation, 140);
AT32(GpsTagSet, GPSAreaInformation.elements, 144);
AT32(GpsTagSet, GPSAreaInformation.count, 148);
AT32(GpsTagSet, GPSDateStamp, 160);
AT32(GpsTagSet, reserved_26, 26);
AT32(GpsTagSet, reserved_54, 54);
AT32(GpsTagSet, reserved_81, 81);

// ImageTextInfo
AT32(ImageTextInfo, version, 0);
AT32(ImageTextInfo, ImageDescription, 4);
AT32(ImageTextInfo, Make, 8);
AT32(ImageTextInfo, Model, 12);
AT32(ImageTextInfo, Software, 16);
AT32(ImageTextInfo, capture_time, 20);

// TiffInfo
AT32(TiffInfo, ImageWidth, 0);
AT32(TiffInfo, ImageWidthType, 4);
AT32(TiffInfo, ImageLength, 8);
AT32(TiffInfo, ImageLengthType, 12);
AT32(TiffInfo, BitsPerSample, 14);
AT32(TiffInfo, Compression, 20);
AT32(TiffInfo, PhotometricInterpretation, 22);
AT32(TiffInfo, ImageDescription, 1796);
AT32(TiffInfo, Make, 1800);
AT32(TiffInfo, Model, 1804);
AT32(TiffInfo, StripOffsets, 56);
AT32(TiffInfo, StripOffsetsType, 76);
AT32(TiffInfo, Orientation, 24);
AT32(TiffInfo, SamplesPerPixel, 26);
AT32(TiffInfo, RowsPerStrip, 80);
AT32(TiffInfo, RowsPerStripType, 84);
AT32(TiffInfo, StripByteCounts, 88);
AT32(TiffInfo, StripByteCountsType, 108);
AT32(TiffInfo, XResolution, 36);
AT32(TiffInfo, YResolution, 44);
AT32(TiffInfo, PlanarConfiguration, 28);
AT32(TiffInfo, ResolutionUnit, 52);
AT32(TiffInfo, TransferFunction, 120);
AT32(TiffInfo, Software, 1808);
AT32(TiffInfo, DateTime, 1792);
AT32(TiffInfo, Artist, 1812);
AT32(TiffInfo, WhitePoint, 1656);
AT32(TiffInfo, PrimaryChromaticities, 1672);
AT32(TiffInfo, JPEGInterchangeFormat, 112);
AT32(TiffInfo, JPEGInterchangeFormatLength, 116);
AT32(TiffInfo, YCbCrCoefficients, 1720);
AT32(TiffInfo, YCbCrSubSampling, 30);
AT32(TiffInfo, YCbCrPositioning, 34);
AT32(TiffInfo, ReferenceBlackWhite, 1744);
AT32(TiffInfo, Copyright, 1816);
AT32(TiffInfo, PrintImageMatching.data, 1820);
AT32(TiffInfo, PrintImageMatching.size, 1824);
AT32(TiffInfo, reserved_6, 6);
AT32(TiffInfo, reserved_54, 54);
AT32(TiffInfo, reserved_78, 78);
AT32(TiffInfo, reserved_86, 86);
AT32(TiffInfo, reserved_110, 110);
AT32(TiffInfo, reserved_1828, 1828);
AT32(TiffInfo, mask1, 1832);
AT32(TiffInfo, mask2, 1836);

// ExifInfo
AT32(ExifInfo, ExposureTime, 72);
AT32(ExifInfo, FNumber, 80);
AT32(ExifInfo, ExposureProgram, 88);
AT32(ExifInfo, SpectralSensitivity, 92);
AT32(ExifInfo, ISOSpeedRatings, 96);
AT32(ExifInfo, OECF.data, 116);
AT32(ExifInfo, OECF.size, 120);
AT32(ExifInfo, ExifVersion, 0);
AT32(ExifInfo, DateTimeOriginal, 52);
AT32(ExifInfo, DateTimeDigitized, 56);
AT32(ExifInfo, ComponentsConfiguration, 10);
AT32(ExifInfo, CompressedBitsPerPixel, 16);
AT32(ExifInfo, ShutterSpeedValue, 124);
AT32(ExifInfo, ApertureValue, 132);
AT32(ExifInfo, BrightnessValue, 140);
AT32(ExifInfo, ExposureBiasValue, 148);
AT32(ExifInfo, MaxApertureValue, 156);
AT32(ExifInfo, SubjectDistance, 164);
AT32(ExifInfo, MeteringMode, 172);
AT32(ExifInfo, LightSource, 174);
AT32(ExifInfo, Flash, 176);
AT32(ExifInfo, FocalLength, 180);
AT32(ExifInfo, SubjectArea, 336);
AT32(ExifInfo, MakerNote.data, 40);
AT32(ExifInfo, MakerNote.size, 44);
AT32(ExifInfo, UserComment.data, 280);
AT32(ExifInfo, UserComment.size, 284);
AT32(ExifInfo, SubSecTime, 60);
AT32(ExifInfo, SubSecTimeOriginal, 64);
AT32(ExifInfo, SubSecTimeDigitized, 68);
AT32(ExifInfo, FlashpixVersion, 4);
AT32(ExifInfo, ColorSpace, 8);
AT32(ExifInfo, PixelXDimension, 24);
AT32(ExifInfo, PixelXDimensionType, 28);
AT32(ExifInfo, PixelYDimension, 32);
AT32(ExifInfo, PixelYDimensionType, 36);
AT32(ExifInfo, RelatedSoundFile, 48);
AT32(ExifInfo, FlashEnergy, 188);
AT32(ExifInfo, SpatialFrequencyResponse.data, 196);
AT32(ExifInfo, SpatialFrequencyResponse.size, 200);
AT32(ExifInfo, FocalPlaneXResolution, 204);
AT32(ExifInfo, FocalPlaneYResolution, 212);
AT32(ExifInfo, FocalPlaneResolutionUnit, 220);
AT32(ExifInfo, SubjectLocation, 222);
AT32(ExifInfo, ExposureIndex, 228);
AT32(ExifInfo, SensingMethod, 236);
AT32(ExifInfo, FileSource, 238);
AT32(ExifInfo, SceneType, 239);
AT32(ExifInfo, CFAPattern.data, 240);
AT32(ExifInfo, CFAPattern.size, 244);
AT32(ExifInfo, CustomRendered, 296);
AT32(ExifInfo, ExposureMode, 298);
AT32(ExifInfo, WhiteBalance, 300);
AT32(ExifInfo, DigitalZoomRatio, 304);
AT32(ExifInfo, FocalLengthIn35mmFilm, 312);
AT32(ExifInfo, SceneCaptureType, 314);
AT32(ExifInfo, GainControl, 316);
AT32(ExifInfo, Contrast, 318);
AT32(ExifInfo, Saturation, 320);
AT32(ExifInfo, Sharpness, 322);
AT32(ExifInfo, DeviceSettingDescription.data, 324);
AT32(ExifInfo, DeviceSettingDescription.size, 328);
AT32(ExifInfo, SubjectDistanceRange, 332);
AT32(ExifInfo, InteroperabilityIndex, 248);
AT32(ExifInfo, InteroperabilityVersion, 252);
AT32(ExifInfo, RelatedImageFileFormat, 256);
AT32(ExifInfo, RelatedImageWidth, 260);
AT32(ExifInfo, RelatedImageLength, 264);
AT32(ExifInfo, reserved_14, 14);
AT32(ExifInfo, reserved_30, 30);
AT32(ExifInfo, reserved_38, 38);
AT32(ExifInfo, reserved_90, 90);
AT32(ExifInfo, reserved_178, 178);
AT32(ExifInfo, reserved_226, 226);
AT32(ExifInfo, reserved_268, 268);
AT32(ExifInfo, reserved_276, 276);
AT32(ExifInfo, reserved_302, 302);
AT32(ExifInfo, reserved_334, 334);
AT32(ExifInfo, reserved_356, 356);
AT32(ExifInfo, interop_mask, 272);
AT32(ExifInfo, mask_l, 288);
AT32(ExifInfo, mask_h, 292);

// GpsInfo
AT32(GpsInfo, GPSVersionID, 0);
AT32(GpsInfo, GPSLatitudeRef, 4);
AT32(GpsInfo, GPSLatitude, 8);
AT32(GpsInfo, GPSLongitudeRef, 32);
AT32(GpsInfo, GPSLongitude, 36);
AT32(GpsInfo, GPSAltitudeRef, 60);
AT32(GpsInfo, GPSAltitude, 64);
AT32(GpsInfo, GPSTimeStamp, 72);
AT32(GpsInfo, GPSSatellites, 96);
AT32(GpsInfo, GPSStatus, 100);
AT32(GpsInfo, GPSMeasureMode, 104);
AT32(GpsInfo, GPSDOP, 108);
AT32(GpsInfo, GPSSpeedRef, 116);
AT32(GpsInfo, GPSSpeed, 120);
AT32(GpsInfo, GPSTrackRef, 128);
AT32(GpsInfo, GPSTrack, 132);
AT32(GpsInfo, GPSImgDirectionRef, 140);
AT32(GpsInfo, GPSImgDirection, 144);
AT32(GpsInfo, GPSMapDatum, 152);
AT32(GpsInfo, GPSDestLatitudeRef, 156);
AT32(GpsInfo, GPSDestLatitude, 160);
AT32(GpsInfo, GPSDestLongitudeRef, 184);
AT32(GpsInfo, GPSDestLongitude, 188);
AT32(GpsInfo, GPSDestBearingRef, 212);
AT32(GpsInfo, GPSDestBearing, 216);
AT32(GpsInfo, GPSDestDistanceRef, 224);
AT32(GpsInfo, GPSDestDistance, 228);
AT32(GpsInfo, GPSProcessingMethod.data, 248);
AT32(GpsInfo, GPSProcessingMethod.size, 252);
AT32(GpsInfo, GPSAreaInformation.data, 256);
AT32(GpsInfo, GPSAreaInformation.size, 260);
AT32(GpsInfo, GPSDateStamp, 264);
AT32(GpsInfo, GPSDifferential, 268);
AT32(GpsInfo, reserved_61, 61);
AT32(GpsInfo, reserved_236, 236);
AT32(GpsInfo, reserved_270, 270);
AT32(GpsInfo, mask, 240);
AT32(GpsInfo, mask2, 244);

// ---- 64-bit model: the natural layout, pinned ------------------------------------------
SIZE64(CString, 8);
SIZE64(HostBlob, 16);
SIZE64(CWordArray, 32);
AT64(CWordArray, elements, 8);
AT64(CWordArray, count, 16);
AT64(CWordArray, capacity, 20);
AT64(CWordArray, grow_by, 24);
SIZE64(ImageInfoList, 24);
AT64(ImageInfoList, sentinel, 8);
AT64(ImageInfoList, count, 16);
SIZE64(ImageInfoNode, 32);
AT64(ImageInfoNode, type, 16);
AT64(ImageInfoNode, record, 24);
SIZE64(StillImageInfoOut, 24);
SIZE64(EncodeExifData, 16);
SIZE64(ExifTagSet, 136);
SIZE64(MakerTagSet, 112);
SIZE64(GpsTagSet, 208);
SIZE64(ImageTextInfo, 56);
SIZE64(TiffInfo, 1912);
SIZE64(ExifInfo, 496);
SIZE64(GpsInfo, 360);
AT64(TiffInfo, DateTime, 1824);
AT64(TiffInfo, mask1, 1900);
AT64(ExifInfo, mask_l, 392);
AT64(GpsInfo, mask, 300);

}  // namespace
