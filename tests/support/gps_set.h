// A GpsTagSet that owns its arrays, built through the chief header alone, so
// that the tests, the programs that load the plug-in and the benchmarks
// share it.
#ifndef VELTORA_TESTS_SUPPORT_GPS_SET_H_
#define VELTORA_TESTS_SUPPORT_GPS_SET_H_

#include <cstdint>
#include <vector>

#include "frame/veltora.h"

namespace veltora::testing {

// Latitude and longitude in degrees, minutes and hundredths of seconds, with
// the given tag list; the destructor frees what the set holds.
struct GpsSet {
  GpsSet() = default;
  ~GpsSet() { GpsTagSetRelease(&set); }
  GpsSet(const GpsSet&) = delete;
  GpsSet& operator=(const GpsSet&) = delete;
  GpsSet& Tags(std::vector<uint16_t> tags) {
    ArrayRemoveAll(&set.tags);
    ArrayAppend(&set.tags, tags.data(), tags.size());
    return *this;
  }
  GpsSet& Position(char lat_ref, uint32_t lat_deg, char lon_ref, uint32_t lon_deg) {
    set.GPSLatitudeRef[0] = lat_ref;
    set.GPSLongitudeRef[0] = lon_ref;
    set.GPSLatitude[0] = {lat_deg, 1};
    set.GPSLatitude[1] = {30, 1};
    set.GPSLatitude[2] = {1234, 100};
    set.GPSLongitude[0] = {lon_deg, 1};
    set.GPSLongitude[1] = {15, 1};
    set.GPSLongitude[2] = {0, 1};
    set.GPSAltitude = {3500, 10};
    return *this;
  }
  GpsSet& Datum(const char* text) {
    CStringSet(&set.GPSMapDatum, text);
    return *this;
  }
  GpsSet& DateStamp(const char* text) {
    CStringSet(&set.GPSDateStamp, text);
    return *this;
  }
  GpsSet& Method(std::vector<uint8_t> bytes) {
    ArrayRemoveAll(&set.GPSProcessingMethod);
    ArrayAppend(&set.GPSProcessingMethod, bytes.data(), bytes.size());
    return *this;
  }
  GpsTagSet set{};
};

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_SUPPORT_GPS_SET_H_
