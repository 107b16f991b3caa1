// For tests that hold what this system reads against exiftool's view of the
// shared corpus: the corpus's pictures, exiftool's names and how it shows
// values.
#ifndef VELTORA_TESTS_INFO_EXIFTOOL_VIEW_H_
#define VELTORA_TESTS_INFO_EXIFTOOL_VIEW_H_

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "interface/record_fields.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {

// The corpus's JPEG and classic TIFF files, told by their first bytes: files
// without an extension are included, BigTIFF and other formats are not.
inline std::vector<std::filesystem::path> CorpusPictures() {
  std::vector<std::filesystem::path> files;
  const auto dir = CorpusDir();
  for (const auto& item :
       dir ? std::filesystem::directory_iterator(*dir) : std::filesystem::directory_iterator()) {
    std::ifstream in(item.path(), std::ios::binary);
    uint8_t h[4] = {};
    in.read(reinterpret_cast<char*>(h), 4);
    if ((h[0] == 0xFF && h[1] == 0xD8) || (h[0] == 'I' && h[1] == 'I' && h[2] == 42 && h[3] == 0) ||
        (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && h[3] == 42)) {
      files.push_back(item.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The numbers exiftool shows: a JSON number, or a text of numbers split by
// `separator` and holding nothing else; empty for anything else.
template <typename Json>
std::vector<double> ShownNumbers(const Json& shown, char separator = ' ') {
  if (shown.is_number()) return {shown.template get<double>()};
  std::string text = shown.is_string() ? shown.template get<std::string>() : "";
  std::replace(text.begin(), text.end(), separator, ' ');
  std::istringstream in(text);
  std::vector<double> out;
  for (double v; in >> v;) out.push_back(v);
  return in.eof() ? out : std::vector<double>{};
}

// Text without its trailing blanks and NULs.
inline std::string Trimmed(std::string s) {
  s.erase(s.find_last_not_of(std::string(" \0", 2)) + 1);
  return s;
}

// An APEX value as exiftool shows it even with -n: the shutter time or
// f-number it stands for.
inline double ApexAsShown(const std::string& name, double v) {
  if (name == "ShutterSpeedValue") return std::pow(2.0, -v);
  if (name == "ApertureValue" || name == "MaxApertureValue") return std::pow(2.0, v / 2);
  return v;
}

// exiftool's group and tag name for a record field ("ExifIFD:ISO" for the
// ISOSpeedRatings of the Exif record).
inline std::string ExiftoolKey(const std::string& record, const RecordField& f) {
  static const std::map<std::string, std::string> kRenamed = {
      {"ImageLength", "ImageHeight"},
      {"DateTime", "ModifyDate"},
      {"DateTimeDigitized", "CreateDate"},
      {"ExposureBiasValue", "ExposureCompensation"},
      {"ISOSpeedRatings", "ISO"},
      {"PixelXDimension", "ExifImageWidth"},
      {"PixelYDimension", "ExifImageHeight"},
      {"FocalLengthIn35mmFilm", "FocalLengthIn35mmFormat"},
      {"JPEGInterchangeFormat", "ThumbnailOffset"},
      {"JPEGInterchangeFormatLength", "ThumbnailLength"},
      {"InteroperabilityIndex", "InteropIndex"},
      {"InteroperabilityVersion", "InteropVersion"},
      {"RelatedImageLength", "RelatedImageHeight"}};
  const std::string group = f.directory == FieldDirectory::kInterop ? "InteropIFD"
                            : record == "TiffMain"                  ? "IFD0"
                            : record == "TiffThumb"                 ? "IFD1"
                            : record == "Exif"                      ? "ExifIFD"
                                                                    : "GPS";
  const auto renamed = kRenamed.find(f.name);
  return group + ":" + (renamed != kRenamed.end() ? renamed->second : std::string(f.name));
}

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_INFO_EXIFTOOL_VIEW_H_
