#include "tests/edit/edit_test_support.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "exif/directory.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

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

std::vector<uint8_t> TiffWithSubImage(Endian order, std::vector<uint8_t>* strip) {
  constexpr uint32_t kSubIfdAt = 0x300;
  TiffBuilder b(order);
  b.Ascii(kIfd0, 271, "Maker").RgbImage(kIfd0, 8, 8).Long(kIfd0, 330, kSubIfdAt);
  b.Undefined(kExif, 36864, {'0', '2', '3', '0'}).PlaceAt(kStripData, 0x400);
  auto tiff = b.Bytes();
  tiff.resize(tiff.size() + tiff.size() % 2);
  strip->resize(48);
  for (size_t i = 0; i < strip->size(); ++i) (*strip)[i] = static_cast<uint8_t>(i * 7 + 1);
  const auto strip_at = static_cast<uint32_t>(tiff.size());
  tiff.insert(tiff.end(), strip->begin(), strip->end());
  std::vector<uint8_t> sub_ifd = b.U16({4});
  for (const auto& [tag, type, value] : {std::tuple{256, kShort, 4u}, {257, kShort, 4u},
                                         {273, kLong, strip_at}, {279, kLong, 48u}}) {
    for (auto bytes : {b.U16({static_cast<uint16_t>(tag), type}), b.U32({1}),
                       type == kShort ? b.U16({static_cast<uint16_t>(value), 0}) : b.U32({value})}) {
      sub_ifd.insert(sub_ifd.end(), bytes.begin(), bytes.end());
    }
  }
  sub_ifd.resize(sub_ifd.size() + 4);  // no next directory
  std::copy(sub_ifd.begin(), sub_ifd.end(), tiff.begin() + kSubIfdAt);
  return tiff;
}

bool SubImageStripIs(const std::filesystem::path& file, const std::vector<uint8_t>& strip) {
  const auto json = ExiftoolJson(file, {"-SubIFD:StripOffsets", "-SubIFD:StripByteCounts"});
  if (!json || !json->contains("SubIFD:StripOffsets") ||
      (*json)["SubIFD:StripByteCounts"] != strip.size()) {
    return false;
  }
  const auto at = (*json)["SubIFD:StripOffsets"].get<size_t>();
  const auto bytes = ReadFile(file);
  return at <= bytes.size() && bytes.size() - at >= strip.size() &&
         std::equal(strip.begin(), strip.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
}

}  // namespace veltora::testing
