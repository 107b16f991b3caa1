// The host-boundary layout, checked at compile time. Offsets and sizes are
// those the hosts were built against (32-bit model); under a 64-bit model the
// pointer-free prefix must match. The 64-bit layout follows from the types
// and is not pinned: no host uses it.
//
// Compiled by check_abi.sh with and without -m32 (-fsyntax-only); includes
// nothing but the chief header, as a host would.
#include "frame/veltora.h"

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

// A record's run of members is written F(member, offset), in offset order, F
// being defined for that run as the block's macro applied to the record.

// ---- Pointer-free types: one layout in every model ------------------------------
SIZE(SYSTEMTIME, 16);
#define F(member, off) AT(SYSTEMTIME, member, off)
F(wYear, 0); F(wMonth, 2); F(wDayOfWeek, 4); F(wDay, 6); F(wHour, 8); F(wMinute, 10);
F(wSecond, 12); F(wMilliseconds, 14);
#undef F

SIZE(RECT, 16);
#define F(member, off) AT(RECT, member, off)
F(left, 0); F(top, 4); F(right, 8); F(bottom, 12);
#undef F

SIZE(BITMAPINFOHEADER, 40);
#define F(member, off) AT(BITMAPINFOHEADER, member, off)
F(biSize, 0); F(biWidth, 4); F(biHeight, 8); F(biPlanes, 12); F(biBitCount, 14);
F(biCompression, 16); F(biSizeImage, 20); F(biXPelsPerMeter, 24); F(biYPelsPerMeter, 28);
F(biClrUsed, 32); F(biClrImportant, 36);
#undef F
SIZE(RGBQUAD, 4);
#define F(member, off) AT(RGBQUAD, member, off)
F(rgbBlue, 0); F(rgbGreen, 1); F(rgbRed, 2); F(rgbReserved, 3);
#undef F
AT(BITMAPINFO, bmiColors, 40);
static_assert(BI_BITFIELDS == 3);

SIZE(HostRational, 8); SIZE(HostSRational, 8);

// The text's length word lies 8 bytes before the first character in every
// model: the header is three int32 words directly in front of the characters.
SIZE(CStringData, 12); AT(CStringData, length, 4);
static_assert(sizeof(CStringData) - offsetof(CStringData, length) == 8);

SIZE(ImageSummary, 148);
#define F(member, off) AT(ImageSummary, member, off)
F(width, 0); F(height, 4); F(bits_per_pixel, 8); F(reserved_12, 12); F(reserved_16, 16);
F(format_name, 20);
#undef F
static_assert(sizeof(ImageSummary::format_name) == 128);

// Field widths the records fix.
static_assert(sizeof(ExifTagSet::ExifVersion) == 4 && sizeof(GpsTagSet::GPSLatitude) == 24 &&
              sizeof(GpsTagSet::GPSLatitudeRef) == 2);
static_assert(sizeof(MakerTagSet::value_0002) == 4 && sizeof(MakerTagSet::value_0026) == 4 &&
              sizeof(MakerTagSet::value_002B) == 4);
static_assert(sizeof(TiffInfo::BitsPerSample) == 6 && sizeof(TiffInfo::TransferFunction) == 1536);
static_assert(sizeof(TiffInfo::WhitePoint) == 16 && sizeof(TiffInfo::PrimaryChromaticities) == 48 &&
              sizeof(TiffInfo::YCbCrCoefficients) == 24 &&
              sizeof(TiffInfo::ReferenceBlackWhite) == 48);
static_assert(sizeof(ExifInfo::ComponentsConfiguration) == 4 &&
              sizeof(ExifInfo::SubjectLocation) == 4 && sizeof(GpsInfo::GPSDestLongitude) == 24);

// TiffInfo up to its first array object holds no pointer.
AT(TiffInfo, XResolution, 36); AT(TiffInfo, ResolutionUnit, 52); AT(TiffInfo, StripOffsets, 56);

// ---- 32-bit model ------------------------------------------------------------------
SIZE32(HGLOBAL, 4); SIZE32(HDC, 4); SIZE32(CString, 4); SIZE32(HostBlob, 8);
AT32(HostBlob, size, 4);

// The three arrays: class word, elements, count, capacity, growth step.
SIZE32(CWordArray, 20); SIZE32(CDWordArray, 20); SIZE32(CByteArray, 20);
#define F(member, off) AT32(CWordArray, member, off)
F(class_word, 0); F(elements, 4); F(count, 8); F(capacity, 12); F(grow_by, 16);
#undef F
AT32(CDWordArray, elements, 4); AT32(CDWordArray, count, 8);
AT32(CByteArray, elements, 4); AT32(CByteArray, count, 8);

SIZE32(ImageInfoList, 12);
AT32(ImageInfoList, allocator_reserved, 0); AT32(ImageInfoList, sentinel, 4);
AT32(ImageInfoList, count, 8);
SIZE32(ImageInfoNode, 16);
#define F(member, off) AT32(ImageInfoNode, member, off)
F(next, 0); F(prev, 4); F(type, 8); F(record, 12);
#undef F

// GetStillImageInfo's single answer overlays the list's first two words.
AT32(StillImageInfoOut, single.type, 0); AT32(StillImageInfoOut, single.record, 4);
AT(StillImageInfoOut, single.record, offsetof(ImageInfoList, sentinel));
SIZE32(StillImageInfoOut, 12);

SIZE32(EncodeExifData, 8); AT32(EncodeExifData, gps, 4);

SIZE32(GpsTagSet, 164); SIZE32(ImageTextInfo, 36); SIZE32(TiffInfo, 1840); SIZE32(ExifInfo, 360);
SIZE32(GpsInfo, 272); SIZE32(ExifTagSet, 108); SIZE32(MakerTagSet, 92);

// ExifTagSet
#define F(member, off) AT32(ExifTagSet, member, off)
F(tags, 0); F(Orientation, 20); F(reserved_22, 22); F(Make, 24); F(Model, 28); F(ExifVersion, 32);
F(DateTimeOriginal, 36); F(ExposureTime, 52); F(FNumber, 60); F(ISOSpeedRatings, 68);
F(reserved_70, 70); F(ShutterSpeedValue, 72); F(ApertureValue, 80); F(ExposureBiasValue, 88);
F(Flash, 96); F(ExposureMode, 98); F(WhiteBalance, 100); F(SceneCaptureType, 102);
F(SubjectDistanceRange, 104); F(reserved_106, 106);
#undef F

// MakerTagSet
#define F(member, off) AT32(MakerTagSet, member, off)
F(tags, 0); F(signature, 20); F(value_0001, 24); F(value_0002, 26); F(value_0003, 30);
F(value_0007, 32); F(value_000F, 34); F(value_001A, 36); F(value_001C, 38); F(value_001F, 40);
F(value_0020, 42); F(present_0021, 44); F(value_0022, 48); F(value_0026, 50); F(value_0027, 54);
F(value_0028, 56); F(value_002A, 58); F(value_002B, 60); F(value_002D, 64); F(value_0032, 66);
F(date_0033, 68); F(present_0E00, 84); F(present_4950, 88);
#undef F

// GpsTagSet
#define F(member, off) AT32(GpsTagSet, member, off)
F(tags, 0); F(GPSVersionID, 20); F(GPSLatitudeRef, 24); F(reserved_26, 26); F(GPSLatitude, 28);
F(GPSLongitudeRef, 52); F(reserved_54, 54); F(GPSLongitude, 56); F(GPSAltitudeRef, 80);
F(reserved_81, 81); F(GPSAltitude, 84); F(GPSTimeStamp, 92); F(GPSMapDatum, 116);
F(GPSProcessingMethod, 120); F(GPSProcessingMethod.elements, 124);
F(GPSProcessingMethod.count, 128); F(GPSAreaInformation, 140); F(GPSAreaInformation.elements, 144);
F(GPSAreaInformation.count, 148); F(GPSDateStamp, 160);
#undef F

// ImageTextInfo
#define F(member, off) AT32(ImageTextInfo, member, off)
F(version, 0); F(ImageDescription, 4); F(Make, 8); F(Model, 12); F(Software, 16);
F(capture_time, 20);
#undef F

// TiffInfo
#define F(member, off) AT32(TiffInfo, member, off)
F(ImageWidth, 0); F(ImageWidthType, 4); F(reserved_6, 6); F(ImageLength, 8); F(ImageLengthType, 12);
F(BitsPerSample, 14); F(Compression, 20); F(PhotometricInterpretation, 22); F(Orientation, 24);
F(SamplesPerPixel, 26); F(PlanarConfiguration, 28); F(YCbCrSubSampling, 30);
F(YCbCrPositioning, 34); F(XResolution, 36); F(YResolution, 44); F(ResolutionUnit, 52);
F(reserved_54, 54); F(StripOffsets, 56); F(StripOffsetsType, 76); F(reserved_78, 78);
F(RowsPerStrip, 80); F(RowsPerStripType, 84); F(reserved_86, 86); F(StripByteCounts, 88);
F(StripByteCountsType, 108); F(reserved_110, 110); F(JPEGInterchangeFormat, 112);
F(JPEGInterchangeFormatLength, 116); F(TransferFunction, 120); F(WhitePoint, 1656);
F(PrimaryChromaticities, 1672); F(YCbCrCoefficients, 1720); F(ReferenceBlackWhite, 1744);
F(DateTime, 1792); F(ImageDescription, 1796); F(Make, 1800); F(Model, 1804); F(Software, 1808);
F(Artist, 1812); F(Copyright, 1816); F(PrintImageMatching.data, 1820);
F(PrintImageMatching.size, 1824); F(reserved_1828, 1828); F(mask1, 1832); F(mask2, 1836);
#undef F

// ExifInfo
#define F(member, off) AT32(ExifInfo, member, off)
F(ExifVersion, 0); F(FlashpixVersion, 4); F(ColorSpace, 8); F(ComponentsConfiguration, 10);
F(reserved_14, 14); F(CompressedBitsPerPixel, 16); F(PixelXDimension, 24);
F(PixelXDimensionType, 28); F(reserved_30, 30); F(PixelYDimension, 32); F(PixelYDimensionType, 36);
F(reserved_38, 38); F(MakerNote.data, 40); F(MakerNote.size, 44); F(RelatedSoundFile, 48);
F(DateTimeOriginal, 52); F(DateTimeDigitized, 56); F(SubSecTime, 60); F(SubSecTimeOriginal, 64);
F(SubSecTimeDigitized, 68); F(ExposureTime, 72); F(FNumber, 80); F(ExposureProgram, 88);
F(reserved_90, 90); F(SpectralSensitivity, 92); F(ISOSpeedRatings, 96); F(OECF.data, 116);
F(OECF.size, 120); F(ShutterSpeedValue, 124); F(ApertureValue, 132); F(BrightnessValue, 140);
F(ExposureBiasValue, 148); F(MaxApertureValue, 156); F(SubjectDistance, 164); F(MeteringMode, 172);
F(LightSource, 174); F(Flash, 176); F(reserved_178, 178); F(FocalLength, 180); F(FlashEnergy, 188);
F(SpatialFrequencyResponse.data, 196); F(SpatialFrequencyResponse.size, 200);
F(FocalPlaneXResolution, 204); F(FocalPlaneYResolution, 212); F(FocalPlaneResolutionUnit, 220);
F(SubjectLocation, 222); F(reserved_226, 226); F(ExposureIndex, 228); F(SensingMethod, 236);
F(FileSource, 238); F(SceneType, 239); F(CFAPattern.data, 240); F(CFAPattern.size, 244);
F(InteroperabilityIndex, 248); F(InteroperabilityVersion, 252); F(RelatedImageFileFormat, 256);
F(RelatedImageWidth, 260); F(RelatedImageLength, 264); F(reserved_268, 268); F(interop_mask, 272);
F(reserved_276, 276); F(UserComment.data, 280); F(UserComment.size, 284); F(mask_l, 288);
F(mask_h, 292); F(CustomRendered, 296); F(ExposureMode, 298); F(WhiteBalance, 300);
F(reserved_302, 302); F(DigitalZoomRatio, 304); F(FocalLengthIn35mmFilm, 312);
F(SceneCaptureType, 314); F(GainControl, 316); F(Contrast, 318); F(Saturation, 320);
F(Sharpness, 322); F(DeviceSettingDescription.data, 324); F(DeviceSettingDescription.size, 328);
F(SubjectDistanceRange, 332); F(reserved_334, 334); F(SubjectArea, 336); F(reserved_356, 356);
#undef F

// GpsInfo
#define F(member, off) AT32(GpsInfo, member, off)
F(GPSVersionID, 0); F(GPSLatitudeRef, 4); F(GPSLatitude, 8); F(GPSLongitudeRef, 32);
F(GPSLongitude, 36); F(GPSAltitudeRef, 60); F(reserved_61, 61); F(GPSAltitude, 64);
F(GPSTimeStamp, 72); F(GPSSatellites, 96); F(GPSStatus, 100); F(GPSMeasureMode, 104);
F(GPSDOP, 108); F(GPSSpeedRef, 116); F(GPSSpeed, 120); F(GPSTrackRef, 128); F(GPSTrack, 132);
F(GPSImgDirectionRef, 140); F(GPSImgDirection, 144); F(GPSMapDatum, 152);
F(GPSDestLatitudeRef, 156); F(GPSDestLatitude, 160); F(GPSDestLongitudeRef, 184);
F(GPSDestLongitude, 188); F(GPSDestBearingRef, 212); F(GPSDestBearing, 216);
F(GPSDestDistanceRef, 224); F(GPSDestDistance, 228); F(reserved_236, 236); F(mask, 240);
F(mask2, 244); F(GPSProcessingMethod.data, 248); F(GPSProcessingMethod.size, 252);
F(GPSAreaInformation.data, 256); F(GPSAreaInformation.size, 260); F(GPSDateStamp, 264);
F(GPSDifferential, 268); F(reserved_270, 270);
#undef F

}  // namespace
