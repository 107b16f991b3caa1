// exiftool's group and tag name for a record field ("ExifIFD:ISO" for the
// ISOSpeedRatings of the Exif record), for tests that hold the records
// against `exiftool -G1`.
#ifndef VELTORA_TESTS_INFO_EXIFTOOL_NAMES_H_
#define VELTORA_TESTS_INFO_EXIFTOOL_NAMES_H_

#include <map>
#include <string>

#include "interface/record_fields.h"

namespace veltora::testing {

inline std::string ExiftoolKey(const std::string& record, const RecordField& f) {
  static const std::map<std::string, std::string> kRenamed = {
      {"ImageLength", "ImageHeight"}, {"DateTime", "ModifyDate"}, {"DateTimeDigitized", "CreateDate"},
      {"ExposureBiasValue", "ExposureCompensation"}, {"ISOSpeedRatings", "ISO"},
      {"PixelXDimension", "ExifImageWidth"}, {"PixelYDimension", "ExifImageHeight"},
      {"FocalLengthIn35mmFilm", "FocalLengthIn35mmFormat"}, {"JPEGInterchangeFormat", "ThumbnailOffset"},
      {"JPEGInterchangeFormatLength", "ThumbnailLength"}, {"InteroperabilityIndex", "InteropIndex"},
      {"InteroperabilityVersion", "InteropVersion"}, {"RelatedImageLength", "RelatedImageHeight"}};
  const std::string group = f.directory == FieldDirectory::kInterop ? "InteropIFD"
                            : record == "TiffMain"                 ? "IFD0"
                            : record == "TiffThumb"                ? "IFD1"
                            : record == "Exif"                     ? "ExifIFD"
                                                                   : "GPS";
  const auto renamed = kRenamed.find(f.name);
  return group + ":" + (renamed != kRenamed.end() ? renamed->second : std::string(f.name));
}

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_INFO_EXIFTOOL_NAMES_H_
