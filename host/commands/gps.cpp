// veltora gps IN (-o OUT | --output-dir DIR | --in-place) --lat DEG --lon DEG
// [--alt METRES] [--date YYYY:MM:DD] [--datum TEXT], or ... --remove: writes
// a copy of IN whose GPS directory holds the given position (merged into an
// existing one), or has none.
#include <fmt/format.h>

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/gps_position.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/output_path.h"

namespace veltora::host {
namespace {

struct GpsOptions {
  FileOptions files;
  std::string input;
  OutputOptions output;
  std::optional<double> lat, lon, alt;
  std::string date, datum;
  bool remove = false;
};

void FillSet(const GpsOptions& o, OwnedGpsSet* gps) {
  if (o.remove) return;
  if (!o.lat || !o.lon) throw HostError("give --lat and --lon, or --remove");
  gps->SetPosition(*o.lat, *o.lon);
  GpsTagSet& s = gps->set;
  if (o.alt) {
    s.GPSAltitudeRef = *o.alt < 0 ? 1 : 0;
    s.GPSAltitude = {static_cast<uint32_t>(std::llround(std::fabs(*o.alt) * 100)), 100};
    gps->Add(5);
    gps->Add(6);
  }
  if (!o.datum.empty()) {
    CStringSet(&s.GPSMapDatum, o.datum.c_str());
    gps->Add(18);
  }
  if (!o.date.empty()) {
    if (o.date.size() != 10 || o.date[4] != ':' || o.date[7] != ':') {
      throw HostError("--date must read YYYY:MM:DD");
    }
    CStringSet(&s.GPSDateStamp, o.date.c_str());
    gps->Add(29);
  }
}

int RunGps(Host& host, GpsOptions& options) {
  options.files.files = {options.input};
  ValidateOutputOptions(options.output, 1);
  OwnedGpsSet gps;
  FillSet(options, &gps);
  const auto replace = VELTORA_EXPORT(host.plugin(), ReplaceExifGps);
  return ForEachFile(host, options.files, [&](FileReport& report) {
    std::string refusal;
    const auto out =
        ResolveOutputPath(options.output, report.path(), options.files.files, refusal);
    if (!out) return report.Fail(refusal);
    if (!report.Check("ReplaceExifGps", replace(out->c_str(), report.path().c_str(), 95, &gps.set))) {
      return;
    }
    report.Set("Output", *out);
    if (options.remove) {
      report.Set("GPS", "removed");
    } else {
      report.Set("GPSLatitude", *options.lat);
      report.Set("GPSLongitude", *options.lon);
    }
  });
}

CommandAction SetUpGps(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<GpsOptions>();
  add.Option("IN", options->input, "JPEG or TIFF file with EXIF data").Required();
  DeclaredOption lat = add.Option("--lat", options->lat, "Latitude in decimal degrees (south < 0)");
  DeclaredOption lon = add.Option("--lon", options->lon, "Longitude in decimal degrees (west < 0)");
  DeclaredOption alt = add.Option("--alt", options->alt, "Altitude in metres (below sea level < 0)");
  DeclaredOption date = add.Option("--date", options->date, "GPS date stamp YYYY:MM:DD");
  DeclaredOption datum = add.Option("--datum", options->datum, "Map datum, e.g. WGS-84");
  DeclaredOption remove = add.Flag("--remove", options->remove, "Remove the GPS directory");
  for (const DeclaredOption& o : {lat, lon, alt, date, datum}) remove.Excludes(o);
  AddOutputOptions(command, options->output);
  AddJsonOption(command, options->files.json);
  return [options](Host& host) { return RunGps(host, *options); };
}

const CommandRegistration kGps({"gps", "Write, merge or remove the GPS position", 330,
                                &SetUpGps});

}  // namespace
}  // namespace veltora::host
