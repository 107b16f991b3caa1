#include "create/exif_block_builder.h"

#include <cstring>
#include <span>
#include <string_view>

#include "bytes/byte_order.h"
#include "edit/directory_writer.h"
#include "exif/tiff_value.h"

namespace veltora::create {
namespace {

using edit::DirectoryItem;
using exif::kLittleEndian;
constexpr uint32_t kInfoTiffMain = 0x00010000u;
constexpr uint32_t kInfoTiffThumb = 0x00020000u;
constexpr uint32_t kInfoExif = 0x00040000u;
constexpr uint32_t kInfoGps = 0x00080000u;
constexpr uint32_t kTiffHeaderSize = 8;
constexpr uint16_t kTagExifPointer = 34665;
constexpr uint16_t kTagGpsPointer = 34853;
constexpr uint16_t kTagInteropPointer = 40965;
constexpr uint16_t kTagPrintImageMatching = 50341;
constexpr uint16_t kTagJpegInterchangeFormat = 513;
constexpr uint16_t kTagJpegInterchangeFormatLength = 514;
constexpr uint16_t kTypeWordShort = 3;

// Collects the entries of one directory in the order they are written. A
// field that cannot be described (negative text length, an array whose count
// has no elements) marks the whole list bad: the block is then refused rather
// than written with a value the record does not hold.
class Items {
 public:
  std::vector<DirectoryItem>& list() { return items_; }
  bool ok() const { return ok_; }

  void Raw(uint16_t tag, uint16_t type, uint32_t count, std::span<const uint8_t> bytes) {
    DirectoryItem item;
    item.tag = tag;
    item.type = type;
    item.count = count;
    if (bytes.size() <= 4) {
      std::memcpy(item.field, bytes.data(), bytes.size());
    } else {
      item.value.assign(bytes.begin(), bytes.end());
    }
    items_.push_back(std::move(item));
  }
  void Short(uint16_t tag, uint16_t value) { Shorts(tag, std::span<const uint16_t>(&value, 1)); }
  void Shorts(uint16_t tag, std::span<const uint16_t> values) {
    std::vector<uint8_t> bytes(values.size() * 2);
    for (size_t i = 0; i < values.size(); ++i) exif::Write16(&bytes[i * 2], values[i], kLittleEndian);
    Raw(tag, exif::kTypeShort, static_cast<uint32_t>(values.size()), bytes);
  }
  void Long(uint16_t tag, uint32_t value) {
    uint8_t bytes[4];
    exif::Write32(bytes, value, kLittleEndian);
    Raw(tag, exif::kTypeLong, 1, bytes);
  }
  // A sized value or a LongArray: SHORT (low 16 bits) when the type word is 3.
  void ShortOrLong(uint16_t tag, std::span<const uint32_t> values, uint16_t type_word) {
    const bool as_short = type_word == kTypeWordShort;
    const size_t unit = as_short ? 2 : 4;
    std::vector<uint8_t> bytes(values.size() * unit);
    for (size_t i = 0; i < values.size(); ++i) {
      if (as_short) {
        exif::Write16(&bytes[i * unit], static_cast<uint16_t>(values[i]), kLittleEndian);
      } else {
        exif::Write32(&bytes[i * unit], values[i], kLittleEndian);
      }
    }
    Raw(tag, as_short ? exif::kTypeShort : exif::kTypeLong, static_cast<uint32_t>(values.size()),
        bytes);
  }
  void Rationals(uint16_t tag, std::span<const HostRational> values) {
    std::vector<uint8_t> bytes(values.size() * 8);
    for (size_t i = 0; i < values.size(); ++i) {
      exif::Write32(&bytes[i * 8], values[i].numerator, kLittleEndian);
      exif::Write32(&bytes[i * 8 + 4], values[i].denominator, kLittleEndian);
    }
    Raw(tag, exif::kTypeRational, static_cast<uint32_t>(values.size()), bytes);
  }
  void SRational(uint16_t tag, const HostSRational& value) {
    uint8_t bytes[8];
    exif::Write32(bytes, static_cast<uint32_t>(value.numerator), kLittleEndian);
    exif::Write32(bytes + 4, static_cast<uint32_t>(value.denominator), kLittleEndian);
    Raw(tag, exif::kTypeSRational, 1, bytes);
  }
  // The text and its NUL: count = length + 1.
  void Ascii(uint16_t tag, const CString& text) {
    const int32_t length = CStringLength(&text);
    if (length < 0 || (length > 0 && text.chars == nullptr)) {
      ok_ = false;
      return;
    }
    const auto n = static_cast<size_t>(length);
    std::vector<uint8_t> bytes(n + 1, 0);
    if (n != 0) std::memcpy(bytes.data(), text.chars, n);
    Raw(tag, exif::kTypeAscii, static_cast<uint32_t>(n + 1), bytes);
  }
  void Undefined(uint16_t tag, std::span<const uint8_t> bytes) {
    Raw(tag, exif::kTypeUndefined, static_cast<uint32_t>(bytes.size()), bytes);
  }
  void Blob(uint16_t tag, const HostBlob& blob) {
    if (blob.size != 0 && blob.data == nullptr) {
      ok_ = false;
      return;
    }
    Undefined(tag, {blob.data, blob.size});
  }
  template <typename T>
  std::span<const T> Elements(const HostArray<T>& array) {
    if (array.count > 0 && array.elements == nullptr) ok_ = false;
    return ArrayView(&array);
  }

 private:
  std::vector<DirectoryItem> items_;
  bool ok_ = true;
};

std::span<const uint8_t> Bytes4(const void* field) {
  return {static_cast<const uint8_t*>(field), 4};
}

// The TiffInfo table in write order. IFD0 leaves JPEGInterchangeFormat and
// its length out (they describe a thumbnail); IFD1 writes both with values
// filled in later.
void AddTiffEntries(const TiffInfo& r, bool thumbnail, Items& out) {
  const uint32_t m = r.mask1;
  auto has = [m](uint32_t bit) { return (m & bit) != 0; };
  if (has(TIFF_M1_IMAGE_WIDTH)) out.ShortOrLong(256, {&r.ImageWidth, 1}, r.ImageWidthType);
  if (has(TIFF_M1_IMAGE_LENGTH)) out.ShortOrLong(257, {&r.ImageLength, 1}, r.ImageLengthType);
  if (has(TIFF_M1_BITS_PER_SAMPLE)) out.Shorts(258, r.BitsPerSample);
  if (has(TIFF_M1_COMPRESSION)) out.Short(259, r.Compression);
  if (has(TIFF_M1_PHOTOMETRIC_INTERPRETATION)) out.Short(262, r.PhotometricInterpretation);
  if (has(TIFF_M1_IMAGE_DESCRIPTION)) out.Ascii(270, r.ImageDescription);
  if (has(TIFF_M1_MAKE)) out.Ascii(271, r.Make);
  if (has(TIFF_M1_MODEL)) out.Ascii(272, r.Model);
  if (has(TIFF_M1_STRIP_OFFSETS)) {
    out.ShortOrLong(273, out.Elements(r.StripOffsets), r.StripOffsetsType);
  }
  if (has(TIFF_M1_ORIENTATION)) out.Short(274, r.Orientation);
  if (has(TIFF_M1_SAMPLES_PER_PIXEL)) out.Short(277, r.SamplesPerPixel);
  if (has(TIFF_M1_ROWS_PER_STRIP)) out.ShortOrLong(278, {&r.RowsPerStrip, 1}, r.RowsPerStripType);
  if (has(TIFF_M1_STRIP_BYTE_COUNTS)) {
    out.ShortOrLong(279, out.Elements(r.StripByteCounts), r.StripByteCountsType);
  }
  if (has(TIFF_M1_X_RESOLUTION)) out.Rationals(282, {&r.XResolution, 1});
  if (has(TIFF_M1_Y_RESOLUTION)) out.Rationals(283, {&r.YResolution, 1});
  if (has(TIFF_M1_PLANAR_CONFIGURATION)) out.Short(284, r.PlanarConfiguration);
  if (has(TIFF_M1_RESOLUTION_UNIT)) out.Short(296, r.ResolutionUnit);
  if (has(TIFF_M1_TRANSFER_FUNCTION)) out.Shorts(301, r.TransferFunction);
  if (has(TIFF_M1_SOFTWARE)) out.Ascii(305, r.Software);
  if (has(TIFF_M1_DATE_TIME)) out.Ascii(306, r.DateTime);
  if (has(TIFF_M1_ARTIST)) out.Ascii(315, r.Artist);
  if (has(TIFF_M1_WHITE_POINT)) out.Rationals(318, r.WhitePoint);
  if (has(TIFF_M1_PRIMARY_CHROMATICITIES)) out.Rationals(319, r.PrimaryChromaticities);
  if (thumbnail && has(TIFF_M1_JPEG_INTERCHANGE_FORMAT)) out.Long(kTagJpegInterchangeFormat, 0);
  if (thumbnail && has(TIFF_M1_JPEG_INTERCHANGE_FORMAT_LENGTH)) {
    out.Long(kTagJpegInterchangeFormatLength, 0);
  }
  if (has(TIFF_M1_YCBCR_COEFFICIENTS)) out.Rationals(529, r.YCbCrCoefficients);
  if (has(TIFF_M1_YCBCR_SUB_SAMPLING)) out.Shorts(530, r.YCbCrSubSampling);
  if (has(TIFF_M1_YCBCR_POSITIONING)) out.Short(531, r.YCbCrPositioning);
  if (has(TIFF_M1_REFERENCE_BLACK_WHITE)) out.Rationals(532, r.ReferenceBlackWhite);
  if (has(TIFF_M1_COPYRIGHT)) out.Ascii(33432, r.Copyright);
}

// The ExifInfo table in write order; the Interoperability pointer (value
// filled in later) stands after RelatedSoundFile.
void AddExifEntries(const ExifInfo& r, Items& out) {
  auto l = [&r](uint32_t bit) { return (r.mask_l & bit) != 0; };
  auto h = [&r](uint32_t bit) { return (r.mask_h & bit) != 0; };
  if (l(EXIF_L_EXPOSURE_TIME)) out.Rationals(33434, {&r.ExposureTime, 1});
  if (l(EXIF_L_F_NUMBER)) out.Rationals(33437, {&r.FNumber, 1});
  if (l(EXIF_L_EXPOSURE_PROGRAM)) out.Short(34850, r.ExposureProgram);
  if (l(EXIF_L_SPECTRAL_SENSITIVITY)) out.Ascii(34852, r.SpectralSensitivity);
  if (l(EXIF_L_ISO_SPEED_RATINGS)) out.Shorts(34855, out.Elements(r.ISOSpeedRatings));
  if (l(EXIF_L_OECF)) out.Blob(34856, r.OECF);
  if (l(EXIF_L_EXIF_VERSION)) out.Undefined(36864, Bytes4(r.ExifVersion));
  if (l(EXIF_L_DATE_TIME_ORIGINAL)) out.Ascii(36867, r.DateTimeOriginal);
  if (l(EXIF_L_DATE_TIME_DIGITIZED)) out.Ascii(36868, r.DateTimeDigitized);
  if (l(EXIF_L_COMPONENTS_CONFIGURATION)) out.Undefined(37121, Bytes4(r.ComponentsConfiguration));
  if (l(EXIF_L_COMPRESSED_BITS_PER_PIXEL)) out.Rationals(37122, {&r.CompressedBitsPerPixel, 1});
  if (l(EXIF_L_SHUTTER_SPEED_VALUE)) out.SRational(37377, r.ShutterSpeedValue);
  if (l(EXIF_L_APERTURE_VALUE)) out.Rationals(37378, {&r.ApertureValue, 1});
  if (l(EXIF_L_BRIGHTNESS_VALUE)) out.SRational(37379, r.BrightnessValue);
  if (l(EXIF_L_EXPOSURE_BIAS_VALUE)) out.SRational(37380, r.ExposureBiasValue);
  if (l(EXIF_L_MAX_APERTURE_VALUE)) out.Rationals(37381, {&r.MaxApertureValue, 1});
  if (l(EXIF_L_SUBJECT_DISTANCE)) out.Rationals(37382, {&r.SubjectDistance, 1});
  if (l(EXIF_L_METERING_MODE)) out.Short(37383, r.MeteringMode);
  if (l(EXIF_L_LIGHT_SOURCE)) out.Short(37384, r.LightSource);
  if (l(EXIF_L_FLASH)) out.Short(37385, r.Flash);
  if (l(EXIF_L_FOCAL_LENGTH)) out.Rationals(37386, {&r.FocalLength, 1});
  if (h(EXIF_H_SUBJECT_AREA)) out.Shorts(37396, out.Elements(r.SubjectArea));
  if (l(EXIF_L_MAKER_NOTE)) out.Blob(37500, r.MakerNote);
  if (h(EXIF_H_USER_COMMENT)) out.Blob(37510, r.UserComment);
  if (l(EXIF_L_SUB_SEC_TIME)) out.Ascii(37520, r.SubSecTime);
  if (l(EXIF_L_SUB_SEC_TIME_ORIGINAL)) out.Ascii(37521, r.SubSecTimeOriginal);
  if (l(EXIF_L_SUB_SEC_TIME_DIGITIZED)) out.Ascii(37522, r.SubSecTimeDigitized);
  if (l(EXIF_L_FLASHPIX_VERSION)) out.Undefined(40960, Bytes4(r.FlashpixVersion));
  if (l(EXIF_L_COLOR_SPACE)) out.Short(40961, r.ColorSpace);
  if (l(EXIF_L_PIXEL_X_DIMENSION)) {
    out.ShortOrLong(40962, {&r.PixelXDimension, 1}, r.PixelXDimensionType);
  }
  if (l(EXIF_L_PIXEL_Y_DIMENSION)) {
    out.ShortOrLong(40963, {&r.PixelYDimension, 1}, r.PixelYDimensionType);
  }
  if (l(EXIF_L_RELATED_SOUND_FILE)) out.Ascii(40964, r.RelatedSoundFile);
  if (h(EXIF_H_INTEROP_IFD)) out.Long(kTagInteropPointer, 0);
  if (l(EXIF_L_FLASH_ENERGY)) out.Rationals(41483, {&r.FlashEnergy, 1});
  if (l(EXIF_L_SPATIAL_FREQUENCY_RESPONSE)) out.Blob(41484, r.SpatialFrequencyResponse);
  if (h(EXIF_H_FOCAL_PLANE_X_RESOLUTION)) out.Rationals(41486, {&r.FocalPlaneXResolution, 1});
  if (h(EXIF_H_FOCAL_PLANE_Y_RESOLUTION)) out.Rationals(41487, {&r.FocalPlaneYResolution, 1});
  if (h(EXIF_H_FOCAL_PLANE_RESOLUTION_UNIT)) out.Short(41488, r.FocalPlaneResolutionUnit);
  if (h(EXIF_H_SUBJECT_LOCATION)) out.Shorts(41492, r.SubjectLocation);
  if (h(EXIF_H_EXPOSURE_INDEX)) out.Rationals(41493, {&r.ExposureIndex, 1});
  if (h(EXIF_H_SENSING_METHOD)) out.Short(41495, r.SensingMethod);
  if (h(EXIF_H_FILE_SOURCE)) out.Undefined(41728, {&r.FileSource, 1});
  if (h(EXIF_H_SCENE_TYPE)) out.Undefined(41729, {&r.SceneType, 1});
  if (h(EXIF_H_CFA_PATTERN)) out.Blob(41730, r.CFAPattern);
  if (h(EXIF_H_CUSTOM_RENDERED)) out.Short(41985, r.CustomRendered);
  if (h(EXIF_H_EXPOSURE_MODE)) out.Short(41986, r.ExposureMode);
  if (h(EXIF_H_WHITE_BALANCE)) out.Short(41987, r.WhiteBalance);
  if (h(EXIF_H_DIGITAL_ZOOM_RATIO)) out.Rationals(41988, {&r.DigitalZoomRatio, 1});
  if (h(EXIF_H_FOCAL_LENGTH_IN_35MM_FILM)) out.Short(41989, r.FocalLengthIn35mmFilm);
  if (h(EXIF_H_SCENE_CAPTURE_TYPE)) out.Short(41990, r.SceneCaptureType);
  if (h(EXIF_H_GAIN_CONTROL)) out.Short(41991, r.GainControl);
  if (h(EXIF_H_CONTRAST)) out.Short(41992, r.Contrast);
  if (h(EXIF_H_SATURATION)) out.Short(41993, r.Saturation);
  if (h(EXIF_H_SHARPNESS)) out.Short(41994, r.Sharpness);
  if (h(EXIF_H_DEVICE_SETTING_DESCRIPTION)) out.Blob(41995, r.DeviceSettingDescription);
  if (h(EXIF_H_SUBJECT_DISTANCE_RANGE)) out.Short(41996, r.SubjectDistanceRange);
}

void AddInteropEntries(const ExifInfo& r, Items& out) {
  auto i = [&r](uint32_t bit) { return (r.interop_mask & bit) != 0; };
  if (i(INTEROP_INDEX)) out.Ascii(1, r.InteroperabilityIndex);
  if (i(INTEROP_VERSION)) out.Undefined(2, Bytes4(r.InteroperabilityVersion));
  if (i(INTEROP_RELATED_IMAGE_FILE_FORMAT)) out.Ascii(4096, r.RelatedImageFileFormat);
  if (i(INTEROP_RELATED_IMAGE_WIDTH)) out.Long(4097, r.RelatedImageWidth);
  if (i(INTEROP_RELATED_IMAGE_LENGTH)) out.Long(4098, r.RelatedImageLength);
}

void AddGpsEntries(const GpsInfo& r, Items& out) {
  auto g = [&r](uint32_t bit) { return (r.mask & bit) != 0; };
  if (g(GPS_VERSION_ID)) out.Raw(0, exif::kTypeByte, 4, Bytes4(r.GPSVersionID));
  if (g(GPS_LATITUDE_REF)) out.Ascii(1, r.GPSLatitudeRef);
  if (g(GPS_LATITUDE)) out.Rationals(2, r.GPSLatitude);
  if (g(GPS_LONGITUDE_REF)) out.Ascii(3, r.GPSLongitudeRef);
  if (g(GPS_LONGITUDE)) out.Rationals(4, r.GPSLongitude);
  if (g(GPS_ALTITUDE_REF)) out.Raw(5, exif::kTypeByte, 1, {&r.GPSAltitudeRef, 1});
  if (g(GPS_ALTITUDE)) out.Rationals(6, {&r.GPSAltitude, 1});
  if (g(GPS_TIME_STAMP)) out.Rationals(7, r.GPSTimeStamp);
  if (g(GPS_SATELLITES)) out.Ascii(8, r.GPSSatellites);
  if (g(GPS_STATUS)) out.Ascii(9, r.GPSStatus);
  if (g(GPS_MEASURE_MODE)) out.Ascii(10, r.GPSMeasureMode);
  if (g(GPS_DOP)) out.Rationals(11, {&r.GPSDOP, 1});
  if (g(GPS_SPEED_REF)) out.Ascii(12, r.GPSSpeedRef);
  if (g(GPS_SPEED)) out.Rationals(13, {&r.GPSSpeed, 1});
  if (g(GPS_TRACK_REF)) out.Ascii(14, r.GPSTrackRef);
  if (g(GPS_TRACK)) out.Rationals(15, {&r.GPSTrack, 1});
  if (g(GPS_IMG_DIRECTION_REF)) out.Ascii(16, r.GPSImgDirectionRef);
  if (g(GPS_IMG_DIRECTION)) out.Rationals(17, {&r.GPSImgDirection, 1});
  if (g(GPS_MAP_DATUM)) out.Ascii(18, r.GPSMapDatum);
  if (g(GPS_DEST_LATITUDE_REF)) out.Ascii(19, r.GPSDestLatitudeRef);
  if (g(GPS_DEST_LATITUDE)) out.Rationals(20, r.GPSDestLatitude);
  if (g(GPS_DEST_LONGITUDE_REF)) out.Ascii(21, r.GPSDestLongitudeRef);
  if (g(GPS_DEST_LONGITUDE)) out.Rationals(22, r.GPSDestLongitude);
  if (g(GPS_DEST_BEARING_REF)) out.Ascii(23, r.GPSDestBearingRef);
  if (g(GPS_DEST_BEARING)) out.Rationals(24, {&r.GPSDestBearing, 1});
  if (g(GPS_DEST_DISTANCE_REF)) out.Ascii(25, r.GPSDestDistanceRef);
  if (g(GPS_DEST_DISTANCE)) out.Rationals(26, {&r.GPSDestDistance, 1});
  if (g(GPS_PROCESSING_METHOD)) out.Blob(40, r.GPSProcessingMethod);
  if (g(GPS_AREA_INFORMATION)) out.Blob(41, r.GPSAreaInformation);
  if (g(GPS_DATE_STAMP)) out.Ascii(42, r.GPSDateStamp);
  if (g(GPS_DIFFERENTIAL)) out.Short(43, r.GPSDifferential);
}

void SetLongField(std::vector<DirectoryItem>& items, uint16_t tag, uint32_t value) {
  for (DirectoryItem& item : items) {
    if (item.tag == tag) exif::Write32(item.field, value, kLittleEndian);
  }
}

struct Part {
  std::vector<DirectoryItem>* items;
  uint64_t at;
  uint32_t link;
};

}  // namespace

std::optional<std::vector<uint8_t>> BuildExifSegment(const ImageInfoList* list,
                                                     const ThumbnailMaker& make_thumbnail) {
  const auto* main = static_cast<const TiffInfo*>(ImageInfoListFind(list, kInfoTiffMain));
  const auto* exif = static_cast<const ExifInfo*>(ImageInfoListFind(list, kInfoExif));
  if (main == nullptr || exif == nullptr) return std::nullopt;
  const auto* gps = static_cast<const GpsInfo*>(ImageInfoListFind(list, kInfoGps));
  const auto* thumb = static_cast<const TiffInfo*>(ImageInfoListFind(list, kInfoTiffThumb));
  const bool write_gps = gps != nullptr && (gps->mask != 0 || gps->mask2 != 0);
  const bool point_to_exif = exif->mask_l != 0 || exif->mask_h != 0;

  Items ifd0, exif_ifd, interop, gps_ifd, ifd1;
  AddTiffEntries(*main, false, ifd0);
  if (point_to_exif) ifd0.Long(kTagExifPointer, 0);
  if (write_gps) ifd0.Long(kTagGpsPointer, 0);
  if ((main->mask2 & TIFF_M2_PRINT_IMAGE_MATCHING) != 0) {
    ifd0.Blob(kTagPrintImageMatching, main->PrintImageMatching);
  }
  AddExifEntries(*exif, exif_ifd);
  AddInteropEntries(*exif, interop);
  if (write_gps) AddGpsEntries(*gps, gps_ifd);
  if (thumb != nullptr) AddTiffEntries(*thumb, true, ifd1);
  for (Items* items : {&ifd0, &exif_ifd, &interop, &gps_ifd, &ifd1}) {
    if (!items->ok()) return std::nullopt;
  }

  // Every size is known before anything is written, so each pointer is
  // filled in first and every directory is written once, in place.
  constexpr auto kPadding = edit::ValuePadding::kBuiltBlock;
  std::vector<Part> parts;
  uint64_t end = kTiffHeaderSize;
  auto place = [&](Items& items) {
    parts.push_back({&items.list(), end, 0});
    end += edit::DirectorySize(items.list(), kPadding);
    return parts.back().at;
  };
  place(ifd0);
  const uint64_t exif_at = place(exif_ifd);
  const uint64_t interop_at = place(interop);
  const uint64_t gps_at = write_gps ? place(gps_ifd) : 0;
  const uint64_t ifd1_at = thumb != nullptr ? place(ifd1) : 0;
  if (end > kMaxBuiltTiffSize) return std::nullopt;  // before the thumbnail is made

  std::vector<uint8_t> thumbnail;
  if (thumb != nullptr) {
    if (!make_thumbnail || !make_thumbnail(&thumbnail)) return std::nullopt;
    // Discarded with the block when it does not fit.
    if (thumbnail.size() > kMaxBuiltTiffSize - end) return std::nullopt;
    SetLongField(ifd1.list(), kTagJpegInterchangeFormat, static_cast<uint32_t>(end));
    SetLongField(ifd1.list(), kTagJpegInterchangeFormatLength,
                 static_cast<uint32_t>(thumbnail.size()));
    parts.front().link = static_cast<uint32_t>(ifd1_at);
  }
  SetLongField(ifd0.list(), kTagExifPointer, static_cast<uint32_t>(exif_at));
  SetLongField(ifd0.list(), kTagGpsPointer, static_cast<uint32_t>(gps_at));
  SetLongField(exif_ifd.list(), kTagInteropPointer, static_cast<uint32_t>(interop_at));

  const uint64_t tiff_size = end + thumbnail.size();
  std::vector<uint8_t> segment(kSegmentHeadSize + tiff_size, 0);
  const std::span<uint8_t> tiff = std::span<uint8_t>(segment).subspan(kSegmentHeadSize);
  segment[0] = 0xFF;
  segment[1] = 0xE1;
  exif::Write16(&segment[2], static_cast<uint16_t>(tiff_size + 8), exif::kBigEndian);
  std::memcpy(&segment[4], "Exif\0\0", 6);
  std::memcpy(tiff.data(), "II", 2);
  exif::Write16(&tiff[2], 42, kLittleEndian);
  exif::Write32(&tiff[4], kTiffHeaderSize, kLittleEndian);
  for (Part& part : parts) {
    edit::WriteDirectory(tiff.subspan(static_cast<size_t>(part.at)), static_cast<uint32_t>(part.at),
                         *part.items, part.link, kLittleEndian, kPadding);
  }
  if (!thumbnail.empty()) std::memcpy(&tiff[static_cast<size_t>(end)], thumbnail.data(), thumbnail.size());
  return segment;
}

}  // namespace veltora::create
