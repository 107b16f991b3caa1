// `encode --new-exif`: the text record (and GPS position) from which the
// plug-in builds a new EXIF block for the encoded picture.
#ifndef VELTORA_HOST_COMMANDS_NEW_EXIF_OPTIONS_H_
#define VELTORA_HOST_COMMANDS_NEW_EXIF_OPTIONS_H_

#include <cstring>
#include <optional>
#include <string>

#include "host/command_options.h"
#include "host/commands/date_argument.h"
#include "host/commands/gps_position.h"
#include "host/host_error.h"

namespace veltora::host {

struct NewExifOptions {
  bool enabled = false;
  std::string make, model, description, software, date;
  std::optional<double> lat, lon;
};

inline void AddNewExifOptions(CommandOptions& add, NewExifOptions& o) {
  add.Flag("--new-exif", o.enabled, "Write JPEG or TIFF with a new EXIF block (and thumbnail)");
  add.Option("--make", o.make, "With --new-exif: camera maker");
  add.Option("--model", o.model, "With --new-exif: camera model");
  add.Option("--description", o.description, "With --new-exif: image description");
  add.Option("--software", o.software, "With --new-exif: software");
  add.Option("--date", o.date, "With --new-exif: capture time \"YYYY:MM:DD HH:MM:SS\" (default: now)");
  add.Option("--lat", o.lat, "With --new-exif: latitude in decimal degrees (south < 0)");
  add.Option("--lon", o.lon, "With --new-exif: longitude in decimal degrees (west < 0)");
}

// Throws HostError (a usage error) for values given without --new-exif and
// for half a position.
inline void ValidateNewExifOptions(const NewExifOptions& o) {
  const bool any = !o.make.empty() || !o.model.empty() || !o.description.empty() ||
                   !o.software.empty() || !o.date.empty() || o.lat || o.lon;
  if (any && !o.enabled) throw HostError("--make, --model, ... --lat and --lon need --new-exif");
  if (o.lat.has_value() != o.lon.has_value()) throw HostError("give both --lat and --lon");
}

// The host data Encode takes with ENCODE_NEW_EXIF_FILE; owns its strings.
class NewExifData {
 public:
  explicit NewExifData(const NewExifOptions& o) {
    std::memcpy(info_.version, kImageTextInfoVersion, sizeof info_.version);
    for (CString* s : {&info_.ImageDescription, &info_.Make, &info_.Model, &info_.Software}) {
      CStringInit(s);
    }
    if (!CStringSet(&info_.ImageDescription, o.description.c_str()) ||
        !CStringSet(&info_.Make, o.make.c_str()) || !CStringSet(&info_.Model, o.model.c_str()) ||
        !CStringSet(&info_.Software, o.software.c_str())) {
      throw std::bad_alloc();
    }
    if (!o.date.empty()) info_.capture_time = ParseDateArgument(o.date);
    if (o.lat) gps_.SetPosition(*o.lat, *o.lon);
    pair_ = {&info_, &gps_.set};
    with_gps_ = o.lat.has_value();
  }
  ~NewExifData() { ImageTextInfoRelease(&info_); }
  NewExifData(const NewExifData&) = delete;
  NewExifData& operator=(const NewExifData&) = delete;

  uint32_t flags() const { return ENCODE_NEW_EXIF_FILE | (with_gps_ ? ENCODE_NEW_EXIF_GPS : 0); }
  void* host_data() { return with_gps_ ? static_cast<void*>(&pair_) : static_cast<void*>(&info_); }

 private:
  ImageTextInfo info_{};
  OwnedGpsSet gps_;
  EncodeExifData pair_{};
  bool with_gps_ = false;
};

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMANDS_NEW_EXIF_OPTIONS_H_
