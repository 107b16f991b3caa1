// veltora gps --lat DEG --lon DEG [--alt METRES] [--date YYYY:MM:DD]
// [--datum TEXT] FILE... (-o OUT | --output-dir DIR | --in-place), or
// --remove: writes each file with a GPS directory that holds the given
// position (merged into an existing one), or with none.
#include <fmt/format.h>

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/gps_position.h"
#include "host/edit_batch.h"
#include "host/host_error.h"

namespace veltora::host {
namespace {

struct GpsOptions {
  EditOptions edit;
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
  OwnedGpsSet checked;
  FillSet(options, &checked);  // usage errors before any file
  const auto replace = VELTORA_EXPORT(host.plugin(), ReplaceExifGps);
  return ForEachEdit(host, options.edit, [&](FileReport& report, const std::string& out, bool write) {
    if (options.remove) {
      report.Set("GPS", "removed");
    } else {
      report.Set("GPSLatitude", *options.lat);
      report.Set("GPSLongitude", *options.lon);
    }
    if (!write) return;
    // ReplaceExifGps writes into the set (GPSVersionID): one set per call.
    OwnedGpsSet gps;
    FillSet(options, &gps);
    report.Check("ReplaceExifGps", replace(out.c_str(), report.path().c_str(), 95, &gps.set));
  });
}

CommandAction SetUpGps(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<GpsOptions>();
  DeclaredOption lat = add.Option("--lat", options->lat, "Latitude in decimal degrees (south < 0)");
  DeclaredOption lon = add.Option("--lon", options->lon, "Longitude in decimal degrees (west < 0)");
  DeclaredOption alt = add.Option("--alt", options->alt, "Altitude in metres (below sea level < 0)");
  DeclaredOption date = add.Option("--date", options->date, "GPS date stamp YYYY:MM:DD");
  DeclaredOption datum = add.Option("--datum", options->datum, "Map datum, e.g. WGS-84");
  DeclaredOption remove = add.Flag("--remove", options->remove, "Remove the GPS directory");
  for (const DeclaredOption& o : {lat, lon, alt, date, datum}) remove.Excludes(o);
  AddEditOptions(command, options->edit);
  return [options](Host& host) { return RunGps(host, *options); };
}

const CommandRegistration kGps({"gps", "Write, merge or remove the GPS position", 330,
                                &SetUpGps});

}  // namespace
}  // namespace veltora::host
