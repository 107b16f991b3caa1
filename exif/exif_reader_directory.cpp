// ExifReader's directory access: directories by code, tag lookups, value
// conversion and the composite reads built on them. Every operation reads
// from the loaded data when there is any, else opens the file for that one
// operation; both give the same answers for bytes inside the metadata range.
#include <algorithm>
#include <cstring>

#include "exif/date_text.h"
#include "exif/exif_reader.h"
#include "platform/hot_path.h"

namespace veltora::exif {
namespace {

// The reader's record of a directory: its offset and its remembered count.
struct DirectoryRecord {
  uint32_t* offset = nullptr;
  uint16_t* count = nullptr;
};

// "0220" read as a little-endian number: versions at or above it pass.
constexpr uint32_t kExifVersion22 = 0x30323230;

}  // namespace

VELTORA_HOT bool ExifReader::GetIfdHeader(uint32_t code, IfdLocation* location) {
  if (location == nullptr) return false;
  *location = IfdLocation{};
  DirectoryRecord record;
  switch (code) {
    case kIfd0:
      record = {&primaryImage_.ifdOffset, &primaryImage_.entryCount};
      break;
    case kExifIfd:
      record = {&exifIfd_.offset, &exifIfd_.entryCount};
      break;
    case kGpsIfd:
      record = {&gpsIfd_.offset, &gpsIfd_.entryCount};
      break;
    case kInteropIfd:
      return true;  // the scan never locates it: always absent
    case kIfd1:
      record = {&thumbnailImage_.ifdOffset, &thumbnailImage_.entryCount};
      break;
    default:
      return false;
  }
  if (*record.offset != 0 && *record.count == 0) {
    std::vector<uint8_t> scratch;
    std::optional<bytes::ByteView> bytes;
    if (data_ != nullptr) {
      bytes = Data().Sub(*record.offset, 2);
    } else {
      SourceReader file;
      if (OpenSource(&file)) bytes = Fetch(&file, *record.offset, 2, &scratch);
    }
    if (!bytes) return false;
    *record.count = *bytes->U16(0);
  }
  location->offset = *record.offset;
  location->entryCount = *record.count;
  return true;
}

VELTORA_HOT std::optional<bytes::ByteView> ExifReader::ReadEntryTable(
    const IfdLocation& location, std::vector<uint8_t>* scratch) {
  const uint64_t at = uint64_t{location.offset} + 2;
  const uint16_t size = EntryTableSize(location.entryCount);
  if (data_ != nullptr) return Data().Sub(at, size);
  SourceReader file;
  if (!OpenSource(&file)) return std::nullopt;
  return Fetch(&file, at, size, scratch);
}

VELTORA_HOT Outcome ExifReader::FindEntry(uint32_t code, IfdEntry* entry) {
  IfdLocation location;
  if (entry == nullptr || !GetIfdHeader(code, &location)) return Outcome::kRefused;
  if (location.offset == 0 || location.entryCount == 0) return Outcome::kAbsent;
  std::vector<uint8_t> scratch;
  const auto table = ReadEntryTable(location, &scratch);
  if (!table) return Outcome::kAbsent;
  return FindInTable(*table, entry) ? Outcome::kDone : Outcome::kAbsent;
}

Outcome ExifReader::CollectEntries(uint32_t code, std::vector<IfdEntry>* list) {
  IfdLocation location;
  if (list == nullptr || !GetIfdHeader(code, &location)) return Outcome::kRefused;
  std::vector<uint8_t> scratch;
  std::optional<bytes::ByteView> table;
  if (location.offset != 0 && location.entryCount != 0) table = ReadEntryTable(location, &scratch);
  if (!table) {
    list->clear();
    return Outcome::kAbsent;
  }
  return CollectFromTable(*table, list) != 0 ? Outcome::kDone : Outcome::kAbsent;
}

VELTORA_HOT uint32_t ExifReader::GetEntryValue(const IfdEntry* entry, void* buffer,
                                               uint32_t capacity) {
  if (entry == nullptr || buffer == nullptr || capacity < TypeSize(entry->type)) return 0;
  const uint32_t size = EntryValueSize(entry);
  if (size <= 4) return CopyInlineValue(*entry, size, buffer, capacity);
  if (data_ != nullptr) {
    const auto value = Data().Sub(entry->value, size);
    if (!value) return 0;
    return DecodeValueBytes(value->data(), size, entry->type, byteOrder_, buffer, capacity);
  }
  SourceReader file;
  if (!OpenSource(&file)) return 0;
  const uint64_t at = uint64_t{tiffHeaderOffset_} + entry->value;
  if (!file.HasBytes(at + size)) return 0;
  // The conversion never looks past the first `capacity` bytes, so only those
  // are read: a large value costs no more than the caller's buffer.
  const uint32_t needed = std::min(size, capacity);
  std::vector<uint8_t> scratch;
  const auto value = Fetch(&file, entry->value, needed, &scratch);
  if (!value) return 0;
  return DecodeValueBytes(value->data(), needed, entry->type, byteOrder_, buffer, capacity);
}

VELTORA_HOT uint16_t ExifReader::GetOrientationTag(uint32_t which) {
  if (!HasExifIfd() || which > 1) return 0;
  IfdEntry entry;
  entry.tag = kTagOrientation;
  if (!Done(FindEntry(which == 0 ? kIfd0 : kIfd1, &entry))) return 0;
  if (entry.type != kTypeShort || entry.count != 1) return 0;
  return static_cast<uint16_t>(entry.value);
}

bool ExifReader::FindDateEntry(uint32_t which, uint32_t kind, IfdEntry* entry) {
  uint32_t code = 0;
  switch (kind) {
    case 0:
      entry->tag = kTagDateTime;
      code = which == 0 ? kIfd0 : kIfd1;
      break;
    case 16:
      entry->tag = kTagDateTimeOriginal;
      code = which == 0 ? kExifIfd : kThumbnailExifIfd;
      break;
    case 17:
      entry->tag = kTagDateTimeDigitized;
      code = which == 0 ? kExifIfd : kThumbnailExifIfd;
      break;
    default:
      return false;
  }
  return Done(FindEntry(code, entry));
}

bool ExifReader::ReadDateText(uint32_t which, uint32_t kind, std::string* text) {
  text->clear();
  IfdEntry entry;
  if (!FindDateEntry(which, kind, &entry)) return false;
  const uint32_t size = EntryValueSize(&entry);
  if (size == 0 || size > kMaxDateValueSize) return false;
  text->resize(size);
  const uint32_t delivered = GetEntryValue(&entry, text->data(), size);
  text->resize(strnlen(text->data(), delivered));
  return delivered == kDateTextStoredSize;
}

ImageSize ExifReader::GetImageSize() const {
  if (HasJpegDimensions()) return {jpeg_.sofWidth, jpeg_.sofHeight};
  if (HasTiffDimensions()) return {primaryImage_.width, primaryImage_.length};
  return {};
}

bool ExifReader::GetResolution(Rational* x_resolution, Rational* y_resolution) {
  // Absent when IFD0 holds no RATIONAL with the tag, refused when its value
  // cannot be read.
  const auto from_ifd0 = [this](uint16_t tag, Rational* out) {
    IfdEntry entry;
    entry.tag = tag;
    if (!Done(FindEntry(kIfd0, &entry)) || entry.type != kTypeRational) return Outcome::kAbsent;
    uint32_t pair[2];
    if (GetEntryValue(&entry, pair, sizeof pair) < 1) return Outcome::kRefused;
    *out = {pair[0], pair[1]};
    return Outcome::kDone;
  };
  bool result = false;
  if (x_resolution != nullptr) {
    if (HasJpegDimensions()) {
      *x_resolution = {jpeg_.jfifXDensity, 1};
      result = true;
    } else if (HasTiffDimensions()) {
      result = Done(from_ifd0(kTagXResolution, x_resolution));
    }
  }
  if (y_resolution != nullptr) {
    if (HasJpegDimensions()) {
      *y_resolution = {jpeg_.jfifYDensity, 1};
      result = true;
    } else if (HasTiffDimensions()) {
      // An absent YResolution leaves the result for x standing.
      const Outcome y = from_ifd0(kTagYResolution, y_resolution);
      if (y != Outcome::kAbsent) result = Done(y);
    }
  }
  return result;
}

bool ExifReader::GetThumbnailLocation(uint32_t* offset, uint32_t* length) {
  if (offset == nullptr || length == nullptr) return false;
  *offset = 0;
  *length = 0;
  if (IsExifJpeg()) {
    std::vector<IfdEntry> list(2);
    list[0].tag = kTagJpegInterchangeFormat;
    list[1].tag = kTagJpegInterchangeFormatLength;
    if (!Done(CollectEntries(kIfd1, &list)) || list.size() != 2) return false;
    // Taken in directory order, as the two tags are always written.
    if (list[0].type == kTypeLong) *offset = list[0].value;
    if (list[1].type == kTypeLong) *length = list[1].value;
    if (*offset <= dataSize_) {
      *length = std::min(*length, dataSize_ - *offset);
    } else {
      *offset = 0;
      *length = 0;
    }
  } else if (IsExifTiff() && data_ != nullptr) {
    IfdLocation ifd1;
    if (!GetIfdHeader(kIfd1, &ifd1) || ifd1.offset == 0 || ifd1.entryCount == 0) return false;
    IfdEntry strips;
    strips.tag = kTagStripOffsets;
    if (!Done(FindEntry(kIfd1, &strips))) return false;
    if (strips.type != kTypeShort && strips.type != kTypeLong) return false;
    uint32_t first = strips.value;
    if (EntryValueSize(&strips) > 4) {
      const bytes::ByteView metadata = Data().Sub(0, std::min(dataSize_, dataLoadedSize_)).value_or(bytes::ByteView());
      const auto element = metadata.Sub(strips.value, TypeSize(strips.type));
      if (!element) return false;
      first = strips.type == kTypeShort ? uint32_t{*element->U16(0)} : *element->U32(0);
    }
    // An IFD1 whose strips lie inside the TIFF data: the thumbnail is the
    // whole TIFF structure, re-rooted at IFD1 by CopyThumbnail.
    if (first > 0 && first < dataSize_) *length = dataSize_;
  }
  return *length > 0;
}

bool ExifReader::CopyThumbnail(uint8_t* destination, uint32_t offset, uint32_t length) {
  if (data_ == nullptr || destination == nullptr) return false;
  std::memset(destination, 0, length);
  const bool jpeg = IsExifJpeg();
  const bool tiff = !jpeg && IsExifTiff();
  if (!jpeg && !tiff) return false;
  if (!Data().Copy(offset, length, destination)) return false;
  if (tiff && length >= 8) bytes::Write32(destination + 4, thumbnailImage_.ifdOffset, byteOrder_);
  return true;
}

uint32_t ExifReader::GetThumbnail(std::vector<uint8_t>* thumbnail) {
  if (thumbnail == nullptr) return 0;
  thumbnail->clear();
  if (!HasExifIfd()) return 0;
  const ScopedExifData loaded(*this);
  if (loaded.Bytes().empty()) return 0;
  uint32_t offset = 0;
  uint32_t length = 0;
  if (GetThumbnailLocation(&offset, &length)) {
    thumbnail->resize(length);
    if (!CopyThumbnail(thumbnail->data(), offset, length)) {
      thumbnail->clear();
      length = 0;
    }
  }
  return length;
}

VELTORA_HOT bool ExifReader::GetCaptureTime(SYSTEMTIME* date_time) {
  if (date_time == nullptr) return false;
  *date_time = SYSTEMTIME{};
  if (!HasExifIfd()) return false;
  IfdEntry entry;
  if (!FindDateEntry(0, 16, &entry)) return false;
  // As ReadDateText: a whole value delivered as exactly the stored size in
  // items, which only a value of that count can be; its widest items are 8
  // bytes.
  if (entry.count != kDateTextStoredSize) return false;
  const uint32_t size = EntryValueSize(&entry);
  char value[kDateTextStoredSize * 8];
  if (size == 0 || size > sizeof value) return false;
  const uint32_t delivered = GetEntryValue(&entry, value, size);
  if (delivered != kDateTextStoredSize) return false;
  return ParseDateText({value, strnlen(value, delivered)}, "", date_time);
}

bool ExifReader::IsExifVersion22() {
  if (!IsExif()) return false;
  IfdEntry entry;
  entry.tag = kTagExifVersion;
  if (!Done(FindEntry(kExifIfd, &entry))) return false;
  if (entry.type != kTypeUndefined || entry.count != 4) return false;
  return entry.value >= kExifVersion22;
}

}  // namespace veltora::exif
