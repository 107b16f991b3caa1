#include "host/record_table.h"

#include <nlohmann/json.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace veltora::host {
namespace {

using Json = nlohmann::ordered_json;
using Names = std::map<uint32_t, const char*>;

// Values worth a name, by field; any other value shows as "unknown (n)".
const std::map<std::string_view, Names>& EnumeratedFields() {
  static const Names kUnit = {{1, "none"}, {2, "inches"}, {3, "cm"}};
  static const Names kLevel = {{0, "normal"}, {1, "low"}, {2, "high"}};
  static const std::map<std::string_view, Names> kFields = {
      {"Orientation",
       {{1, "normal"},
        {2, "mirrored left-right"},
        {3, "rotated 180"},
        {4, "mirrored top-bottom"},
        {5, "mirrored, rotated 270 CW"},
        {6, "rotated 90 CW"},
        {7, "mirrored, rotated 90 CW"},
        {8, "rotated 270 CW"}}},
      {"ResolutionUnit", kUnit},
      {"FocalPlaneResolutionUnit", kUnit},
      {"Compression", {{1, "uncompressed"}, {5, "LZW"}, {6, "JPEG (old style)"}, {7, "JPEG"}, {8, "Deflate"}, {32773, "PackBits"}}},
      {"PhotometricInterpretation", {{0, "white is zero"}, {1, "black is zero"}, {2, "RGB"}, {3, "palette"}, {6, "YCbCr"}}},
      {"PlanarConfiguration", {{1, "chunky"}, {2, "planar"}}},
      {"YCbCrPositioning", {{1, "centred"}, {2, "co-sited"}}},
      {"ExposureProgram",
       {{0, "not defined"}, {1, "manual"}, {2, "program AE"}, {3, "aperture priority"}, {4, "shutter priority"},
        {5, "creative (slow speed)"}, {6, "action (high speed)"}, {7, "portrait"}, {8, "landscape"}}},
      {"MeteringMode",
       {{0, "unknown"}, {1, "average"}, {2, "centre-weighted average"}, {3, "spot"}, {4, "multi-spot"},
        {5, "multi-segment"}, {6, "partial"}, {255, "other"}}},
      {"LightSource",
       {{0, "unknown"}, {1, "daylight"}, {2, "fluorescent"}, {3, "tungsten"}, {4, "flash"}, {9, "fine weather"},
        {10, "cloudy"}, {11, "shade"}, {17, "standard light A"}, {18, "standard light B"},
        {19, "standard light C"}, {20, "D55"}, {21, "D65"}, {22, "D75"}, {255, "other"}}},
      {"ColorSpace", {{1, "sRGB"}, {2, "Adobe RGB"}, {65535, "uncalibrated"}}},
      {"SensingMethod",
       {{1, "not defined"}, {2, "one-chip colour area"}, {3, "two-chip colour area"}, {4, "three-chip colour area"},
        {5, "colour sequential area"}, {7, "trilinear"}, {8, "colour sequential linear"}}},
      {"FileSource", {{1, "film scanner"}, {2, "reflection print scanner"}, {3, "digital camera"}}},
      {"SceneType", {{1, "directly photographed"}}},
      {"CustomRendered", {{0, "normal"}, {1, "custom"}}},
      {"ExposureMode", {{0, "auto"}, {1, "manual"}, {2, "auto bracket"}}},
      {"WhiteBalance", {{0, "auto"}, {1, "manual"}}},
      {"SceneCaptureType", {{0, "standard"}, {1, "landscape"}, {2, "portrait"}, {3, "night"}}},
      {"GainControl", {{0, "none"}, {1, "low gain up"}, {2, "high gain up"}, {3, "low gain down"}, {4, "high gain down"}}},
      {"Contrast", kLevel},
      {"Saturation", kLevel},
      {"Sharpness", {{0, "normal"}, {1, "soft"}, {2, "hard"}}},
      {"SubjectDistanceRange", {{0, "unknown"}, {1, "macro"}, {2, "close"}, {3, "distant"}}},
      {"GPSAltitudeRef", {{0, "above sea level"}, {1, "below sea level"}}},
      {"GPSDifferential", {{0, "no correction"}, {1, "differential corrected"}}},
  };
  return kFields;
}

// Up to `places` decimals, trailing zeros dropped: 2.8, 72, 0.0035.
std::string Decimal(double v, int places = 4) {
  std::string text = fmt::format("{:.{}f}", v, places);
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

// A [numerator, denominator] pair's value; nullopt for a zero denominator.
std::optional<double> Ratio(const Json& pair) {
  if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number() || !pair[1].is_number()) return std::nullopt;
  const double d = pair[1].get<double>();
  if (d == 0) return std::nullopt;
  return pair[0].get<double>() / d;
}

std::string RawRational(const Json& pair) { return fmt::format("{}/{}", pair[0].dump(), pair[1].dump()); }

std::string Joined(const Json& items, std::string (*one)(const Json&), size_t shown = SIZE_MAX) {
  std::string text;
  size_t i = 0;
  for (const Json& item : items) {
    if (i == shown) return text + fmt::format(" ... ({} values)", items.size());
    text += (i++ ? " " : "") + one(item);
  }
  return text;
}

std::string Plain(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ExposureText(double seconds) {
  if (seconds > 0 && seconds < 1) return fmt::format("1/{} s", Decimal(1 / seconds, 1));
  return Decimal(seconds, 2) + " s";
}

std::string FlashText(uint32_t flash) {
  if ((flash & 0x20) != 0) return "no flash function";
  std::string text = (flash & 1) != 0 ? "fired" : "did not fire";
  switch ((flash >> 3) & 3) {
    case 1: text += ", compulsory"; break;
    case 2: text += ", suppressed"; break;
    case 3: text += ", auto"; break;
    default: break;
  }
  if ((flash & 0x40) != 0) text += ", red-eye reduction";
  return text;
}

// Degrees, minutes and seconds as decimal degrees with their reference
// letter: "48.8584 N".
std::string DegreesText(const Json& triple, const Json& record, const std::string& ref_key) {
  double degrees = 0;
  double scale = 1;
  for (const Json& pair : triple) {
    const std::optional<double> part = Ratio(pair);
    if (!part) return Joined(triple, RawRational);
    degrees += *part / scale;
    scale *= 60;
  }
  const std::string ref = record.value(ref_key, Json("")).is_string() ? record.value(ref_key, "") : "";
  return Decimal(degrees) + (ref.empty() ? "" : " " + ref);
}

// The text of a UserComment: its 8-byte character code, then the comment.
std::string UserCommentText(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  if (bytes.size() < 8) return fmt::format("({} bytes)", bytes.size());
  const std::string code = bytes.substr(0, 8);
  std::string text = bytes.substr(8);
  text.erase(text.find_last_not_of(std::string_view("\0 ", 2)) + 1);
  const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (text.empty()) return "(empty)";
  if (printable && (code.rfind("ASCII", 0) == 0 || code == std::string(8, '\0'))) return text;
  return fmt::format("({} bytes, {})", bytes.size(), code.substr(0, code.find('\0')));
}

std::string ReadableValue(const RecordField& f, const Json& value, const Json& record) {
  const std::string name = f.name;
  if (const auto names = EnumeratedFields().find(name); names != EnumeratedFields().end() && value.is_number()) {
    const auto n = value.get<uint32_t>();
    const auto found = names->second.find(n);
    return found != names->second.end() ? found->second : fmt::format("unknown ({})", n);
  }
  if (name == "Flash" && value.is_number()) return FlashText(value.get<uint32_t>());
  if (f.kind == FieldKind::kRational || f.kind == FieldKind::kSRational) {
    if (f.count == 3 && value.is_array()) {
      if (name == "GPSTimeStamp") {
        const auto h = Ratio(value[0]), m = Ratio(value[1]), s = Ratio(value[2]);
        if (h && m && s) return fmt::format("{:02}:{:02}:{}{} UTC", *h, *m, *s < 10 ? "0" : "", Decimal(*s, 2));
        return Joined(value, RawRational);
      }
      return DegreesText(value, record, name + "Ref");
    }
    if (f.count != 1) return Joined(value, [](const Json& p) { return Ratio(p) ? Decimal(*Ratio(p)) : RawRational(p); });
    const std::optional<double> v = Ratio(value);
    if (!v) return RawRational(value) + " (undefined)";
    if (name == "ExposureTime") return ExposureText(*v);
    if (name == "FNumber") return "f/" + Decimal(*v, 1);
    if (name == "ApertureValue" || name == "MaxApertureValue") return "f/" + Decimal(std::pow(2.0, *v / 2), 1);
    if (name == "ShutterSpeedValue") return ExposureText(std::pow(2.0, -*v));
    if (name == "ExposureBiasValue") return (*v > 0 ? "+" : "") + Decimal(*v, 2) + " EV";
    if (name == "BrightnessValue") return Decimal(*v, 2) + " EV";
    if (name == "FocalLength") return Decimal(*v, 1) + " mm";
    if (name == "SubjectDistance") return Decimal(*v, 2) + " m";
    if (name == "GPSAltitude") return Decimal(*v, 1) + " m" + (record.value("GPSAltitudeRef", 0) == 1 ? " below sea level" : "");
    if (name == "GPSImgDirection" || name == "GPSTrack" || name == "GPSDestBearing") return Decimal(*v, 2) + " degrees";
    return Decimal(*v);
  }
  if (name == "FocalLengthIn35mmFilm") return Plain(value) + " mm";
  if (name == "UserComment" && value.is_string()) return UserCommentText(value.get<std::string>());
  if (name == "ComponentsConfiguration" && value.is_string()) {
    static const char* const kComponents[] = {"-", "Y", "Cb", "Cr", "R", "G", "B"};
    std::string text;
    for (size_t i = 0; i + 1 < value.get<std::string>().size(); i += 2) {
      const int c = std::stoi(value.get<std::string>().substr(i, 2), nullptr, 16);
      text += (i ? " " : "") + std::string(c < 7 ? kComponents[c] : "?");
    }
    return text;
  }
  if (name == "GPSVersionID" && value.is_string() && value.get<std::string>().size() == 8) {
    const std::string& hex = value.get_ref<const std::string&>();
    return fmt::format("{}.{}.{}.{}", std::stoi(hex.substr(0, 2), nullptr, 16), std::stoi(hex.substr(2, 2), nullptr, 16),
                       std::stoi(hex.substr(4, 2), nullptr, 16), std::stoi(hex.substr(6, 2), nullptr, 16));
  }
  if (f.kind == FieldKind::kBlob) return fmt::format("({} bytes)", value.get<std::string>().size() / 2);
  if (name == "TransferFunction") return fmt::format("({} values)", value.size());
  if (value.is_array()) return Joined(value, Plain, 8);
  if (value.is_object()) return "(not UTF-8) " + value.value("hex", "");
  return Plain(value);
}

std::string RawValue(const RecordField& f, const Json& value) {
  if (f.kind == FieldKind::kRational || f.kind == FieldKind::kSRational) {
    return f.count == 1 ? RawRational(value) : Joined(value, RawRational);
  }
  if (value.is_array()) return Joined(value, Plain);
  if (value.is_object()) return "hex " + value.value("hex", "");
  // Blobs (maker notes run to kilobytes) show their first bytes.
  constexpr size_t kHexShown = 64;
  if (f.kind == FieldKind::kBlob && value.get<std::string>().size() > kHexShown) {
    return fmt::format("{}... ({} bytes)", value.get<std::string>().substr(0, kHexShown),
                       value.get<std::string>().size() / 2);
  }
  return Plain(value);
}

struct Section {
  const char* record;
  FieldDirectory directory;
  const char* title;
};
constexpr Section kSections[] = {
    {"TiffMain", FieldDirectory::kTiff, "IFD0 (primary image)"},
    {"Exif", FieldDirectory::kExif, "EXIF"},
    {"Exif", FieldDirectory::kInterop, "Interoperability"},
    {"Gps", FieldDirectory::kGps, "GPS"},
    {"TiffThumb", FieldDirectory::kTiff, "IFD1 (thumbnail)"},
};

std::string SummaryText(const Json& summary) {
  std::string text = fmt::format("{} x {}, {} bits per pixel", summary.value("width", 0u),
                                 summary.value("height", 0u), summary.value("bits_per_pixel", 0u));
  const Json name = summary.value("format_name", Json(""));
  if (name.is_string() && !name.get<std::string>().empty()) text += ", " + name.get<std::string>();
  return text;
}

}  // namespace

std::string FieldTableText(const RecordField& field, const Json& value, const Json& record, bool raw) {
  try {
    return raw ? RawValue(field, value) : ReadableValue(field, value, record);
  } catch (const std::exception&) {
    return RawValue(field, value);  // a value of an unexpected shape is shown as stored
  }
}

void PrintRecordTable(std::FILE* out, const Json& records, bool raw) {
  std::vector<std::pair<std::string, std::string>> rows;
  const auto row = [&](std::string key, std::string text) { rows.emplace_back(std::move(key), std::move(text)); };
  row("Picture", records.contains("Image") ? SummaryText(records["Image"]) : "not described");
  row("Preview", records.contains("Thumbnail") ? SummaryText(records["Thumbnail"]) : "none");
  bool any_exif = false;
  for (const Section& section : kSections) {
    if (!records.contains(section.record)) continue;
    any_exif = true;
    const Json& record = records[section.record];
    const auto schema = std::find_if(RecordSchemas().begin(), RecordSchemas().end(),
                                     [&](const RecordSchema& s) { return std::string_view(s.name) == section.record; });
    bool titled = false;
    for (const RecordField& f : schema->fields) {
      if (f.directory != section.directory || f.kind == FieldKind::kFlag || !record.contains(f.name)) continue;
      if (!titled) row(fmt::format("-- {}", section.title), "");
      titled = true;
      row(f.name, FieldTableText(f, record[f.name], record, raw));
    }
  }
  if (!any_exif) row("EXIF", "none");
  size_t width = 0;
  for (const auto& [key, text] : rows) {
    if (!text.empty()) width = std::max(width, key.size());
  }
  for (const auto& [key, text] : rows) {
    if (text.empty()) {
      fmt::print(out, "{}\n", key);
    } else {
      fmt::print(out, "{:<{}} : {}\n", key, width, text);
    }
  }
}

}  // namespace veltora::host
