// The metadata records exchanged with the host.
//
// Offsets in the comments are those of the 32-bit model, which tests/interface
// pins; fields that carry an EXIF attribute are named after its tag. Field
// kinds:
//   text          CString (host_objects.h)
//   rational      HostRational: numerator, denominator, in machine order
//   blob          HostBlob: bytes pointer and 32-bit byte count
//   sized value   u32 value and a u16 type word; 3 (SHORT) means the value
//                 is held and written as its low 16 bits, anything else LONG
//   arrays        ShortArray / LongArray / ByteArray (host_objects.h)
// Attribute records carry presence masks: an attribute counts only when its
// bit is set.
//
// Ownership: a record belongs to whoever made it. Records that
// GetStillImageInfo returns are made with ImageInfoRecordNew (calloc) and
// their texts, arrays and blobs with malloc, so the host releases them with
// ImageInfoRecordDelete. The plug-in never frees a record it was given.
#ifndef VELTORA_INTERFACE_HOST_RECORDS_H_
#define VELTORA_INTERFACE_HOST_RECORDS_H_

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "interface/host_objects.h"
#include "interface/host_win32.h"

struct HostRational {
  uint32_t numerator;
  uint32_t denominator;
};

struct HostSRational {
  int32_t numerator;
  int32_t denominator;
};

// data is null exactly when size is 0 in records the plug-in makes; readers
// take at most `size` bytes and treat a null pointer as no bytes.
struct HostBlob {
  uint8_t* data;
  uint32_t size;
};

// Replaces the bytes with a malloc'd copy of n bytes (n == 0 empties). False
// when n does not fit the 32-bit count, data is null with n > 0, or memory is
// short; the blob is then unchanged.
inline bool HostBlobSet(HostBlob* blob, const void* data, size_t n) {
  if (n > UINT32_MAX || (data == nullptr && n != 0)) return false;
  uint8_t* copy = nullptr;
  if (n != 0) {
    copy = static_cast<uint8_t*>(malloc(n));
    if (copy == nullptr) return false;
    memcpy(copy, data, n);
  }
  free(blob->data);
  blob->data = copy;
  blob->size = static_cast<uint32_t>(n);
  return true;
}

inline void HostBlobFree(HostBlob* blob) {
  free(blob->data);
  blob->data = nullptr;
  blob->size = 0;
}

// ---- GetExif's records ------------------------------------------------------
// Each starts with a tag list: on entry the tags wanted (empty: a default
// selection), on return the tags delivered. Only delivered fields are
// meaningful; the export empties the list (and GpsTagSet's byte arrays) and
// appends, so these arrays must be helper-built or zeroed.

struct ExifTagSet {
  ShortArray tags;                       //   0
  uint16_t Orientation;                  //  20  274
  uint16_t reserved_22;                  //  22
  CString Make;                          //  24  271
  CString Model;                         //  28  272
  char ExifVersion[4];                   //  32  36864, the four digits, no NUL
  SYSTEMTIME DateTimeOriginal;           //  36  36867
  HostRational ExposureTime;             //  52  33434
  HostRational FNumber;                  //  60  33437
  uint16_t ISOSpeedRatings;              //  68  34855
  uint16_t reserved_70;                  //  70
  HostSRational ShutterSpeedValue;       //  72  37377
  HostRational ApertureValue;            //  80  37378
  HostSRational ExposureBiasValue;       //  88  37380
  uint16_t Flash;                        //  96  37385
  uint16_t ExposureMode;                 //  98  41986
  uint16_t WhiteBalance;                 // 100  41987
  uint16_t SceneCaptureType;             // 102  41990
  uint16_t SubjectDistanceRange;         // 104  41996
  uint16_t reserved_106;                 // 106, tail padding named
};

// The maker-note attributes of the maker whose signature is "Quorvanta",
// named by maker-note tag. The 4-byte values are byte arrays because two of
// them sit at offsets that are not multiples of 4; they hold the converted
// value in machine order (read them with memcpy).
struct MakerTagSet {
  ShortArray tags;         //  0
  CString signature;       // 20
  uint16_t value_0001;     // 24
  uint8_t value_0002[4];   // 26
  uint16_t value_0003;     // 30
  uint16_t value_0007;     // 32
  uint16_t value_000F;     // 34
  uint16_t value_001A;     // 36
  uint16_t value_001C;     // 38
  uint16_t value_001F;     // 40
  uint16_t value_0020;     // 42
  uint32_t present_0021;   // 44  1 when the entry has a non-zero count
  uint16_t value_0022;     // 48
  uint8_t value_0026[4];   // 50
  uint16_t value_0027;     // 54
  uint16_t value_0028;     // 56
  uint16_t value_002A;     // 58
  uint8_t value_002B[4];   // 60
  uint16_t value_002D;     // 64
  uint16_t value_0032;     // 66
  SYSTEMTIME date_0033;    // 68
  uint32_t present_0E00;   // 84
  uint32_t present_4950;   // 88
};

// Also what ReplaceExifGps and Encode's built EXIF block take. The
// tag list selects what is written, in list order. Here the last GPS tags
// are numbered 27 (processing method), 28 (area information), 29 (date
// stamp), as in files.
struct GpsTagSet {
  ShortArray tags;                    //   0
  uint8_t GPSVersionID[4];            //  20  0  (overwritten by ReplaceExifGps)
  char GPSLatitudeRef[2];             //  24  1  letter and NUL
  uint16_t reserved_26;               //  26
  HostRational GPSLatitude[3];        //  28  2
  char GPSLongitudeRef[2];            //  52  3
  uint16_t reserved_54;               //  54
  HostRational GPSLongitude[3];       //  56  4
  uint8_t GPSAltitudeRef;             //  80  5
  uint8_t reserved_81[3];             //  81
  HostRational GPSAltitude;           //  84  6
  HostRational GPSTimeStamp[3];       //  92  7
  CString GPSMapDatum;                // 116  18
  ByteArray GPSProcessingMethod;      // 120  27
  ByteArray GPSAreaInformation;       // 140  28
  CString GPSDateStamp;               // 160  29
};

// ---- Thumbnail and built-block text -------------------------------------------
// version must be the four characters "0120" (no NUL). capture_time.wYear 0
// means no capture time.
struct ImageTextInfo {
  char version[4];              //  0
  CString ImageDescription;     //  4
  CString Make;                 //  8
  CString Model;                // 12
  CString Software;             // 16
  SYSTEMTIME capture_time;      // 20
};

constexpr char kImageTextInfoVersion[4] = {'0', '1', '2', '0'};

// Encode's host data with ENCODE_NEW_EXIF_FILE | ENCODE_NEW_EXIF_GPS; with
// ENCODE_NEW_EXIF_FILE alone the host data is the ImageTextInfo itself.
struct EncodeExifData {
  ImageTextInfo* text_info;
  GpsTagSet* gps;
};

// ---- The records of an ImageInfoList ------------------------------------------

// INFO_IMAGE and INFO_THUMBNAIL.
struct ImageSummary {
  uint32_t width;             //   0
  uint32_t height;            //   4
  uint16_t bits_per_pixel;    //   8
  uint16_t reserved_10;       //  10
  uint32_t reserved_12;       //  12  always 0
  uint32_t reserved_16;       //  16  always 0
  char format_name[128];      //  20  NUL-terminated: "JPG", "TIFF", ...
};

// INFO_TIFF_MAIN (IFD0) and INFO_TIFF_THUMB (IFD1). Presence: mask1, mask2
// (TIFF_M1_*, TIFF_M2_* below).
struct TiffInfo {
  uint32_t ImageWidth;                       //    0  256, sized value
  uint16_t ImageWidthType;                   //    4
  uint16_t reserved_6;                       //    6
  uint32_t ImageLength;                      //    8  257, sized value
  uint16_t ImageLengthType;                  //   12
  uint16_t BitsPerSample[3];                 //   14  258
  uint16_t Compression;                      //   20  259
  uint16_t PhotometricInterpretation;        //   22  262
  uint16_t Orientation;                      //   24  274
  uint16_t SamplesPerPixel;                  //   26  277
  uint16_t PlanarConfiguration;              //   28  284
  uint16_t YCbCrSubSampling[2];              //   30  530
  uint16_t YCbCrPositioning;                 //   34  531
  HostRational XResolution;                  //   36  282
  HostRational YResolution;                  //   44  283
  uint16_t ResolutionUnit;                   //   52  296
  uint16_t reserved_54;                      //   54
  LongArray StripOffsets;                    //   56  273
  uint16_t StripOffsetsType;                 //   76
  uint16_t reserved_78;                      //   78
  uint32_t RowsPerStrip;                     //   80  278, sized value
  uint16_t RowsPerStripType;                 //   84
  uint16_t reserved_86;                      //   86
  LongArray StripByteCounts;                 //   88  279
  uint16_t StripByteCountsType;              //  108
  uint16_t reserved_110;                     //  110
  uint32_t JPEGInterchangeFormat;            //  112  513 (the builder computes its own)
  uint32_t JPEGInterchangeFormatLength;      //  116  514 (likewise)
  uint16_t TransferFunction[768];            //  120  301
  HostRational WhitePoint[2];                // 1656  318
  HostRational PrimaryChromaticities[6];     // 1672  319
  HostRational YCbCrCoefficients[3];         // 1720  529
  HostRational ReferenceBlackWhite[6];       // 1744  532
  CString DateTime;                          // 1792  306
  CString ImageDescription;                  // 1796  270
  CString Make;                              // 1800  271
  CString Model;                             // 1804  272
  CString Software;                          // 1808  305
  CString Artist;                            // 1812  315
  CString Copyright;                         // 1816  33432
  HostBlob PrintImageMatching;               // 1820  50341
  uint32_t reserved_1828;                    // 1828
  uint32_t mask1;                            // 1832
  uint32_t mask2;                            // 1836
};

// TiffInfo::mask1 bits (0x40000000 and 0x80000000 are set by the parser
// only: it read an EXIF or GPS sub-IFD; writers ignore them) and mask2.
constexpr uint32_t TIFF_M1_IMAGE_WIDTH = 0x00000001u;
constexpr uint32_t TIFF_M1_IMAGE_LENGTH = 0x00000002u;
constexpr uint32_t TIFF_M1_BITS_PER_SAMPLE = 0x00000004u;
constexpr uint32_t TIFF_M1_COMPRESSION = 0x00000008u;
constexpr uint32_t TIFF_M1_PHOTOMETRIC_INTERPRETATION = 0x00000010u;
constexpr uint32_t TIFF_M1_ORIENTATION = 0x00000020u;
constexpr uint32_t TIFF_M1_SAMPLES_PER_PIXEL = 0x00000040u;
constexpr uint32_t TIFF_M1_YCBCR_SUB_SAMPLING = 0x00000080u;
constexpr uint32_t TIFF_M1_YCBCR_POSITIONING = 0x00000100u;
constexpr uint32_t TIFF_M1_X_RESOLUTION = 0x00000200u;
constexpr uint32_t TIFF_M1_Y_RESOLUTION = 0x00000400u;
constexpr uint32_t TIFF_M1_RESOLUTION_UNIT = 0x00000800u;
constexpr uint32_t TIFF_M1_STRIP_OFFSETS = 0x00001000u;
constexpr uint32_t TIFF_M1_ROWS_PER_STRIP = 0x00002000u;
constexpr uint32_t TIFF_M1_STRIP_BYTE_COUNTS = 0x00004000u;
constexpr uint32_t TIFF_M1_PLANAR_CONFIGURATION = 0x00008000u;
constexpr uint32_t TIFF_M1_TRANSFER_FUNCTION = 0x00010000u;
constexpr uint32_t TIFF_M1_WHITE_POINT = 0x00020000u;
constexpr uint32_t TIFF_M1_PRIMARY_CHROMATICITIES = 0x00040000u;
constexpr uint32_t TIFF_M1_JPEG_INTERCHANGE_FORMAT = 0x00080000u;
constexpr uint32_t TIFF_M1_JPEG_INTERCHANGE_FORMAT_LENGTH = 0x00100000u;
constexpr uint32_t TIFF_M1_YCBCR_COEFFICIENTS = 0x00200000u;
constexpr uint32_t TIFF_M1_REFERENCE_BLACK_WHITE = 0x00400000u;
constexpr uint32_t TIFF_M1_DATE_TIME = 0x00800000u;
constexpr uint32_t TIFF_M1_IMAGE_DESCRIPTION = 0x01000000u;
constexpr uint32_t TIFF_M1_MAKE = 0x02000000u;
constexpr uint32_t TIFF_M1_MODEL = 0x04000000u;
constexpr uint32_t TIFF_M1_SOFTWARE = 0x08000000u;
constexpr uint32_t TIFF_M1_ARTIST = 0x10000000u;
constexpr uint32_t TIFF_M1_COPYRIGHT = 0x20000000u;
constexpr uint32_t TIFF_M1_EXIF_IFD_READ = 0x40000000u;
constexpr uint32_t TIFF_M1_GPS_IFD_READ = 0x80000000u;
constexpr uint32_t TIFF_M2_PRINT_IMAGE_MATCHING = 0x00000001u;

// INFO_EXIF: the EXIF sub-IFD and the Interoperability IFD. Presence: mask_l,
// mask_h, interop_mask (EXIF_L_*, EXIF_H_*,
// INTEROP_* below).
struct ExifInfo {
  char ExifVersion[4];                       //   0  36864
  char FlashpixVersion[4];                   //   4  40960
  uint16_t ColorSpace;                       //   8  40961
  uint8_t ComponentsConfiguration[4];        //  10  37121
  uint16_t reserved_14;                      //  14
  HostRational CompressedBitsPerPixel;       //  16  37122
  uint32_t PixelXDimension;                  //  24  40962, sized value
  uint16_t PixelXDimensionType;              //  28
  uint16_t reserved_30;                      //  30
  uint32_t PixelYDimension;                  //  32  40963, sized value
  uint16_t PixelYDimensionType;              //  36
  uint16_t reserved_38;                      //  38
  HostBlob MakerNote;                        //  40  37500
  CString RelatedSoundFile;                  //  48  40964
  CString DateTimeOriginal;                  //  52  36867
  CString DateTimeDigitized;                 //  56  36868
  CString SubSecTime;                        //  60  37520
  CString SubSecTimeOriginal;                //  64  37521
  CString SubSecTimeDigitized;               //  68  37522
  HostRational ExposureTime;                 //  72  33434
  HostRational FNumber;                      //  80  33437
  uint16_t ExposureProgram;                  //  88  34850
  uint16_t reserved_90;                      //  90
  CString SpectralSensitivity;               //  92  34852
  ShortArray ISOSpeedRatings;                //  96  34855
  HostBlob OECF;                             // 116  34856
  HostSRational ShutterSpeedValue;           // 124  37377
  HostRational ApertureValue;                // 132  37378
  HostSRational BrightnessValue;             // 140  37379
  HostSRational ExposureBiasValue;           // 148  37380
  HostRational MaxApertureValue;             // 156  37381
  HostRational SubjectDistance;              // 164  37382
  uint16_t MeteringMode;                     // 172  37383
  uint16_t LightSource;                      // 174  37384
  uint16_t Flash;                            // 176  37385
  uint16_t reserved_178;                     // 178
  HostRational FocalLength;                  // 180  37386
  HostRational FlashEnergy;                  // 188  41483
  HostBlob SpatialFrequencyResponse;         // 196  41484
  HostRational FocalPlaneXResolution;        // 204  41486
  HostRational FocalPlaneYResolution;        // 212  41487
  uint16_t FocalPlaneResolutionUnit;         // 220  41488
  uint16_t SubjectLocation[2];               // 222  41492
  uint16_t reserved_226;                     // 226
  HostRational ExposureIndex;                // 228  41493
  uint16_t SensingMethod;                    // 236  41495
  uint8_t FileSource;                        // 238  41728
  uint8_t SceneType;                         // 239  41729
  HostBlob CFAPattern;                       // 240  41730
  CString InteroperabilityIndex;             // 248  interop 1
  char InteroperabilityVersion[4];           // 252  interop 2
  CString RelatedImageFileFormat;            // 256  interop 4096
  uint32_t RelatedImageWidth;                // 260  interop 4097
  uint32_t RelatedImageLength;               // 264  interop 4098
  uint32_t reserved_268;                     // 268
  uint32_t interop_mask;                     // 272
  uint32_t reserved_276;                     // 276
  HostBlob UserComment;                      // 280  37510
  uint32_t mask_l;                           // 288
  uint32_t mask_h;                           // 292
  uint16_t CustomRendered;                   // 296  41985
  uint16_t ExposureMode;                     // 298  41986
  uint16_t WhiteBalance;                     // 300  41987
  uint16_t reserved_302;                     // 302
  HostRational DigitalZoomRatio;             // 304  41988
  uint16_t FocalLengthIn35mmFilm;            // 312  41989
  uint16_t SceneCaptureType;                 // 314  41990
  uint16_t GainControl;                      // 316  41991
  uint16_t Contrast;                         // 318  41992
  uint16_t Saturation;                       // 320  41993
  uint16_t Sharpness;                        // 322  41994
  HostBlob DeviceSettingDescription;         // 324  41995
  uint16_t SubjectDistanceRange;             // 332  41996
  uint16_t reserved_334;                     // 334
  ShortArray SubjectArea;                    // 336  37396
  uint32_t reserved_356;                     // 356
};

// ExifInfo::mask_l, mask_h and interop_mask bits. EXIF_H_INTEROP_IFD: an
// Interoperability IFD was read (the writer computes its pointer).
constexpr uint32_t EXIF_L_EXIF_VERSION = 0x00000001u;
constexpr uint32_t EXIF_L_FLASHPIX_VERSION = 0x00000002u;
constexpr uint32_t EXIF_L_COLOR_SPACE = 0x00000004u;
constexpr uint32_t EXIF_L_COMPONENTS_CONFIGURATION = 0x00000008u;
constexpr uint32_t EXIF_L_COMPRESSED_BITS_PER_PIXEL = 0x00000010u;
constexpr uint32_t EXIF_L_PIXEL_X_DIMENSION = 0x00000020u;
constexpr uint32_t EXIF_L_PIXEL_Y_DIMENSION = 0x00000040u;
constexpr uint32_t EXIF_L_MAKER_NOTE = 0x00000080u;
constexpr uint32_t EXIF_L_RELATED_SOUND_FILE = 0x00000100u;
constexpr uint32_t EXIF_L_DATE_TIME_ORIGINAL = 0x00000200u;
constexpr uint32_t EXIF_L_DATE_TIME_DIGITIZED = 0x00000400u;
constexpr uint32_t EXIF_L_SUB_SEC_TIME = 0x00000800u;
constexpr uint32_t EXIF_L_SUB_SEC_TIME_ORIGINAL = 0x00001000u;
constexpr uint32_t EXIF_L_SUB_SEC_TIME_DIGITIZED = 0x00002000u;
constexpr uint32_t EXIF_L_EXPOSURE_TIME = 0x00004000u;
constexpr uint32_t EXIF_L_F_NUMBER = 0x00008000u;
constexpr uint32_t EXIF_L_EXPOSURE_PROGRAM = 0x00010000u;
constexpr uint32_t EXIF_L_SPECTRAL_SENSITIVITY = 0x00020000u;
constexpr uint32_t EXIF_L_ISO_SPEED_RATINGS = 0x00040000u;
constexpr uint32_t EXIF_L_OECF = 0x00080000u;
constexpr uint32_t EXIF_L_SHUTTER_SPEED_VALUE = 0x00100000u;
constexpr uint32_t EXIF_L_APERTURE_VALUE = 0x00200000u;
constexpr uint32_t EXIF_L_BRIGHTNESS_VALUE = 0x00400000u;
constexpr uint32_t EXIF_L_EXPOSURE_BIAS_VALUE = 0x00800000u;
constexpr uint32_t EXIF_L_MAX_APERTURE_VALUE = 0x01000000u;
constexpr uint32_t EXIF_L_SUBJECT_DISTANCE = 0x02000000u;
constexpr uint32_t EXIF_L_METERING_MODE = 0x04000000u;
constexpr uint32_t EXIF_L_LIGHT_SOURCE = 0x08000000u;
constexpr uint32_t EXIF_L_FLASH = 0x10000000u;
constexpr uint32_t EXIF_L_FOCAL_LENGTH = 0x20000000u;
constexpr uint32_t EXIF_L_FLASH_ENERGY = 0x40000000u;
constexpr uint32_t EXIF_L_SPATIAL_FREQUENCY_RESPONSE = 0x80000000u;
constexpr uint32_t EXIF_H_FOCAL_PLANE_X_RESOLUTION = 0x00000001u;
constexpr uint32_t EXIF_H_FOCAL_PLANE_Y_RESOLUTION = 0x00000002u;
constexpr uint32_t EXIF_H_FOCAL_PLANE_RESOLUTION_UNIT = 0x00000004u;
constexpr uint32_t EXIF_H_SUBJECT_LOCATION = 0x00000008u;
constexpr uint32_t EXIF_H_EXPOSURE_INDEX = 0x00000010u;
constexpr uint32_t EXIF_H_SENSING_METHOD = 0x00000020u;
constexpr uint32_t EXIF_H_FILE_SOURCE = 0x00000040u;
constexpr uint32_t EXIF_H_SCENE_TYPE = 0x00000080u;
constexpr uint32_t EXIF_H_CFA_PATTERN = 0x00000100u;
constexpr uint32_t EXIF_H_INTEROP_IFD = 0x00000200u;
constexpr uint32_t EXIF_H_USER_COMMENT = 0x00000400u;
constexpr uint32_t EXIF_H_CUSTOM_RENDERED = 0x00000800u;
constexpr uint32_t EXIF_H_EXPOSURE_MODE = 0x00001000u;
constexpr uint32_t EXIF_H_WHITE_BALANCE = 0x00002000u;
constexpr uint32_t EXIF_H_DIGITAL_ZOOM_RATIO = 0x00004000u;
constexpr uint32_t EXIF_H_FOCAL_LENGTH_IN_35MM_FILM = 0x00008000u;
constexpr uint32_t EXIF_H_SCENE_CAPTURE_TYPE = 0x00010000u;
constexpr uint32_t EXIF_H_GAIN_CONTROL = 0x00020000u;
constexpr uint32_t EXIF_H_CONTRAST = 0x00040000u;
constexpr uint32_t EXIF_H_SATURATION = 0x00080000u;
constexpr uint32_t EXIF_H_SHARPNESS = 0x00100000u;
constexpr uint32_t EXIF_H_DEVICE_SETTING_DESCRIPTION = 0x00200000u;
constexpr uint32_t EXIF_H_SUBJECT_DISTANCE_RANGE = 0x00400000u;
constexpr uint32_t EXIF_H_SUBJECT_AREA = 0x00800000u;
constexpr uint32_t INTEROP_INDEX = 0x00000001u;
constexpr uint32_t INTEROP_VERSION = 0x00000002u;
constexpr uint32_t INTEROP_RELATED_IMAGE_FILE_FORMAT = 0x00000004u;
constexpr uint32_t INTEROP_RELATED_IMAGE_WIDTH = 0x00000008u;
constexpr uint32_t INTEROP_RELATED_IMAGE_LENGTH = 0x00000010u;

// INFO_GPS. Presence: mask (GPS_* below); mask2 only takes part in
// the test whether any GPS attribute is present. In these records and in the
// blocks built from them the last four GPS tags are 40 to 43.
struct GpsInfo {
  uint8_t GPSVersionID[4];                   //   0  0
  CString GPSLatitudeRef;                    //   4  1
  HostRational GPSLatitude[3];               //   8  2
  CString GPSLongitudeRef;                   //  32  3
  HostRational GPSLongitude[3];              //  36  4
  uint8_t GPSAltitudeRef;                    //  60  5
  uint8_t reserved_61[3];                    //  61
  HostRational GPSAltitude;                  //  64  6
  HostRational GPSTimeStamp[3];              //  72  7
  CString GPSSatellites;                     //  96  8
  CString GPSStatus;                         // 100  9
  CString GPSMeasureMode;                    // 104  10
  HostRational GPSDOP;                       // 108  11
  CString GPSSpeedRef;                       // 116  12
  HostRational GPSSpeed;                     // 120  13
  CString GPSTrackRef;                       // 128  14
  HostRational GPSTrack;                     // 132  15
  CString GPSImgDirectionRef;                // 140  16
  HostRational GPSImgDirection;              // 144  17
  CString GPSMapDatum;                       // 152  18
  CString GPSDestLatitudeRef;                // 156  19
  HostRational GPSDestLatitude[3];           // 160  20
  CString GPSDestLongitudeRef;               // 184  21
  HostRational GPSDestLongitude[3];          // 188  22
  CString GPSDestBearingRef;                 // 212  23
  HostRational GPSDestBearing;               // 216  24
  CString GPSDestDistanceRef;                // 224  25
  HostRational GPSDestDistance;              // 228  26
  uint32_t reserved_236;                     // 236
  uint32_t mask;                             // 240
  uint32_t mask2;                            // 244
  HostBlob GPSProcessingMethod;              // 248  40
  HostBlob GPSAreaInformation;               // 256  41
  CString GPSDateStamp;                      // 264  42
  uint16_t GPSDifferential;                  // 268  43
  uint16_t reserved_270;                     // 270
};

// GpsInfo::mask bits: bit n for GPS tag n up to 26, then tags 40 to 43.
constexpr uint32_t GPS_VERSION_ID = 0x00000001u;
constexpr uint32_t GPS_LATITUDE_REF = 0x00000002u;
constexpr uint32_t GPS_LATITUDE = 0x00000004u;
constexpr uint32_t GPS_LONGITUDE_REF = 0x00000008u;
constexpr uint32_t GPS_LONGITUDE = 0x00000010u;
constexpr uint32_t GPS_ALTITUDE_REF = 0x00000020u;
constexpr uint32_t GPS_ALTITUDE = 0x00000040u;
constexpr uint32_t GPS_TIME_STAMP = 0x00000080u;
constexpr uint32_t GPS_SATELLITES = 0x00000100u;
constexpr uint32_t GPS_STATUS = 0x00000200u;
constexpr uint32_t GPS_MEASURE_MODE = 0x00000400u;
constexpr uint32_t GPS_DOP = 0x00000800u;
constexpr uint32_t GPS_SPEED_REF = 0x00001000u;
constexpr uint32_t GPS_SPEED = 0x00002000u;
constexpr uint32_t GPS_TRACK_REF = 0x00004000u;
constexpr uint32_t GPS_TRACK = 0x00008000u;
constexpr uint32_t GPS_IMG_DIRECTION_REF = 0x00010000u;
constexpr uint32_t GPS_IMG_DIRECTION = 0x00020000u;
constexpr uint32_t GPS_MAP_DATUM = 0x00040000u;
constexpr uint32_t GPS_DEST_LATITUDE_REF = 0x00080000u;
constexpr uint32_t GPS_DEST_LATITUDE = 0x00100000u;
constexpr uint32_t GPS_DEST_LONGITUDE_REF = 0x00200000u;
constexpr uint32_t GPS_DEST_LONGITUDE = 0x00400000u;
constexpr uint32_t GPS_DEST_BEARING_REF = 0x00800000u;
constexpr uint32_t GPS_DEST_BEARING = 0x01000000u;
constexpr uint32_t GPS_DEST_DISTANCE_REF = 0x02000000u;
constexpr uint32_t GPS_DEST_DISTANCE = 0x04000000u;
constexpr uint32_t GPS_PROCESSING_METHOD = 0x08000000u;
constexpr uint32_t GPS_AREA_INFORMATION = 0x10000000u;
constexpr uint32_t GPS_DATE_STAMP = 0x20000000u;
constexpr uint32_t GPS_DIFFERENTIAL = 0x40000000u;

// What GetStillImageInfo writes through its `out` pointer. With one record
// the pair (type, record) goes into the first two words (`single`, over the
// list's allocator word and sentinel); with more, `list` is emptied and
// receives them. A host zero-fills the union (or ImageInfoListInit's the
// list: the helpers keep allocator_reserved 0), calls, and then:
// single.type != 0 means one record, and the list's old sentinel pointer is
// overwritten (a host that made one keeps a copy to free it); otherwise the
// list holds the records (none when its count is 0).
struct StillImageInfoSingle {
  uint32_t type;
  void* record;
};

union StillImageInfoOut {
  StillImageInfoSingle single;
  ImageInfoList list;
};

// ---- Release helpers ------------------------------------------------------------
// Each frees what the record owns (texts, arrays, blobs) and leaves those
// fields empty; the record itself and its plain fields stay.

inline void ExifTagSetRelease(ExifTagSet* r) {
  ArrayFree(&r->tags);
  CStringFree(&r->Make);
  CStringFree(&r->Model);
}

inline void MakerTagSetRelease(MakerTagSet* r) {
  ArrayFree(&r->tags);
  CStringFree(&r->signature);
}

inline void GpsTagSetRelease(GpsTagSet* r) {
  ArrayFree(&r->tags);
  CStringFree(&r->GPSMapDatum);
  ArrayFree(&r->GPSProcessingMethod);
  ArrayFree(&r->GPSAreaInformation);
  CStringFree(&r->GPSDateStamp);
}

// The three records GetExif fills, as a host that shows one file at a time
// holds them: zero-filled (valid and empty) and released when it goes.
struct GetExifRecords {
  ExifTagSet exif{};
  GpsTagSet gps{};
  MakerTagSet maker{};
  GetExifRecords() = default;
  GetExifRecords(const GetExifRecords&) = delete;
  GetExifRecords& operator=(const GetExifRecords&) = delete;
  ~GetExifRecords() {
    ExifTagSetRelease(&exif);
    GpsTagSetRelease(&gps);
    MakerTagSetRelease(&maker);
  }
};

inline void ImageTextInfoRelease(ImageTextInfo* r) {
  CStringFree(&r->ImageDescription);
  CStringFree(&r->Make);
  CStringFree(&r->Model);
  CStringFree(&r->Software);
}

// Empties the four texts and zeroes the time of a record whose version is
// "0120"; false (record untouched) for any other version.
inline bool ImageTextInfoReset(ImageTextInfo* r) {
  if (memcmp(r->version, kImageTextInfoVersion, sizeof r->version) != 0) return false;
  CStringEmpty(&r->ImageDescription);
  CStringEmpty(&r->Make);
  CStringEmpty(&r->Model);
  CStringEmpty(&r->Software);
  r->capture_time = SYSTEMTIME{};
  return true;
}

inline void TiffInfoRelease(TiffInfo* r) {
  ArrayFree(&r->StripOffsets);
  ArrayFree(&r->StripByteCounts);
  for (CString* text : {&r->DateTime, &r->ImageDescription, &r->Make, &r->Model, &r->Software,
                        &r->Artist, &r->Copyright}) {
    CStringFree(text);
  }
  HostBlobFree(&r->PrintImageMatching);
}

inline void ExifInfoRelease(ExifInfo* r) {
  for (HostBlob* blob : {&r->MakerNote, &r->OECF, &r->SpatialFrequencyResponse, &r->CFAPattern,
                         &r->UserComment, &r->DeviceSettingDescription}) {
    HostBlobFree(blob);
  }
  for (CString* text : {&r->RelatedSoundFile, &r->DateTimeOriginal, &r->DateTimeDigitized,
                        &r->SubSecTime, &r->SubSecTimeOriginal, &r->SubSecTimeDigitized,
                        &r->SpectralSensitivity, &r->InteroperabilityIndex,
                        &r->RelatedImageFileFormat}) {
    CStringFree(text);
  }
  ArrayFree(&r->ISOSpeedRatings);
  ArrayFree(&r->SubjectArea);
}

inline void GpsInfoRelease(GpsInfo* r) {
  for (CString* text :
       {&r->GPSLatitudeRef, &r->GPSLongitudeRef, &r->GPSSatellites, &r->GPSStatus,
        &r->GPSMeasureMode, &r->GPSSpeedRef, &r->GPSTrackRef, &r->GPSImgDirectionRef,
        &r->GPSMapDatum, &r->GPSDestLatitudeRef, &r->GPSDestLongitudeRef, &r->GPSDestBearingRef,
        &r->GPSDestDistanceRef, &r->GPSDateStamp}) {
    CStringFree(text);
  }
  HostBlobFree(&r->GPSProcessingMethod);
  HostBlobFree(&r->GPSAreaInformation);
}

// ---- Records by type code ---------------------------------------------------------
// Type codes as in veltora.h (INFO_*), repeated here as literals so that this
// header stands on its own.

// Size of the record of that type; 0 for a type that has no record.
inline size_t ImageInfoRecordSize(uint32_t type) {
  switch (type) {
    case 0x00000001u:
    case 0x00000002u:
      return sizeof(ImageSummary);
    case 0x00010000u:
    case 0x00020000u:
      return sizeof(TiffInfo);
    case 0x00040000u:
      return sizeof(ExifInfo);
    case 0x00080000u:
      return sizeof(GpsInfo);
    default:
      return 0;
  }
}

// A new zero-filled (hence empty) record of that type, or null for an unknown
// type or a short memory.
inline void* ImageInfoRecordNew(uint32_t type) {
  const size_t size = ImageInfoRecordSize(type);
  return size == 0 ? nullptr : calloc(1, size);
}

// Frees the record with everything it owns. A record of an unknown type is
// freed as one block.
inline void ImageInfoRecordDelete(uint32_t type, void* record) {
  if (record == nullptr) return;
  switch (type) {
    case 0x00010000u:
    case 0x00020000u:
      TiffInfoRelease(static_cast<TiffInfo*>(record));
      break;
    case 0x00040000u:
      ExifInfoRelease(static_cast<ExifInfo*>(record));
      break;
    case 0x00080000u:
      GpsInfoRelease(static_cast<GpsInfo*>(record));
      break;
    default:
      break;
  }
  free(record);
}

// For the host that owns the records of a list: deletes every record, then
// every node (the list stays usable and empty).
inline void ImageInfoListDeleteRecords(ImageInfoList* list) {
  ImageInfoListVisit(list, [](uint32_t type, void* record) { ImageInfoRecordDelete(type, record); });
  ImageInfoListRemoveAll(list);
}

// For the host that owns the records of a list: deletes every record and
// every node, the sentinel too; the list becomes zero-filled (destroyed).
inline void ImageInfoListDestroy(ImageInfoList* list) {
  ImageInfoListDeleteRecords(list);
  ImageInfoListFree(list);
}

#endif  // VELTORA_INTERFACE_HOST_RECORDS_H_
