// veltora exif FILE...: the attributes GetExif delivers (the standard
// selection, GPS, and the Quorvanta maker note's attributes), only those the
// file has.
#include <fmt/format.h>

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "host/command.h"
#include "host/commands/query_format.h"
#include "host/file_runner.h"

namespace veltora::host {
namespace {

using Records = GetExifRecords;

// A rational field: [n, d] in JSON, "n/d (decimal)" in the table.
template <typename R>
void SetRational(FileReport& report, const char* key, const R& r) {
  report.SetField(key, {r.numerator, r.denominator}, RationalWithDecimal(r.numerator, r.denominator));
}

// Three rationals (degrees, minutes, seconds; hours, minutes, seconds).
void SetTriple(FileReport& report, const char* key, const HostRational* values) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  std::string text;
  for (size_t i = 0; i < 3; ++i) {
    json.push_back({values[i].numerator, values[i].denominator});
    text += (i ? " " : "") + RationalText(values[i].numerator, values[i].denominator);
  }
  report.SetField(key, std::move(json), std::move(text));
}

std::string Bytes(const ByteArray& array) {
  const auto view = ArrayView(&array);
  return HexBytes(std::span<const uint8_t>(view.data(), view.size()));
}

uint32_t U32(const uint8_t (&bytes)[4]) {
  uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

void AddExif(const ExifTagSet& r, FileReport& report) {
  nlohmann::ordered_json& f = report.fields();
  for (uint16_t tag : ArrayView(&r.tags)) {
    switch (tag) {
      case 274: f["Orientation"] = r.Orientation; break;
      case 271: f["Make"] = CStringGet(&r.Make); break;
      case 272: f["Model"] = CStringGet(&r.Model); break;
      case 36864: f["ExifVersion"] = std::string(r.ExifVersion, strnlen(r.ExifVersion, 4)); break;
      case 36867:
        f["DateTimeOriginal"] =
            r.DateTimeOriginal.wYear == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(DateText(r.DateTimeOriginal));
        break;
      case 33434: SetRational(report, "ExposureTime", r.ExposureTime); break;
      case 33437: SetRational(report, "FNumber", r.FNumber); break;
      case 34855: f["ISOSpeedRatings"] = r.ISOSpeedRatings; break;
      case 37377: SetRational(report, "ShutterSpeedValue", r.ShutterSpeedValue); break;
      case 37378: SetRational(report, "ApertureValue", r.ApertureValue); break;
      case 37380: SetRational(report, "ExposureBiasValue", r.ExposureBiasValue); break;
      case 37385: f["Flash"] = r.Flash; break;
      case 41986: f["ExposureMode"] = r.ExposureMode; break;
      case 41987: f["WhiteBalance"] = r.WhiteBalance; break;
      case 41990: f["SceneCaptureType"] = r.SceneCaptureType; break;
      case 41996: f["SubjectDistanceRange"] = r.SubjectDistanceRange; break;
      default: break;
    }
  }
}

std::string Letter(const char (&field)[2]) { return std::string(field, strnlen(field, 2)); }

void AddGps(const GpsTagSet& r, FileReport& report) {
  nlohmann::ordered_json& f = report.fields();
  for (uint16_t tag : ArrayView(&r.tags)) {
    switch (tag) {
      case 0:
        report.SetField("GPSVersionID",
                        {r.GPSVersionID[0], r.GPSVersionID[1], r.GPSVersionID[2], r.GPSVersionID[3]},
                        fmt::format("{}.{}.{}.{}", r.GPSVersionID[0], r.GPSVersionID[1],
                                    r.GPSVersionID[2], r.GPSVersionID[3]));
        break;
      case 1: f["GPSLatitudeRef"] = Letter(r.GPSLatitudeRef); break;
      case 2: SetTriple(report, "GPSLatitude", r.GPSLatitude); break;
      case 3: f["GPSLongitudeRef"] = Letter(r.GPSLongitudeRef); break;
      case 4: SetTriple(report, "GPSLongitude", r.GPSLongitude); break;
      case 5: f["GPSAltitudeRef"] = r.GPSAltitudeRef; break;
      case 6: SetRational(report, "GPSAltitude", r.GPSAltitude); break;
      case 7: SetTriple(report, "GPSTimeStamp", r.GPSTimeStamp); break;
      case 18: f["GPSMapDatum"] = CStringGet(&r.GPSMapDatum); break;
      case 27: f["GPSProcessingMethod"] = Bytes(r.GPSProcessingMethod); break;
      case 28: f["GPSAreaInformation"] = Bytes(r.GPSAreaInformation); break;
      case 29: f["GPSDateStamp"] = CStringGet(&r.GPSDateStamp); break;
      default: break;
    }
  }
}

void AddMaker(const MakerTagSet& r, nlohmann::ordered_json& f) {
  if (r.tags.count == 0) return;
  f["MakerSignature"] = CStringGet(&r.signature);
  for (uint16_t tag : ArrayView(&r.tags)) {
    const std::string key = fmt::format("Maker{}", TagText(tag));
    switch (tag) {
      case 0x0002: f[key] = U32(r.value_0002); break;
      case 0x0026: f[key] = U32(r.value_0026); break;
      case 0x002B: f[key] = U32(r.value_002B); break;
      case 0x0021: f[key] = r.present_0021 != 0; break;
      case 0x0E00: f[key] = r.present_0E00 != 0; break;
      case 0x4950: f[key] = r.present_4950 != 0; break;
      case 0x0033: f[key] = DateText(r.date_0033); break;
      default: {
        const uint16_t* field = nullptr;
        switch (tag) {
          case 0x0001: field = &r.value_0001; break;
          case 0x0003: field = &r.value_0003; break;
          case 0x0007: field = &r.value_0007; break;
          case 0x000F: field = &r.value_000F; break;
          case 0x001A: field = &r.value_001A; break;
          case 0x001C: field = &r.value_001C; break;
          case 0x001F: field = &r.value_001F; break;
          case 0x0020: field = &r.value_0020; break;
          case 0x0022: field = &r.value_0022; break;
          case 0x0027: field = &r.value_0027; break;
          case 0x0028: field = &r.value_0028; break;
          case 0x002A: field = &r.value_002A; break;
          case 0x002D: field = &r.value_002D; break;
          case 0x0032: field = &r.value_0032; break;
          default: break;
        }
        if (field != nullptr) f[key] = *field;
      }
    }
  }
}

CommandAction SetUpExif(CLI::App& command) {
  auto options = std::make_shared<FileOptions>();
  AddFileOptions(command, *options);
  return [options](Host& host) {
    const auto get_exif = VELTORA_EXPORT(host.plugin(), GetExif);
    return ForEachFile(host, *options, [&](FileReport& report) {
      Records records;
      if (!report.Check("GetExif", get_exif(report.path().c_str(), &records.exif, &records.gps,
                                            &records.maker))) {
        return;
      }
      AddExif(records.exif, report);
      AddGps(records.gps, report);
      AddMaker(records.maker, report.fields());
    });
  };
}

const CommandRegistration kExif(
    {"exif", "Print the EXIF, GPS and Quorvanta maker-note attributes of each file", 202,
     &SetUpExif});

}  // namespace
}  // namespace veltora::host
