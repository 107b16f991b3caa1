// veltora copy-exif SOURCE TARGET... (-o OUT | --output-dir DIR |
// --in-place): carries SOURCE's EXIF values into each TARGET: its records
// through AppendExif (what describes SOURCE's own layout left out), its GPS
// position through ReplaceExifGps and its capture date through
// SetDateTimeOriginal. What the exports cannot write (texts and rationals of
// IFD0 and the EXIF directory, e.g. Make, ExposureTime) stays the target's.
#include <filesystem>
#include <random>
#include <system_error>
#include <tuple>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/gps_position.h"
#include "host/commands/query_format.h"
#include "host/edit_batch.h"
#include "host/host_error.h"
#include "host/record_json.h"
#include "host/result_names.h"
#include "host/still_image_records.h"

namespace veltora::host {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

struct CopyExifOptions {
  EditOptions edit;
  std::string source;
};

bool ReadRational(const Json& value, HostRational& into) {
  if (!value.is_array() || value.size() != 2 || !value[0].is_number_unsigned() ||
      !value[1].is_number_unsigned()) {
    return false;
  }
  into = {value[0].get<uint32_t>(), value[1].get<uint32_t>()};
  return true;
}

bool ReadPosition(const Json& gps, const char* ref, const char* name, char ref_out[2],
                  HostRational out[3]) {
  if (!gps.contains(ref) || !gps[ref].is_string() || gps[ref].get<std::string>().size() != 1 ||
      !gps.contains(name) || !gps[name].is_array() || gps[name].size() != 3) {
    return false;
  }
  ref_out[0] = gps[ref].get<std::string>()[0];
  for (size_t i = 0; i < 3; ++i) {
    if (!ReadRational(gps[name][i], out[i])) return false;
  }
  return true;
}

// The source's position as ReplaceExifGps takes it; false when it has none.
bool GpsFromRecord(const Json& document, OwnedGpsSet& gps) {
  if (!document.contains("Gps")) return false;
  const Json& record = document["Gps"];
  GpsTagSet& set = gps.set;
  if (!ReadPosition(record, "GPSLatitudeRef", "GPSLatitude", set.GPSLatitudeRef, set.GPSLatitude) ||
      !ReadPosition(record, "GPSLongitudeRef", "GPSLongitude", set.GPSLongitudeRef, set.GPSLongitude)) {
    return false;
  }
  for (uint16_t tag : {uint16_t{1}, uint16_t{2}, uint16_t{3}, uint16_t{4}}) gps.Add(tag);
  if (record.contains("GPSAltitude") && ReadRational(record["GPSAltitude"], set.GPSAltitude)) {
    set.GPSAltitudeRef = static_cast<uint8_t>(record.value("GPSAltitudeRef", 0));
    gps.Add(5);
    gps.Add(6);
  }
  for (const auto& [name, tag, text] : {std::tuple{"GPSMapDatum", 18, &set.GPSMapDatum},
                                        std::tuple{"GPSDateStamp", 29, &set.GPSDateStamp}}) {
    if (!record.contains(name) || !record[name].is_string()) continue;
    CStringSet(text, record[name].get<std::string>().c_str());
    gps.Add(static_cast<uint16_t>(tag));
  }
  return true;
}

int RunCopyExif(Host& host, CopyExifOptions& options) {
  const auto get = VELTORA_EXPORT(host.plugin(), GetStillImageInfo);
  const auto append = VELTORA_EXPORT(host.plugin(), AppendExif);
  const auto replace_gps = VELTORA_EXPORT(host.plugin(), ReplaceExifGps);
  const auto get_date = VELTORA_EXPORT(host.plugin(), GetDateTimeOriginal);
  const auto set_date = VELTORA_EXPORT(host.plugin(), SetDateTimeOriginal);

  OwnedRecords read;
  const HRESULT found = AppendStillImageRecords(get, options.source, INFO_EXIF_RECORDS, &read);
  if (found < 0) {
    throw HostError(options.source + ": no EXIF records to copy: GetStillImageInfo: " +
                    DescribeResult(found));
  }
  Json document = RecordsToJson(*read.list());
  // The source's thumbnail and picture positions would break the target's.
  DropFileLayout(document);
  OwnedRecords records = RecordsFromJson(document);
  OwnedGpsSet checked;
  const bool has_gps = GpsFromRecord(document, checked);
  SYSTEMTIME date{};
  const bool has_date = get_date(options.source.c_str(), &date) == S_OK;

  return ForEachEdit(host, options.edit, [&](FileReport& report, const std::string& out, bool write) {
    report.Set("Source", options.source);
    if (has_gps) report.Set("GPS", "copied");
    if (has_date) report.Set("DateTimeOriginal", DateText(date));
    if (!write) return;
    // Three exports write in turn: they work on a staged file beside the
    // output, which replaces the output only when all of them succeeded.
    const fs::path output(out);
    const std::string stage =
        (output.parent_path() / ("~vtcopy-" + std::to_string(std::random_device()()) + "-" +
                                 output.filename().string()))
            .string();
    const auto finish = [&] {
      std::error_code error;
      if (!report.failed()) fs::rename(stage, out, error);
      if (error) report.Fail("cannot move the result to " + out + ": " + error.message(), "write failed");
      fs::remove(stage, error);
    };
    report.SetWrittenPath(stage);
    // ReplaceExifGps writes into the set (GPSVersionID): one set per call.
    OwnedGpsSet gps;
    if (has_gps) GpsFromRecord(document, gps);
    if (!report.Check("AppendExif", append(stage.c_str(), report.path().c_str(), records.list(), 0)) ||
        (has_gps && !report.Check("ReplaceExifGps", replace_gps(stage.c_str(), stage.c_str(), 95, &gps.set)))) {
      return finish();
    }
    // The date is patched where the target keeps one; a target without that
    // text gets none, which the field says rather than failing the copy.
    if (has_date && set_date(stage.c_str(), date) == E_FAIL) {
      report.Set("DateTimeOriginal", "not copied: the target has no DateTimeOriginal text to patch");
    }
    finish();
  });
}

CommandAction SetUpCopyExif(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<CopyExifOptions>();
  add.Option("SOURCE", options->source, "File whose EXIF values are copied").Required();
  AddEditOptions(command, options->edit);
  add.Footer(
      "Copied: every value of at most 4 bytes (orientation, flash, metering, white balance, ...),\n"
      "the GPS position and the capture date. The target keeps its own thumbnail, picture\n"
      "layout and the texts and rationals the plug-in cannot merge (Make, Model, ExposureTime).");
  return [options](Host& host) { return RunCopyExif(host, *options); };
}

const CommandRegistration kCopyExif({"copy-exif", "Copy another file's EXIF values into files", 355,
                                     &SetUpCopyExif});

}  // namespace
}  // namespace veltora::host
