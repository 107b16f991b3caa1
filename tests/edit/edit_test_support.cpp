#include "tests/edit/edit_test_support.h"

#include <algorithm>
#include <cstring>

#include "exif/directory.h"
#include "tests/support/jpeg_builder.h"

namespace veltora::testing {

std::optional<std::string> ReadValue(const std::filesystem::path& file, uint32_t code,
                                     uint16_t tag) {
  exif::ExifReader reader(file.c_str(), 1, 0);
  exif::IfdEntry entry;
  entry.tag = tag;
  if (!exif::Done(reader.FindEntry(code, &entry))) return std::nullopt;
  std::string out = std::to_string(entry.type) + "/" + std::to_string(entry.count) + ":";
  const uint32_t size = exif::EntryValueSize(&entry);
  if (size == 0 || size > (1u << 20)) return out;
  std::vector<uint8_t> buffer(std::max<uint32_t>(size, 8));
  const uint32_t n =
      reader.GetEntryValue(&entry, buffer.data(), static_cast<uint32_t>(buffer.size()));
  out.append(reinterpret_cast<const char*>(buffer.data()), n == 0 ? 0 : size);
  return out;
}

std::map<std::pair<uint32_t, uint16_t>, std::string> AllValues(const std::filesystem::path& file) {
  std::map<std::pair<uint32_t, uint16_t>, std::string> all;
  exif::ExifReader reader(file.c_str(), 1, 0);
  for (uint32_t code : {exif::kIfd0, exif::kExifIfd, exif::kGpsIfd, exif::kIfd1}) {
    std::vector<exif::IfdEntry> entries;
    if (!exif::Done(reader.CollectEntries(code, &entries))) continue;
    for (const auto& e : entries) {
      // Offsets to other directories and to the thumbnail are expected to move.
      if (e.tag == 34665 || e.tag == 34853 || e.tag == 40965 || e.tag == 513) continue;
      if (auto v = ReadValue(file, code, e.tag)) all[{code, e.tag}] = *v;
    }
  }
  return all;
}

bool ThumbnailDecodes(const std::filesystem::path& file) {
  std::vector<uint8_t> thumbnail;
  return exif::ExifReader(file.c_str(), 1, 0).GetThumbnail(&thumbnail) > 0 &&
         DecodeCleanly(thumbnail).has_value();
}

GpsSet::GpsSet() {
  CStringInit(&set.GPSMapDatum);
  CStringInit(&set.GPSDateStamp);
}

GpsSet::~GpsSet() {
  ArrayFree(&set.tags);
  ArrayFree(&set.GPSProcessingMethod);
  ArrayFree(&set.GPSAreaInformation);
  CStringFree(&set.GPSMapDatum);
  CStringFree(&set.GPSDateStamp);
}

GpsSet& GpsSet::Tags(std::vector<uint16_t> tags) {
  ArrayRemoveAll(&set.tags);
  ArrayAppend(&set.tags, tags.data(), tags.size());
  return *this;
}

GpsSet& GpsSet::Position(char lat_ref, uint32_t lat_deg, char lon_ref, uint32_t lon_deg) {
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

GpsSet& GpsSet::Datum(const char* text) {
  CStringSet(&set.GPSMapDatum, text);
  return *this;
}

GpsSet& GpsSet::DateStamp(const char* text) {
  CStringSet(&set.GPSDateStamp, text);
  return *this;
}

GpsSet& GpsSet::Method(std::vector<uint8_t> bytes) {
  ArrayRemoveAll(&set.GPSProcessingMethod);
  ArrayAppend(&set.GPSProcessingMethod, bytes.data(), bytes.size());
  return *this;
}

TiffBuilder CameraBlock(Endian order, uint16_t orientation0, uint16_t orientation1,
                        const char* exif_version) {
  TiffBuilder b(order);
  b.Ascii(kIfd0, 271, "Maker")
      .Ascii(kIfd0, 272, "Model X100")
      .Short(kIfd0, 274, orientation0)
      .Rational(kIfd0, 282, 72, 1)
      .Rational(kIfd0, 283, 72, 1)
      .Short(kIfd0, 296, 2)
      .Ascii(kIfd0, 306, "2001:01:01 00:00:00")
      .Short(kIfd0, 531, 1)
      .Rational(kExif, 33437, 28, 10)
      .Undefined(kExif, 36864, std::vector<uint8_t>(exif_version, exif_version + 4))
      .Ascii(kExif, 36867, "2006:05:14 09:30:05")
      .Undefined(kExif, 37121, {1, 2, 3, 0})
      .Ascii(kInterop, 1, "R98")
      .Short(kIfd1, 259, 6);
  if (orientation1 != 0) b.Short(kIfd1, 274, orientation1);
  b.Rational(kIfd1, 282, 72, 1)
      .Rational(kIfd1, 283, 72, 1)
      .Short(kIfd1, 296, 2)
      .JpegThumbnail(RealJpeg(32, 24));
  return b;
}

}  // namespace veltora::testing
