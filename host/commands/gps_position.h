// The host's GpsTagSet as the subcommands that write a position fill it.
#ifndef VELTORA_HOST_COMMANDS_GPS_POSITION_H_
#define VELTORA_HOST_COMMANDS_GPS_POSITION_H_

#include <cmath>
#include <cstdint>
#include <new>

#include "frame/veltora.h"
#include "host/host_error.h"

namespace veltora::host {

// Degrees, minutes and hundredths of seconds, carried so that 59.995" never
// prints as 60".
inline void ToRationals(double degrees, HostRational out[3]) {
  const double a = std::fabs(degrees);
  auto hundredths = static_cast<uint64_t>(std::llround(a * 360000.0));
  const auto whole = static_cast<uint32_t>(hundredths / 360000);
  hundredths %= 360000;
  out[0] = {whole, 1};
  out[1] = {static_cast<uint32_t>(hundredths / 6000), 1};
  out[2] = {static_cast<uint32_t>(hundredths % 6000), 100};
}

// Owns what the set's text and array members point at.
struct OwnedGpsSet {
  GpsTagSet set{};
  OwnedGpsSet() {
    CStringInit(&set.GPSMapDatum);
    CStringInit(&set.GPSDateStamp);
  }
  ~OwnedGpsSet() {
    ArrayFree(&set.tags);
    CStringFree(&set.GPSMapDatum);
    CStringFree(&set.GPSDateStamp);
  }
  OwnedGpsSet(const OwnedGpsSet&) = delete;
  OwnedGpsSet& operator=(const OwnedGpsSet&) = delete;
  void Add(uint16_t tag) {
    if (ArrayAdd(&set.tags, tag) < 0) throw std::bad_alloc();
  }
  // Latitude and longitude in decimal degrees (south and west < 0), as the
  // four position tags. Throws HostError (a usage error) outside the globe.
  void SetPosition(double lat, double lon) {
    if (std::fabs(lat) > 90 || std::fabs(lon) > 180) {
      throw HostError("--lat must lie within ±90 and --lon within ±180 degrees");
    }
    set.GPSLatitudeRef[0] = lat < 0 ? 'S' : 'N';
    set.GPSLongitudeRef[0] = lon < 0 ? 'W' : 'E';
    ToRationals(lat, set.GPSLatitude);
    ToRationals(lon, set.GPSLongitude);
    for (uint16_t tag : {uint16_t{1}, uint16_t{2}, uint16_t{3}, uint16_t{4}}) Add(tag);
  }
};

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMANDS_GPS_POSITION_H_
