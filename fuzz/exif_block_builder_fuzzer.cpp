// Fuzzes the EXIF block builder with records made from the input (the first
// byte chooses which records the list holds). A list with IFD0 and EXIF
// records must give a segment; the segment must parse with the EXIF reader
// and the directory reader, and the sampled attributes (a SHORT, a sized
// value, a text, a rational array, a SHORT array, a blob, the GPS latitude
// and the thumbnail) must read back as the records hold them. Any crash,
// sanitizer report or broken property is a bug.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "create/exif_block_builder.h"
#include "edit/block_entries.h"
#include "exif/exif_reader.h"
#include "frame/veltora.h"
#include "fuzz/fuzzed_records.h"

namespace {

using veltora::edit::BlockEntry;

void Check(bool condition) {
  if (!condition) std::abort();
}

using Directory = std::map<uint16_t, BlockEntry>;

Directory Read(std::span<const uint8_t> tiff, uint32_t offset) {
  Directory out;
  const auto dir = veltora::edit::ReadBlockDirectory(tiff, veltora::bytes::kLittleEndian, offset);
  Check(dir.has_value());
  for (const BlockEntry& e : dir->entries) out.emplace(e.entry.tag, e);
  return out;
}

// The stored bytes of an entry: its field, or its value in the block.
std::vector<uint8_t> Stored(std::span<const uint8_t> tiff, const BlockEntry& e) {
  if (!e.OutOfLine()) return std::vector<uint8_t>(e.field, e.field + e.size);
  const auto bytes = veltora::edit::ValueBytes(tiff, e);
  Check(bytes.has_value());
  return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

std::vector<uint8_t> Le(std::initializer_list<uint32_t> words, size_t width) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return out;
}

void CheckEntry(std::span<const uint8_t> tiff, const Directory& dir, uint16_t tag, uint16_t type,
                const std::vector<uint8_t>& bytes) {
  const auto it = dir.find(tag);
  Check(it != dir.end() && it->second.entry.type == type);
  Check(Stored(tiff, it->second) == bytes);
}

std::vector<uint8_t> TextBytes(const CString& s) {
  const char* chars = CStringGet(&s);
  std::vector<uint8_t> out(chars, chars + CStringLength(&s));
  out.push_back(0);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  veltora::fuzzing::InputBytes in({data + 1, size - 1});
  veltora::fuzzing::FuzzedList list(data[0], in);
  std::vector<uint8_t> thumbnail(in.Byte());
  in.Fill(thumbnail.data(), thumbnail.size());
  const auto segment = veltora::create::BuildExifSegment(list.get(), [&](std::vector<uint8_t>* out) {
    *out = thumbnail;
    return true;
  });
  const auto* main = list.Find<TiffInfo>(INFO_TIFF_MAIN);
  const auto* exif = list.Find<ExifInfo>(INFO_EXIF);
  const auto* gps = list.Find<GpsInfo>(INFO_GPS);
  const auto* thumb = list.Find<TiffInfo>(INFO_TIFF_THUMB);
  Check(segment.has_value() == (main != nullptr && exif != nullptr));
  if (!segment) return 0;
  Check(segment->size() == 2u + (uint32_t{(*segment)[2]} << 8 | (*segment)[3]));

  std::vector<uint8_t> file = {0xFF, 0xD8};
  file.insert(file.end(), segment->begin(), segment->end());
  file.insert(file.end(), {0xFF, 0xD9});
  veltora::exif::ExifReader reader(file, 1, 0);
  Check(reader.Valid() == 1 && reader.TiffHeaderOffset() == 12 && reader.Ifd0Offset() == 8);
  const std::span<const uint8_t> tiff = std::span<const uint8_t>(*segment).subspan(10);

  const Directory ifd0 = Read(tiff, 8);
  if ((main->mask1 & TIFF_M1_ORIENTATION) != 0) CheckEntry(tiff, ifd0, 274, 3, Le({uint32_t{main->Orientation}}, 2));
  if ((main->mask1 & TIFF_M1_IMAGE_WIDTH) != 0) {
    const bool as_short = main->ImageWidthType == 3;
    CheckEntry(tiff, ifd0, 256, as_short ? 3 : 4, Le({main->ImageWidth}, as_short ? 2 : 4));
  }
  if ((main->mask1 & TIFF_M1_MAKE) != 0) CheckEntry(tiff, ifd0, 271, 2, TextBytes(main->Make));
  if ((main->mask1 & TIFF_M1_WHITE_POINT) != 0) {
    const HostRational* w = main->WhitePoint;
    CheckEntry(tiff, ifd0, 318, 5, Le({w[0].numerator, w[0].denominator, w[1].numerator, w[1].denominator}, 4));
  }
  const bool points_to_exif = exif->mask_l != 0 || exif->mask_h != 0;
  Check(ifd0.count(34665) == (points_to_exif ? 1u : 0u));
  if (points_to_exif) {
    const Directory sub = Read(tiff, ifd0.at(34665).entry.value);
    if ((exif->mask_l & EXIF_L_COLOR_SPACE) != 0) CheckEntry(tiff, sub, 40961, 3, Le({uint32_t{exif->ColorSpace}}, 2));
    if ((exif->mask_l & EXIF_L_ISO_SPEED_RATINGS) != 0) {
      const auto iso = ArrayView(&exif->ISOSpeedRatings);
      std::vector<uint8_t> bytes;
      for (uint16_t v : iso) bytes.insert(bytes.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
      CheckEntry(tiff, sub, 34855, 3, bytes);
    }
    if ((exif->mask_l & EXIF_L_MAKER_NOTE) != 0) {
      const HostBlob& note = exif->MakerNote;
      CheckEntry(tiff, sub, 37500, 7, std::vector<uint8_t>(note.data, note.data + note.size));
    }
  }
  const bool gps_written = gps != nullptr && (gps->mask != 0 || gps->mask2 != 0);
  Check(ifd0.count(34853) == (gps_written ? 1u : 0u));
  if (gps_written && (gps->mask & GPS_LATITUDE) != 0) {
    const Directory g = Read(tiff, ifd0.at(34853).entry.value);
    const HostRational* l = gps->GPSLatitude;
    CheckEntry(tiff, g, 2, 5,
               Le({l[0].numerator, l[0].denominator, l[1].numerator, l[1].denominator,
                   l[2].numerator, l[2].denominator}, 4));
  }
  if (thumb != nullptr && (thumb->mask1 & TIFF_M1_JPEG_INTERCHANGE_FORMAT) != 0 &&
      (thumb->mask1 & TIFF_M1_JPEG_INTERCHANGE_FORMAT_LENGTH) != 0) {
    const auto link = veltora::edit::ReadBlockDirectory(tiff, veltora::bytes::kLittleEndian, 8)->link;
    Check(link.has_value());
    const Directory ifd1 = Read(tiff, *link);
    const uint32_t at = ifd1.at(513).entry.value;
    Check(ifd1.at(514).entry.value == thumbnail.size());
    Check(at <= tiff.size() && thumbnail.size() <= tiff.size() - at);
    Check(std::equal(thumbnail.begin(), thumbnail.end(), tiff.begin() + at));
  }
  return 0;
}
