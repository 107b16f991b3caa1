#include "tests/edit/edit_test_support.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <tuple>

#include "exif/directory.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {

std::optional<std::string> ReadValue(const std::filesystem::path& file, uint32_t code,
                                     uint16_t tag) {
  exif::ExifReader reader(file.string().c_str(), 1, 0);
  exif::IfdEntry entry{.tag = tag};
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
  exif::ExifReader reader(file.string().c_str(), 1, 0);
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

std::vector<uint8_t> TiffWithSubImages(Endian order, SubImages layout) {
  // The main strips lie at 0x400-0x4C0: 0x300 is in the block, 0x500 behind the image.
  constexpr uint32_t kInBlock = 0x300, kBehind = 0x500, kStrips = 0x600;
  TiffBuilder b(order);
  b.Ascii(kIfd0, 271, "Maker").RgbImage(kIfd0, 8, 8);
  b.Long(kIfd0, 330, layout == SubImages::kBehindImage ? kBehind : kInBlock);
  b.Undefined(kExif, 36864, {'0', '2', '3', '0'}).PlaceAt(kStripData, 0x400);
  auto tiff = b.Bytes();
  tiff.resize(kStrips + 2 * 48);
  using L = SubImages;
  uint32_t strip_at = layout == L::kInImage ? 0x410 : kStrips;
  // Strip offsets and SubIFDs as the layout stores them.
  const uint16_t offset_type = layout == L::kShortOffsets ? kShort : kLong;
  const auto as_offsets = [&](const std::vector<uint32_t>& v) {
    return offset_type == kLong ? b.U32(v) : b.U16({v.begin(), v.end()});
  };
  // A 4x4 sub-image: its directory at `at`, its out-of-line values right
  // behind it, its 48 bytes of strips at the next free place from kStrips
  // on: two strips for one in the block, three behind it.
  const auto sub_image = [&](uint32_t at, uint32_t link, uint32_t child) {
    const bool in_block = at < 0x400;
    const uint32_t strips = in_block ? 2 : 3, strip_size = 48 / strips;
    std::vector<uint32_t> offsets, sizes(strips, strip_size);
    for (uint32_t i = 0; i < strips; ++i) offsets.push_back(strip_at + i * strip_size);
    std::vector<std::tuple<uint16_t, uint16_t, uint32_t, std::vector<uint8_t>>> entries = {
        {256, kShort, 1, b.U16({4, 0})},
        {257, kShort, 1, b.U16({4, 0})},
        {258, kShort, 3, b.U16({8, 8, 8})},
        {273, offset_type, strips, as_offsets(offsets)},
        {279, kLong, strips, b.U32(sizes)}};
    if (child != 0) entries.push_back({330, offset_type, 1, as_offsets({child})});
    std::vector<uint8_t> dir = b.U16({static_cast<uint16_t>(entries.size())}), values;
    const uint32_t values_at = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    for (const auto& [tag, type, n, value] : entries) {
      const bool inline_value = value.size() <= 4;
      for (auto bytes : {b.U16({tag, type}), b.U32({n}),
                         inline_value ? value : b.U32({values_at + static_cast<uint32_t>(values.size())})}) {
        bytes.resize(4);  // an inline value is padded to the field
        dir.insert(dir.end(), bytes.begin(), bytes.end());
      }
      if (!inline_value) values.insert(values.end(), value.begin(), value.end());
    }
    for (auto bytes : {b.U32({link}), values}) dir.insert(dir.end(), bytes.begin(), bytes.end());
    std::copy(dir.begin(), dir.end(), tiff.begin() + at);
    for (uint32_t i = 0; i < 48; ++i) tiff[strip_at + i] = static_cast<uint8_t>(at + i * 7);
    strip_at += 48;
  };
  const bool chained = layout == L::kChained || layout == L::kLoop;
  const bool nested = layout == L::kNested || layout == L::kShortOffsets;
  const uint32_t back = layout == L::kLoop ? kInBlock : 0;
  sub_image(layout == L::kBehindImage ? kBehind : kInBlock, chained ? kBehind : 0,
            nested ? kBehind : 0);
  if (chained || nested) sub_image(kBehind, back, back);
  return tiff;
}

std::vector<std::string> SubImageView(const std::filesystem::path& file) {
  const auto run = RunTool({"exiftool", "-a", "-u", "-G1", "-n", "-s", "-s", file.string()});
  std::vector<std::string> view;
  if (!run) return view;
  const auto bytes = ReadFile(file);
  std::istringstream lines(run->out);
  std::string line, offsets;
  while (std::getline(lines, line)) {
    if (line.rfind("[SubIFD", 0) != 0) continue;
    const size_t colon = line.find(": ");
    if (line.find("] StripOffsets:") != std::string::npos) {
      offsets = line.substr(colon + 2);
      continue;
    }
    if (line.find("] StripByteCounts:") != std::string::npos && colon != std::string::npos) {
      // The strips' bytes stand for their offsets, which an edit may move.
      std::istringstream at(offsets), size(line.substr(colon + 2));
      size_t from = 0, n = 0;
      line += " =";
      while (at >> from && size >> n) {
        line += from <= bytes.size() && n <= bytes.size() - from
                    ? " " + std::string(bytes.begin() + static_cast<ptrdiff_t>(from),
                                        bytes.begin() + static_cast<ptrdiff_t>(from + n))
                    : " (outside the file)";
      }
    }
    view.push_back(line);
  }
  return view;
}

}  // namespace veltora::testing
