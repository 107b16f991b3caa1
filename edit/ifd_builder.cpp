#include "edit/ifd_builder.h"

#include <algorithm>
#include <cstring>

#include "bytes/byte_view.h"
#include "edit/block_entries.h"
#include "edit/gps_replace.h"
#include "edit/rebuilt_output.h"
#include "exif/date_text.h"
#include "exif/directory.h"
#include "exif/jpeg_segments.h"
#include "platform/file.h"
#include "platform/local_time.h"

namespace veltora::edit {
namespace {

using exif::kExifIfd;
using exif::kIfd0;
using exif::kIfd1;
using exif::kInteropIfd;
using exif::kTypeAscii;
using exif::kTypeLong;
using exif::kTypeRational;
using exif::kTypeShort;
using exif::kTypeUndefined;

constexpr uint16_t kTagCompression = 259;
constexpr uint16_t kTagImageDescription = 270;
constexpr uint16_t kTagMake = 271;
constexpr uint16_t kTagModel = 272;
constexpr uint16_t kTagResolutionUnit = 296;
constexpr uint16_t kTagSoftware = 305;
constexpr uint16_t kTagYCbCrPositioning = 531;
constexpr uint16_t kTagComponentsConfiguration = 37121;
constexpr uint16_t kTagColorSpace = 40961;
constexpr uint16_t kTagInteropIndex = 1;
constexpr uint16_t kTagInteropVersion = 2;

constexpr uint16_t kCompressionJpeg = 6;
constexpr uint16_t kUnitInch = 2;
constexpr uint16_t kUnitCentimetre = 3;
constexpr uint8_t kJfifDotsPerCentimetre = 2;
constexpr uint32_t kDefaultResolution = 72;
constexpr uint32_t kThumbnailWidth = 160;
constexpr uint32_t kThumbnailHeight = 120;
// A TIFF directory must carry these to describe its strips.
constexpr uint16_t kRequiredTiffTags[] = {256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 296};
// A picture file read whole (a bare TIFF, a thumbnail) larger than this is
// no file the savers make; the cap keeps a hostile path from exhausting memory.
constexpr uint64_t kMaxPictureFileBytes = uint64_t{1} << 30;

// True with the whole file at `path` in `out`; false when it cannot be read
// whole or is larger than the cap.
[[nodiscard]] bool ReadPictureFile(const std::string& path, std::vector<uint8_t>* out) {
  platform::File file;
  return !path.empty() && platform::File::Open(path.c_str(), platform::File::Access::kRead, &file) == 0 &&
         file.ReadAll(out, kMaxPictureFileBytes) == 0;
}

DirectoryItem ShortItem(uint16_t tag, uint16_t value, bytes::ByteOrder order) {
  DirectoryItem item{tag, kTypeShort, 1, {}, {}};
  bytes::Write16(item.field, value, order);
  return item;
}

DirectoryItem LongItem(uint16_t tag, uint32_t value, bytes::ByteOrder order) {
  DirectoryItem item{tag, kTypeLong, 1, {}, {}};
  bytes::Write32(item.field, value, order);
  return item;
}

// BYTE, ASCII or UNDEFINED bytes: inline up to 4, else the value.
DirectoryItem BytesItem(uint16_t tag, uint16_t type, std::span<const uint8_t> bytes) {
  DirectoryItem item{tag, type, static_cast<uint32_t>(bytes.size()), {}, {}};
  if (bytes.size() <= 4) {
    std::copy(bytes.begin(), bytes.end(), item.field);
  } else {
    item.value.assign(bytes.begin(), bytes.end());
  }
  return item;
}

DirectoryItem TextItem(uint16_t tag, const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return BytesItem(tag, kTypeAscii, bytes);
}

// A date as its 19 characters and NUL; the fields of a time that does not
// format (a year beyond four digits) leave the text blank.
DirectoryItem DateItem(uint16_t tag, const SYSTEMTIME& time) {
  return TextItem(tag, DateText(time).value_or(std::string(exif::kDateTextLength, ' ')));
}

DirectoryItem RationalItem(uint16_t tag, exif::Rational r, bytes::ByteOrder order) {
  DirectoryItem item{tag, kTypeRational, 1, {}, std::vector<uint8_t>(8)};
  if (r.numerator == 0) r = {kDefaultResolution, 1};
  bytes::Write32(item.value.data(), r.numerator, order);
  bytes::Write32(item.value.data() + 4, r.denominator, order);
  return item;
}

DirectoryItem VersionItem(uint16_t tag, const char (&text)[5]) {
  return BytesItem(tag, kTypeUndefined, std::span(reinterpret_cast<const uint8_t*>(text), 4));
}

bool Has(const std::vector<DirectoryItem>& items, uint16_t tag) {
  return std::any_of(items.begin(), items.end(), [&](const DirectoryItem& i) { return i.tag == tag; });
}

// Adds the item, or with `replace` also puts it in place of the one with its tag.
void Put(std::vector<DirectoryItem>& items, DirectoryItem item, bool replace = false) {
  auto same = std::find_if(items.begin(), items.end(),
                           [&](const DirectoryItem& i) { return i.tag == item.tag; });
  if (same == items.end()) {
    items.push_back(std::move(item));
  } else if (replace) {
    *same = std::move(item);
  }
}

// Sorts the items and appends the directory at the end of the (even) block.
// The "PRM" or "THM" file's own entries of one directory.
std::optional<std::vector<DirectoryItem>> OwnItems(ExifEditor& editor, exif::ExifReader& file,
                                                   uint32_t code) {
  SourceTiff source;
  if (!LoadSourceTiff(file, &source)) return std::nullopt;
  // Predictor stays with the entries although a picture's file-only tags do
  // not: the savers code their strips with it, and without it the pixels of
  // a TIFF picture or thumbnail would not decode.
  return source.Items(code, editor.Order(), kFileOnlyTags);
}

}  // namespace

uint32_t TextInfoVersion(const char version[4]) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(version[i]);
  return v;
}

std::vector<DirectoryItem> SourceTiff::Items(uint32_t code, bytes::ByteOrder to,
                                             std::span<const uint16_t> dropped) const {
  const bytes::ByteView view(bytes, order);
  uint32_t at = view.U32(4).value_or(0);
  if (code == kExifIfd) {
    const auto ifd0 = ReadBlockDirectory(bytes, order, at);
    at = 0;
    if (!ifd0) return {};
    for (const BlockEntry& e : ifd0->entries) {
      if (e.entry.tag == exif::kTagExifIfdPointer && e.entry.type == kTypeLong && e.entry.count == 1) {
        at = e.entry.value;
      }
    }
  }
  std::vector<DirectoryItem> items;
  const auto dir = ReadBlockDirectory(bytes, order, at);
  if (!dir) return items;
  for (const BlockEntry& e : dir->entries) {
    if (std::find(dropped.begin(), dropped.end(), e.entry.tag) != dropped.end()) continue;
    items.push_back(ItemFromBlock(bytes, e, order, to));
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const DirectoryItem& a, const DirectoryItem& b) { return a.tag < b.tag; });
  return items;
}

bool LoadSourceTiff(exif::ExifReader& reader, SourceTiff* out) {
  out->bytes.clear();
  out->order = reader.Order();
  if (reader.Valid() && reader.TiffHeaderOffset() == 0 && reader.HasTiffDimensions() != 0) {
    return ReadPictureFile(reader.Path(), &out->bytes);
  }
  if (reader.HasExifIfd() == 0 && reader.Ifd0Offset() == 0) return true;
  const exif::ScopedExifData loaded(reader);
  out->bytes.assign(loaded.Bytes().begin(), loaded.Bytes().end());
  return true;
}

Outcome LoadThumbnailBytes(ExifEditor& editor, exif::ExifReader& thumbnail) {
  const exif::ImageSize size = thumbnail.GetImageSize();
  if (size.width != kThumbnailWidth || size.height != kThumbnailHeight) return Outcome::kRefused;
  std::vector<uint8_t> file;
  if (!ReadPictureFile(thumbnail.Path(), &file)) return Outcome::kRefused;
  std::vector<uint8_t> held;
  held.reserve(file.size());
  const std::span<const uint8_t> bytes(file);
  if (thumbnail.HasJpegDimensions()) {
    exif::JpegSegmentWalker walker(0, exif::SoiRule::kStandalone);
    while (const auto s = walker.Next(bytes)) {
      const auto from = bytes.begin() + static_cast<ptrdiff_t>(s->position);
      if (s->marker == exif::kJpegSoi) {
        held.insert(held.end(), from, from + 2);
      } else if (s->marker == exif::kJpegEoi || s->marker == exif::kJpegSos || s->cut) {
        held.insert(held.end(), from, bytes.end());
        break;
      } else if ((s->marker & 0xFFF0) != exif::kJpegApp0) {
        const uint64_t end = std::min<uint64_t>(s->position + 2 + s->length, bytes.size());
        held.insert(held.end(), from, bytes.begin() + static_cast<ptrdiff_t>(end));
      }
    }
  } else {
    // The strips run from the first one to the directory when it follows
    // them, else to the end of the file.
    const uint64_t first = thumbnail.PrimaryImage().firstStripOffset;
    const uint64_t end = first > thumbnail.Ifd0Offset() ? bytes.size() : thumbnail.Ifd0Offset();
    if (first < kMinDirectoryOffset || end <= first || end > bytes.size()) return Outcome::kRefused;
    held.assign(bytes.begin() + static_cast<ptrdiff_t>(first), bytes.begin() + static_cast<ptrdiff_t>(end));
  }
  if (held.empty()) return Outcome::kRefused;
  editor.HoldThumbnail(std::move(held));
  return Outcome::kDone;
}

Outcome BuildIfd(ExifEditor& editor, uint32_t code, const TextInfo& info, bool gps_pointer) {
  if ((code != kIfd0 && code != kIfd1) || TextInfoVersion(info.version) < kTextInfoVersion0120 ||
      editor.Block().size() < 8) {
    return Outcome::kRefused;
  }
  const bytes::ByteOrder order = editor.Order();
  const bool tiff = editor.IsTiffSource();
  std::optional<std::vector<DirectoryItem>> own;
  if (code == kIfd0) {
    own = OwnItems(editor, editor.Source(), kIfd0);
  } else {
    if (editor.ThumbnailFile().empty()) return Outcome::kRefused;
    exif::ExifReader thumbnail(editor.ThumbnailFile().c_str(), 0, 0);
    if (editor.Thumbnail().empty() && !Done(LoadThumbnailBytes(editor, thumbnail))) return Outcome::kRefused;
    own = OwnItems(editor, thumbnail, kIfd0);
  }
  if (!own) return Outcome::kRefused;
  std::vector<DirectoryItem>& items = *own;

  if (tiff && !std::all_of(std::begin(kRequiredTiffTags), std::end(kRequiredTiffTags),
                           [&](uint16_t tag) { return Has(items, tag); })) {
    return Outcome::kRefused;
  }
  if (!tiff && code == kIfd1) Put(items, ShortItem(kTagCompression, kCompressionJpeg, order));
  if (code == kIfd0) {
    if (!info.description.empty()) Put(items, TextItem(kTagImageDescription, info.description));
    Put(items, TextItem(kTagMake, info.make));
    Put(items, TextItem(kTagModel, info.model));
    if (!info.software.empty()) Put(items, TextItem(kTagSoftware, info.software));
    if (info.captureTime.wYear != 0) {
      Put(items, DateItem(exif::kTagDateTime, platform::GetLocalTime()), true);
    }
    Put(items, LongItem(exif::kTagExifIfdPointer, 0, order));
    if (gps_pointer) Put(items, LongItem(exif::kTagGpsIfdPointer, 0, order));
  }
  Put(items, ShortItem(exif::kTagOrientation, 1, order));
  if (code == kIfd1) {
    const auto orientation = editor.FindBlockEntry(kIfd0, exif::kTagOrientation);
    if (orientation && orientation->type == kTypeShort && orientation->count == 1) {
      Put(items, ShortItem(exif::kTagOrientation, static_cast<uint16_t>(orientation->value), order),
          true);
    }
  }
  if (!tiff) {
    const uint16_t unit = editor.Source().Jpeg().jfifUnits == kJfifDotsPerCentimetre ? kUnitCentimetre : kUnitInch;
    Put(items, ShortItem(kTagResolutionUnit, unit, order));
  }
  exif::Rational x{}, y{};
  // A JFIF segment without a unit gives only the pixels' aspect ratio (the
  // JPEG writer's 1:1), no resolution: such a picture gets the default too,
  // and so does a TIFF whose resolutions cannot be read.
  if (tiff || editor.Source().Jpeg().jfifUnits != 0) (void)editor.Source().GetResolution(&x, &y);
  Put(items, RationalItem(exif::kTagXResolution, x, order), true);
  Put(items, RationalItem(exif::kTagYResolution, y, order), true);
  if (!tiff && code == kIfd1) {
    Put(items, LongItem(exif::kTagJpegInterchangeFormat, 0, order));
    Put(items, LongItem(exif::kTagJpegInterchangeFormatLength, 0, order));
  }
  if (!tiff) Put(items, ShortItem(kTagYCbCrPositioning, 2, order));

  return editor.AppendDirectory(code, items);
}

Outcome BuildExifIfd(ExifEditor& editor, const TextInfo& info) {
  if (TextInfoVersion(info.version) < kTextInfoVersion0120 ||
      !editor.FindBlockEntry(kIfd0, exif::kTagExifIfdPointer)) {
    return Outcome::kRefused;
  }
  const bytes::ByteOrder order = editor.Order();
  const bool jpeg = !editor.IsTiffSource();
  auto own = OwnItems(editor, editor.Source(), kExifIfd);
  if (!own) return Outcome::kRefused;
  std::vector<DirectoryItem>& items = *own;

  const auto version = std::find_if(items.begin(), items.end(), [](const DirectoryItem& i) {
    return i.tag == exif::kTagExifVersion;
  });
  const bool old_version = version != items.end() &&
                           (version->count != 4 || bytes::Read32(version->field, bytes::kBigEndian) < kExifVersion0210);
  Put(items, VersionItem(exif::kTagExifVersion, "0210"), old_version);
  Put(items, DateItem(exif::kTagDateTimeOriginal, info.captureTime), true);
  Put(items, DateItem(exif::kTagDateTimeDigitized, platform::GetLocalTime()), true);
  if (jpeg) {
    const uint8_t components[4] = {1, 2, 3, 0};
    Put(items, BytesItem(kTagComponentsConfiguration, kTypeUndefined, components));
  }
  Put(items, VersionItem(exif::kTagFlashpixVersion, "0100"));
  Put(items, ShortItem(kTagColorSpace, 1, order));
  if (jpeg) {
    const exif::ImageSize size = editor.Source().GetImageSize();
    Put(items, LongItem(exif::kTagPixelXDimension, size.width, order), true);
    Put(items, LongItem(exif::kTagPixelYDimension, size.height, order), true);
  }
  if (!editor.ThumbnailFile().empty()) Put(items, LongItem(exif::kTagInteropIfdPointer, 0, order), true);

  return editor.AppendDirectory(kExifIfd, items);
}

Outcome AppendInteropIfd(ExifEditor& editor) {
  if (editor.IsTiffSource() || !editor.FindBlockEntry(kExifIfd, exif::kTagInteropIfdPointer)) return Outcome::kRefused;
  const bytes::ByteOrder order = editor.Order();
  std::vector<DirectoryItem> items;
  if (editor.HasDirectory(kInteropIfd)) {
    if (const auto dir = ReadBlockDirectory(editor.Block(), order, editor.DirectoryOffset(kInteropIfd))) {
      for (const BlockEntry& e : dir->entries) items.push_back(ItemFromBlock(editor.Block(), e, order, order));
    }
  }
  Put(items, TextItem(kTagInteropIndex, "R98"));
  Put(items, VersionItem(kTagInteropVersion, "0100"));
  return editor.AppendDirectory(kInteropIfd, items);
}

Outcome BuildExifBlock(ExifEditor& editor, const std::string& thumbnail_path, const TextInfo& info,
                   GpsTagSet* gps) {
  const exif::ExifReader& source = editor.Source();
  if ((!source.HasJpegDimensions() && !source.HasTiffDimensions()) ||
      TextInfoVersion(info.version) != kTextInfoVersion0120) {
    return Outcome::kRefused;
  }
  editor.SetThumbnailFile(thumbnail_path);
  uint8_t head[8] = {};
  const bytes::ByteOrder order = editor.Order();
  head[0] = head[1] = order == bytes::kLittleEndian ? 'I' : 'M';
  bytes::Write16(head + 2, 42, order);
  if (!editor.StartBlock(head) || !Done(BuildIfd(editor, kIfd0, info, gps != nullptr)) ||
      !Done(BuildExifIfd(editor, info)) || (gps != nullptr && !Done(AppendGpsIfd(editor, gps)))) {
    return Outcome::kRefused;
  }
  if (!thumbnail_path.empty()) {
    const Outcome interop = AppendInteropIfd(editor);
    // A pointer left at 0 (no directory could be made: a TIFF has none, or
    // no IFD1 came to need it) points readers at the TIFF header: it goes.
    // A block written here has no maker note, so the removal is never refused.
    if (!Done(BuildIfd(editor, kIfd1, info, false)) || !Done(interop)) {
      (void)editor.RemoveTag(kExifIfd, exif::kTagInteropIfdPointer);
    }
  }
  editor.PlaceDataBehindBlock();
  return Outcome::kDone;
}

}  // namespace veltora::edit
