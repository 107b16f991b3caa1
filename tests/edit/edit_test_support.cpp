#include "tests/edit/edit_test_support.h"

#include <algorithm>
#include <cstring>

#include "exif/directory.h"
#include "tests/support/jpeg_builder.h"

namespace veltora::testing {

std::optional<std::string> ReadValue(const std::filesystem::path& file, uint32_t code,
                                     uint16_t tag) {
  exif::ExifReader reader(file.string().c_str(), 1, 0);
  exif::IfdEntry entry;
  entry.tag = tag;
  if (reader.FindEntry(code, &entry) != 1) return std::nullopt;
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
  exif::ExifReader reader(file.string().c_str(), 1, 0);
  for (uint32_t code : {exif::kIfd0, exif::kExifIfd, exif::kGpsIfd, exif::kIfd1}) {
    std::vector<exif::IfdEntry> entries;
    if (reader.CollectEntries(code, &entries) <= 0) continue;
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
  return exif::ExifReader(file.string().c_str(), 1, 0).GetThumbnail(&thumbnail) > 0 &&
         DecodeCleanly(thumbnail).has_value();
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
