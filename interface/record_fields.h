// The fields of the records of an ImageInfoList, one table per record type,
// in the order in which the block builder writes the tags: name (as declared
// in host_records.h), tag, kind, place in the record and presence bit. The
// record parser reads files into the records by these tables, and the host's
// JSON and tables name and show the fields by them, so a field is found and
// named the same way on both sides of the boundary.
#ifndef VELTORA_INTERFACE_RECORD_FIELDS_H_
#define VELTORA_INTERFACE_RECORD_FIELDS_H_

#include <stddef.h>
#include <stdint.h>

#include <span>

#include "interface/host_records.h"

namespace veltora {

enum class FieldKind {
  kU8,
  kU16,
  kU32,
  kSized,       // u32 value and a u16 type word at type_offset (3: SHORT, else LONG)
  kU16Array,    // `count` u16 values
  kRational,    // `count` HostRational
  kSRational,   // `count` HostSRational
  kText,        // CString
  kChars4,      // char[4]: a version's four characters, as stored
  kBytes4,      // uint8_t[4]
  kBlob,        // HostBlob
  kShortArray,  // ShortArray
  kLongArray,   // LongArray and a u16 type word at type_offset
  kFlag,        // no value: only its presence bit (a sub-directory was read)
  kName128,     // char[128], NUL-terminated (ImageSummary::format_name)
};

// Where an attribute lives in a file.
enum class FieldDirectory { kNone, kTiff, kExif, kInterop, kGps };

inline constexpr uint32_t kNoMask = UINT32_MAX;

struct RecordField {
  const char* name;  // as declared in the record
  int32_t tag;       // the EXIF tag, -1 for fields that have none
  FieldKind kind;
  uint32_t offset;       // of the value in the record
  uint32_t count;        // elements of kU16Array, kRational, kSRational; else 1
  uint32_t type_offset;  // of the type word of kSized and kLongArray
  uint32_t mask_offset;  // of the u32 mask holding `bit`; kNoMask: always present
  uint32_t bit;
  FieldDirectory directory;
};

struct RecordSchema {
  uint32_t type;     // INFO_* (record type code)
  const char* name;  // the record's name in the host's JSON
  std::span<const RecordField> fields;
};

namespace record_fields_detail {

using K = FieldKind;
using D = FieldDirectory;

inline constexpr uint32_t Off(size_t offset) { return static_cast<uint32_t>(offset); }

// One row per field: name, tag, kind, element count, presence bit.
#define VELTORA_FIELD(Record, dir, mask, name, tag, kind, count, bit) \
  RecordField{#name, tag, kind, Off(offsetof(Record, name)), count, 0, Off(offsetof(Record, mask)), bit, dir}
// Sized values and strip arrays also name their type word, "<name>Type".
#define VELTORA_TYPED(Record, dir, mask, name, tag, kind, bit)                         \
  RecordField{#name, tag, kind, Off(offsetof(Record, name)), 1, Off(offsetof(Record, name##Type)), \
              Off(offsetof(Record, mask)), bit, dir}

#define TIFF(name, tag, kind, count, bit) VELTORA_FIELD(TiffInfo, D::kTiff, mask1, name, tag, kind, count, bit)
#define TIFF_TYPED(name, tag, kind, bit) VELTORA_TYPED(TiffInfo, D::kTiff, mask1, name, tag, kind, bit)

constexpr RecordField kTiffFields[] = {
    TIFF_TYPED(ImageWidth, 256, K::kSized, TIFF_M1_IMAGE_WIDTH),
    TIFF_TYPED(ImageLength, 257, K::kSized, TIFF_M1_IMAGE_LENGTH),
    TIFF(BitsPerSample, 258, K::kU16Array, 3, TIFF_M1_BITS_PER_SAMPLE),
    TIFF(Compression, 259, K::kU16, 1, TIFF_M1_COMPRESSION),
    TIFF(PhotometricInterpretation, 262, K::kU16, 1, TIFF_M1_PHOTOMETRIC_INTERPRETATION),
    TIFF(ImageDescription, 270, K::kText, 1, TIFF_M1_IMAGE_DESCRIPTION),
    TIFF(Make, 271, K::kText, 1, TIFF_M1_MAKE),
    TIFF(Model, 272, K::kText, 1, TIFF_M1_MODEL),
    TIFF_TYPED(StripOffsets, 273, K::kLongArray, TIFF_M1_STRIP_OFFSETS),
    TIFF(Orientation, 274, K::kU16, 1, TIFF_M1_ORIENTATION),
    TIFF(SamplesPerPixel, 277, K::kU16, 1, TIFF_M1_SAMPLES_PER_PIXEL),
    TIFF_TYPED(RowsPerStrip, 278, K::kSized, TIFF_M1_ROWS_PER_STRIP),
    TIFF_TYPED(StripByteCounts, 279, K::kLongArray, TIFF_M1_STRIP_BYTE_COUNTS),
    TIFF(XResolution, 282, K::kRational, 1, TIFF_M1_X_RESOLUTION),
    TIFF(YResolution, 283, K::kRational, 1, TIFF_M1_Y_RESOLUTION),
    TIFF(PlanarConfiguration, 284, K::kU16, 1, TIFF_M1_PLANAR_CONFIGURATION),
    TIFF(ResolutionUnit, 296, K::kU16, 1, TIFF_M1_RESOLUTION_UNIT),
    TIFF(TransferFunction, 301, K::kU16Array, 768, TIFF_M1_TRANSFER_FUNCTION),
    TIFF(Software, 305, K::kText, 1, TIFF_M1_SOFTWARE),
    TIFF(DateTime, 306, K::kText, 1, TIFF_M1_DATE_TIME),
    TIFF(Artist, 315, K::kText, 1, TIFF_M1_ARTIST),
    TIFF(WhitePoint, 318, K::kRational, 2, TIFF_M1_WHITE_POINT),
    TIFF(PrimaryChromaticities, 319, K::kRational, 6, TIFF_M1_PRIMARY_CHROMATICITIES),
    TIFF(JPEGInterchangeFormat, 513, K::kU32, 1, TIFF_M1_JPEG_INTERCHANGE_FORMAT),
    TIFF(JPEGInterchangeFormatLength, 514, K::kU32, 1, TIFF_M1_JPEG_INTERCHANGE_FORMAT_LENGTH),
    TIFF(YCbCrCoefficients, 529, K::kRational, 3, TIFF_M1_YCBCR_COEFFICIENTS),
    TIFF(YCbCrSubSampling, 530, K::kU16Array, 2, TIFF_M1_YCBCR_SUB_SAMPLING),
    TIFF(YCbCrPositioning, 531, K::kU16, 1, TIFF_M1_YCBCR_POSITIONING),
    TIFF(ReferenceBlackWhite, 532, K::kRational, 6, TIFF_M1_REFERENCE_BLACK_WHITE),
    TIFF(Copyright, 33432, K::kText, 1, TIFF_M1_COPYRIGHT),
    VELTORA_FIELD(TiffInfo, D::kTiff, mask2, PrintImageMatching, 50341, K::kBlob, 1,
                  TIFF_M2_PRINT_IMAGE_MATCHING),
    // What the parser read besides attributes; writers ignore both bits.
    RecordField{"ExifIfdRead", 34665, K::kFlag, 0, 1, 0, Off(offsetof(TiffInfo, mask1)),
                TIFF_M1_EXIF_IFD_READ, D::kTiff},
    RecordField{"GpsIfdRead", 34853, K::kFlag, 0, 1, 0, Off(offsetof(TiffInfo, mask1)),
                TIFF_M1_GPS_IFD_READ, D::kTiff},
};

#define EXIF_L(name, tag, kind, count, bit) VELTORA_FIELD(ExifInfo, D::kExif, mask_l, name, tag, kind, count, bit)
#define EXIF_H(name, tag, kind, count, bit) VELTORA_FIELD(ExifInfo, D::kExif, mask_h, name, tag, kind, count, bit)
#define INTEROP(name, tag, kind, bit) VELTORA_FIELD(ExifInfo, D::kInterop, interop_mask, name, tag, kind, 1, bit)

constexpr RecordField kExifFields[] = {
    EXIF_L(ExposureTime, 33434, K::kRational, 1, EXIF_L_EXPOSURE_TIME),
    EXIF_L(FNumber, 33437, K::kRational, 1, EXIF_L_F_NUMBER),
    EXIF_L(ExposureProgram, 34850, K::kU16, 1, EXIF_L_EXPOSURE_PROGRAM),
    EXIF_L(SpectralSensitivity, 34852, K::kText, 1, EXIF_L_SPECTRAL_SENSITIVITY),
    EXIF_L(ISOSpeedRatings, 34855, K::kShortArray, 1, EXIF_L_ISO_SPEED_RATINGS),
    EXIF_L(OECF, 34856, K::kBlob, 1, EXIF_L_OECF),
    EXIF_L(ExifVersion, 36864, K::kChars4, 1, EXIF_L_EXIF_VERSION),
    EXIF_L(DateTimeOriginal, 36867, K::kText, 1, EXIF_L_DATE_TIME_ORIGINAL),
    EXIF_L(DateTimeDigitized, 36868, K::kText, 1, EXIF_L_DATE_TIME_DIGITIZED),
    EXIF_L(ComponentsConfiguration, 37121, K::kBytes4, 1, EXIF_L_COMPONENTS_CONFIGURATION),
    EXIF_L(CompressedBitsPerPixel, 37122, K::kRational, 1, EXIF_L_COMPRESSED_BITS_PER_PIXEL),
    EXIF_L(ShutterSpeedValue, 37377, K::kSRational, 1, EXIF_L_SHUTTER_SPEED_VALUE),
    EXIF_L(ApertureValue, 37378, K::kRational, 1, EXIF_L_APERTURE_VALUE),
    EXIF_L(BrightnessValue, 37379, K::kSRational, 1, EXIF_L_BRIGHTNESS_VALUE),
    EXIF_L(ExposureBiasValue, 37380, K::kSRational, 1, EXIF_L_EXPOSURE_BIAS_VALUE),
    EXIF_L(MaxApertureValue, 37381, K::kRational, 1, EXIF_L_MAX_APERTURE_VALUE),
    EXIF_L(SubjectDistance, 37382, K::kRational, 1, EXIF_L_SUBJECT_DISTANCE),
    EXIF_L(MeteringMode, 37383, K::kU16, 1, EXIF_L_METERING_MODE),
    EXIF_L(LightSource, 37384, K::kU16, 1, EXIF_L_LIGHT_SOURCE),
    EXIF_L(Flash, 37385, K::kU16, 1, EXIF_L_FLASH),
    EXIF_L(FocalLength, 37386, K::kRational, 1, EXIF_L_FOCAL_LENGTH),
    EXIF_H(SubjectArea, 37396, K::kShortArray, 1, EXIF_H_SUBJECT_AREA),
    EXIF_L(MakerNote, 37500, K::kBlob, 1, EXIF_L_MAKER_NOTE),
    EXIF_H(UserComment, 37510, K::kBlob, 1, EXIF_H_USER_COMMENT),
    EXIF_L(SubSecTime, 37520, K::kText, 1, EXIF_L_SUB_SEC_TIME),
    EXIF_L(SubSecTimeOriginal, 37521, K::kText, 1, EXIF_L_SUB_SEC_TIME_ORIGINAL),
    EXIF_L(SubSecTimeDigitized, 37522, K::kText, 1, EXIF_L_SUB_SEC_TIME_DIGITIZED),
    EXIF_L(FlashpixVersion, 40960, K::kChars4, 1, EXIF_L_FLASHPIX_VERSION),
    EXIF_L(ColorSpace, 40961, K::kU16, 1, EXIF_L_COLOR_SPACE),
    VELTORA_TYPED(ExifInfo, D::kExif, mask_l, PixelXDimension, 40962, K::kSized, EXIF_L_PIXEL_X_DIMENSION),
    VELTORA_TYPED(ExifInfo, D::kExif, mask_l, PixelYDimension, 40963, K::kSized, EXIF_L_PIXEL_Y_DIMENSION),
    EXIF_L(RelatedSoundFile, 40964, K::kText, 1, EXIF_L_RELATED_SOUND_FILE),
    // The Interoperability IFD was read; the writer computes its pointer.
    RecordField{"InteroperabilityIfd", 40965, K::kFlag, 0, 1, 0, Off(offsetof(ExifInfo, mask_h)),
                EXIF_H_INTEROP_IFD, D::kExif},
    EXIF_L(FlashEnergy, 41483, K::kRational, 1, EXIF_L_FLASH_ENERGY),
    EXIF_L(SpatialFrequencyResponse, 41484, K::kBlob, 1, EXIF_L_SPATIAL_FREQUENCY_RESPONSE),
    EXIF_H(FocalPlaneXResolution, 41486, K::kRational, 1, EXIF_H_FOCAL_PLANE_X_RESOLUTION),
    EXIF_H(FocalPlaneYResolution, 41487, K::kRational, 1, EXIF_H_FOCAL_PLANE_Y_RESOLUTION),
    EXIF_H(FocalPlaneResolutionUnit, 41488, K::kU16, 1, EXIF_H_FOCAL_PLANE_RESOLUTION_UNIT),
    EXIF_H(SubjectLocation, 41492, K::kU16Array, 2, EXIF_H_SUBJECT_LOCATION),
    EXIF_H(ExposureIndex, 41493, K::kRational, 1, EXIF_H_EXPOSURE_INDEX),
    EXIF_H(SensingMethod, 41495, K::kU16, 1, EXIF_H_SENSING_METHOD),
    EXIF_H(FileSource, 41728, K::kU8, 1, EXIF_H_FILE_SOURCE),
    EXIF_H(SceneType, 41729, K::kU8, 1, EXIF_H_SCENE_TYPE),
    EXIF_H(CFAPattern, 41730, K::kBlob, 1, EXIF_H_CFA_PATTERN),
    EXIF_H(CustomRendered, 41985, K::kU16, 1, EXIF_H_CUSTOM_RENDERED),
    EXIF_H(ExposureMode, 41986, K::kU16, 1, EXIF_H_EXPOSURE_MODE),
    EXIF_H(WhiteBalance, 41987, K::kU16, 1, EXIF_H_WHITE_BALANCE),
    EXIF_H(DigitalZoomRatio, 41988, K::kRational, 1, EXIF_H_DIGITAL_ZOOM_RATIO),
    EXIF_H(FocalLengthIn35mmFilm, 41989, K::kU16, 1, EXIF_H_FOCAL_LENGTH_IN_35MM_FILM),
    EXIF_H(SceneCaptureType, 41990, K::kU16, 1, EXIF_H_SCENE_CAPTURE_TYPE),
    EXIF_H(GainControl, 41991, K::kU16, 1, EXIF_H_GAIN_CONTROL),
    EXIF_H(Contrast, 41992, K::kU16, 1, EXIF_H_CONTRAST),
    EXIF_H(Saturation, 41993, K::kU16, 1, EXIF_H_SATURATION),
    EXIF_H(Sharpness, 41994, K::kU16, 1, EXIF_H_SHARPNESS),
    EXIF_H(DeviceSettingDescription, 41995, K::kBlob, 1, EXIF_H_DEVICE_SETTING_DESCRIPTION),
    EXIF_H(SubjectDistanceRange, 41996, K::kU16, 1, EXIF_H_SUBJECT_DISTANCE_RANGE),
    INTEROP(InteroperabilityIndex, 1, K::kText, INTEROP_INDEX),
    INTEROP(InteroperabilityVersion, 2, K::kChars4, INTEROP_VERSION),
    INTEROP(RelatedImageFileFormat, 4096, K::kText, INTEROP_RELATED_IMAGE_FILE_FORMAT),
    INTEROP(RelatedImageWidth, 4097, K::kU32, INTEROP_RELATED_IMAGE_WIDTH),
    INTEROP(RelatedImageLength, 4098, K::kU32, INTEROP_RELATED_IMAGE_LENGTH),
};

#define GPS(name, tag, kind, count, bit) VELTORA_FIELD(GpsInfo, D::kGps, mask, name, tag, kind, count, bit)

constexpr RecordField kGpsFields[] = {
    GPS(GPSVersionID, 0, K::kBytes4, 1, GPS_VERSION_ID),
    GPS(GPSLatitudeRef, 1, K::kText, 1, GPS_LATITUDE_REF),
    GPS(GPSLatitude, 2, K::kRational, 3, GPS_LATITUDE),
    GPS(GPSLongitudeRef, 3, K::kText, 1, GPS_LONGITUDE_REF),
    GPS(GPSLongitude, 4, K::kRational, 3, GPS_LONGITUDE),
    GPS(GPSAltitudeRef, 5, K::kU8, 1, GPS_ALTITUDE_REF),
    GPS(GPSAltitude, 6, K::kRational, 1, GPS_ALTITUDE),
    GPS(GPSTimeStamp, 7, K::kRational, 3, GPS_TIME_STAMP),
    GPS(GPSSatellites, 8, K::kText, 1, GPS_SATELLITES),
    GPS(GPSStatus, 9, K::kText, 1, GPS_STATUS),
    GPS(GPSMeasureMode, 10, K::kText, 1, GPS_MEASURE_MODE),
    GPS(GPSDOP, 11, K::kRational, 1, GPS_DOP),
    GPS(GPSSpeedRef, 12, K::kText, 1, GPS_SPEED_REF),
    GPS(GPSSpeed, 13, K::kRational, 1, GPS_SPEED),
    GPS(GPSTrackRef, 14, K::kText, 1, GPS_TRACK_REF),
    GPS(GPSTrack, 15, K::kRational, 1, GPS_TRACK),
    GPS(GPSImgDirectionRef, 16, K::kText, 1, GPS_IMG_DIRECTION_REF),
    GPS(GPSImgDirection, 17, K::kRational, 1, GPS_IMG_DIRECTION),
    GPS(GPSMapDatum, 18, K::kText, 1, GPS_MAP_DATUM),
    GPS(GPSDestLatitudeRef, 19, K::kText, 1, GPS_DEST_LATITUDE_REF),
    GPS(GPSDestLatitude, 20, K::kRational, 3, GPS_DEST_LATITUDE),
    GPS(GPSDestLongitudeRef, 21, K::kText, 1, GPS_DEST_LONGITUDE_REF),
    GPS(GPSDestLongitude, 22, K::kRational, 3, GPS_DEST_LONGITUDE),
    GPS(GPSDestBearingRef, 23, K::kText, 1, GPS_DEST_BEARING_REF),
    GPS(GPSDestBearing, 24, K::kRational, 1, GPS_DEST_BEARING),
    GPS(GPSDestDistanceRef, 25, K::kText, 1, GPS_DEST_DISTANCE_REF),
    GPS(GPSDestDistance, 26, K::kRational, 1, GPS_DEST_DISTANCE),
    // The records number the last four GPS tags 40 to 43, as the block
    // builder writes them.
    GPS(GPSProcessingMethod, 40, K::kBlob, 1, GPS_PROCESSING_METHOD),
    GPS(GPSAreaInformation, 41, K::kBlob, 1, GPS_AREA_INFORMATION),
    GPS(GPSDateStamp, 42, K::kText, 1, GPS_DATE_STAMP),
    GPS(GPSDifferential, 43, K::kU16, 1, GPS_DIFFERENTIAL),
};

#define SUMMARY(name, kind) \
  RecordField{#name, -1, kind, Off(offsetof(ImageSummary, name)), 1, 0, kNoMask, 0, D::kNone}

constexpr RecordField kSummaryFields[] = {
    SUMMARY(width, K::kU32),
    SUMMARY(height, K::kU32),
    SUMMARY(bits_per_pixel, K::kU16),
    SUMMARY(format_name, K::kName128),
};

constexpr RecordSchema kSchemas[] = {
    {0x00000001u, "Image", kSummaryFields},      // INFO_IMAGE
    {0x00000002u, "Thumbnail", kSummaryFields},  // INFO_THUMBNAIL
    {0x00010000u, "TiffMain", kTiffFields},      // INFO_TIFF_MAIN
    {0x00040000u, "Exif", kExifFields},          // INFO_EXIF
    {0x00080000u, "Gps", kGpsFields},            // INFO_GPS
    {0x00020000u, "TiffThumb", kTiffFields},     // INFO_TIFF_THUMB
};

#undef VELTORA_FIELD
#undef VELTORA_TYPED
#undef TIFF
#undef TIFF_TYPED
#undef EXIF_L
#undef EXIF_H
#undef INTEROP
#undef GPS
#undef SUMMARY

}  // namespace record_fields_detail

// The field's storage inside a record, typed by the caller after its kind.
template <typename T>
const T* FieldAt(const void* record, uint32_t offset) {
  return reinterpret_cast<const T*>(static_cast<const unsigned char*>(record) + offset);
}
template <typename T>
T* FieldAt(void* record, uint32_t offset) {
  return reinterpret_cast<T*>(static_cast<unsigned char*>(record) + offset);
}

// Every record type, in the order GetStillImageInfo lists them: Image,
// Thumbnail, TiffMain, Exif, Gps, TiffThumb. The schema of a type code is
// null for a type that has no record. FieldPresent: the field's presence bit
// is set (always true without a mask); MarkFieldPresent sets it.
inline std::span<const RecordSchema> RecordSchemas() { return record_fields_detail::kSchemas; }

inline const RecordSchema* FindRecordSchema(uint32_t type) {
  for (const RecordSchema& schema : record_fields_detail::kSchemas) {
    if (schema.type == type) return &schema;
  }
  return nullptr;
}

inline bool FieldPresent(const RecordField& field, const void* record) {
  if (field.mask_offset == kNoMask) return true;
  return (*FieldAt<uint32_t>(record, field.mask_offset) & field.bit) != 0;
}

inline void MarkFieldPresent(const RecordField& field, void* record) {
  if (field.mask_offset != kNoMask) *FieldAt<uint32_t>(record, field.mask_offset) |= field.bit;
}

}  // namespace veltora

#endif  // VELTORA_INTERFACE_RECORD_FIELDS_H_
