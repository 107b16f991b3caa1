#include "create/exif_block_builder.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "bytes/byte_order.h"
#include "create/record_values.h"
#include "edit/directory_writer.h"
#include "exif/directory.h"
#include "exif/tiff_value.h"

namespace veltora::create {
namespace {

using edit::DirectoryItem;
constexpr uint32_t kInfoTiffMain = 0x00010000u;
constexpr uint32_t kInfoTiffThumb = 0x00020000u;
constexpr uint32_t kInfoExif = 0x00040000u;
constexpr uint32_t kInfoGps = 0x00080000u;
constexpr uint32_t kTiffHeaderSize = 8;

// Collects the entries of one directory in the order they are written. A
// field that cannot be described (negative text length, an array whose count
// has no elements) marks the whole list bad: the block is then refused rather
// than written with a value the record does not hold.
class Items {
 public:
  std::vector<DirectoryItem>& list() { return items_; }
  bool ok() const { return ok_; }

  void Add(uint16_t tag, const FieldValue& value) {
    DirectoryItem item;
    item.tag = tag;
    item.type = value.type;
    item.count = value.count;
    if (value.bytes.size() <= 4) {
      std::copy(value.bytes.begin(), value.bytes.end(), item.field);
    } else {
      item.value = value.bytes;
    }
    items_.push_back(std::move(item));
  }
  // A pointer or thumbnail place whose value is filled in later.
  void Long(uint16_t tag, uint32_t value) {
    FieldValue v{exif::kTypeLong, 1, std::vector<uint8_t>(4)};
    bytes::Write32(v.bytes.data(), value, bytes::kLittleEndian);
    Add(tag, v);
  }
  void Field(const void* record, const RecordField& field) {
    if (const auto value = EncodeField(record, field, bytes::kLittleEndian)) {
      Add(static_cast<uint16_t>(field.tag), *value);
    } else {
      ok_ = false;
    }
  }

 private:
  std::vector<DirectoryItem> items_;
  bool ok_ = true;
};

// The present fields of one directory of `record`, in the table's order,
// which is the order they are written in. Read flags are no entries, except
// the EXIF directory's Interoperability flag, which stands for its pointer
// (value filled in later). JPEGInterchangeFormat and its length describe a
// thumbnail: IFD0 leaves them out, IFD1 writes them with values filled in
// later. Print-matching data follows IFD0's pointers and stays out of IFD1.
void AddFields(const void* record, std::span<const RecordField> fields, FieldDirectory directory,
               bool thumbnail, Items& out) {
  for (const RecordField& field : fields) {
    if (field.directory != directory || !FieldPresent(field, record)) continue;
    const auto tag = static_cast<uint16_t>(field.tag);
    if (field.kind == FieldKind::kFlag) {
      if (tag == exif::kTagInteropIfdPointer) out.Long(tag, 0);
    } else if (tag == exif::kTagJpegInterchangeFormat || tag == exif::kTagJpegInterchangeFormatLength) {
      if (thumbnail) out.Long(tag, 0);
    } else if (tag != exif::kTagPrintIm) {
      out.Field(record, field);
    }
  }
}

std::span<const RecordField> Fields(uint32_t type) { return FindRecordSchema(type)->fields; }

void SetLongField(std::vector<DirectoryItem>& items, uint16_t tag, uint32_t value) {
  for (DirectoryItem& item : items) {
    if (item.tag == tag) bytes::Write32(item.field, value, bytes::kLittleEndian);
  }
}

struct Part {
  std::vector<DirectoryItem>* items;
  uint64_t at;
  uint32_t link;
};

}  // namespace

std::optional<std::vector<uint8_t>> BuildExifSegment(const ImageInfoList* list,
                                                     const ThumbnailMaker& make_thumbnail) {
  const auto* main = static_cast<const TiffInfo*>(ImageInfoListFind(list, kInfoTiffMain));
  const auto* exif = static_cast<const ExifInfo*>(ImageInfoListFind(list, kInfoExif));
  if (main == nullptr || exif == nullptr) return std::nullopt;
  const auto* gps = static_cast<const GpsInfo*>(ImageInfoListFind(list, kInfoGps));
  const auto* thumb = static_cast<const TiffInfo*>(ImageInfoListFind(list, kInfoTiffThumb));
  const bool write_gps = gps != nullptr && (gps->mask != 0 || gps->mask2 != 0);
  const bool point_to_exif = exif->mask_l != 0 || exif->mask_h != 0;

  Items ifd0, exif_ifd, interop, gps_ifd, ifd1;
  AddFields(main, Fields(kInfoTiffMain), FieldDirectory::kTiff, false, ifd0);
  if (point_to_exif) ifd0.Long(exif::kTagExifIfdPointer, 0);
  if (write_gps) ifd0.Long(exif::kTagGpsIfdPointer, 0);
  if ((main->mask2 & TIFF_M2_PRINT_IMAGE_MATCHING) != 0) {
    for (const RecordField& field : Fields(kInfoTiffMain)) {
      if (field.tag == exif::kTagPrintIm) ifd0.Field(main, field);
    }
  }
  AddFields(exif, Fields(kInfoExif), FieldDirectory::kExif, false, exif_ifd);
  AddFields(exif, Fields(kInfoExif), FieldDirectory::kInterop, false, interop);
  if (write_gps) AddFields(gps, Fields(kInfoGps), FieldDirectory::kGps, false, gps_ifd);
  if (thumb != nullptr) AddFields(thumb, Fields(kInfoTiffThumb), FieldDirectory::kTiff, true, ifd1);
  for (Items* items : {&ifd0, &exif_ifd, &interop, &gps_ifd, &ifd1}) {
    if (!items->ok()) return std::nullopt;
  }

  // Every size is known before anything is written, so each pointer is
  // filled in first and every directory is written once, in place.
  constexpr auto kPadding = edit::ValuePadding::kBuiltBlock;
  std::vector<Part> parts;
  uint64_t end = kTiffHeaderSize;
  auto place = [&](Items& items) {
    parts.push_back({&items.list(), end, 0});
    end += edit::DirectorySize(items.list(), kPadding);
    return parts.back().at;
  };
  place(ifd0);
  const uint64_t exif_at = place(exif_ifd);
  const uint64_t interop_at = place(interop);
  const uint64_t gps_at = write_gps ? place(gps_ifd) : 0;
  const uint64_t ifd1_at = thumb != nullptr ? place(ifd1) : 0;
  if (end > kMaxBuiltTiffSize) return std::nullopt;  // before the thumbnail is made

  std::vector<uint8_t> thumbnail;
  if (thumb != nullptr) {
    if (!make_thumbnail || !make_thumbnail(&thumbnail)) return std::nullopt;
    // Discarded with the block when it does not fit.
    if (thumbnail.size() > kMaxBuiltTiffSize - end) return std::nullopt;
    SetLongField(ifd1.list(), exif::kTagJpegInterchangeFormat, static_cast<uint32_t>(end));
    SetLongField(ifd1.list(), exif::kTagJpegInterchangeFormatLength,
                 static_cast<uint32_t>(thumbnail.size()));
    parts.front().link = static_cast<uint32_t>(ifd1_at);
  }
  SetLongField(ifd0.list(), exif::kTagExifIfdPointer, static_cast<uint32_t>(exif_at));
  SetLongField(ifd0.list(), exif::kTagGpsIfdPointer, static_cast<uint32_t>(gps_at));
  SetLongField(exif_ifd.list(), exif::kTagInteropIfdPointer, static_cast<uint32_t>(interop_at));

  const uint64_t tiff_size = end + thumbnail.size();
  // At most kMaxBuiltTiffSize (both parts were checked against it above).
  std::vector<uint8_t> segment(kSegmentHeadSize + static_cast<size_t>(tiff_size), 0);
  const std::span<uint8_t> tiff = std::span<uint8_t>(segment).subspan(kSegmentHeadSize);
  segment[0] = 0xFF;
  segment[1] = 0xE1;
  bytes::Write16(&segment[2], static_cast<uint16_t>(tiff_size + 8), bytes::kBigEndian);
  std::memcpy(&segment[4], "Exif\0\0", 6);
  std::memcpy(tiff.data(), "II", 2);
  bytes::Write16(&tiff[2], 42, bytes::kLittleEndian);
  bytes::Write32(&tiff[4], kTiffHeaderSize, bytes::kLittleEndian);
  for (Part& part : parts) {
    edit::WriteDirectory(tiff.subspan(static_cast<size_t>(part.at)), static_cast<uint32_t>(part.at),
                         *part.items, part.link, bytes::kLittleEndian, kPadding);
  }
  if (!thumbnail.empty()) std::memcpy(&tiff[static_cast<size_t>(end)], thumbnail.data(), thumbnail.size());
  return segment;
}

}  // namespace veltora::create
