#include "info/record_parser.h"

#include <memory>
#include <optional>

#include "exif/directory.h"
#include "frame/veltora.h"
#include "info/record_entries.h"
#include "info/record_list.h"
#include "interface/record_fields.h"

namespace veltora::info {
namespace {


// IFD0 cannot start inside the 8-byte TIFF header.
constexpr uint32_t kMinIfd0Offset = 8;
// The magic 42 read in the wrong byte order: the one value refused.
constexpr uint16_t kSwappedMagic = 0x2A00;
// The byte-order mark, as its two bytes read little-endian.
constexpr uint16_t kMarkLittleEndian = 0x4949;  // "II"
constexpr uint16_t kMarkBigEndian = 0x4D4D;     // "MM"
// The Interoperability walk bounds itself by the block size cut to 16 bits,
// as the segment that normally holds it can be no larger.
constexpr uint64_t kInteropSizeMask = 0xFFFF;

const RecordSchema& SchemaOf(uint32_t type) { return *FindRecordSchema(type); }

// Runs `parse(count, first_entry)` on the sub-directory at the offset held by
// the pointer entry, when its count and entries lie in the block.
// `count_strictly_inside` asks for the count's two bytes to end before the
// block does, as the IFD0 pointers do.
template <typename Parse>
exif::Outcome FollowPointer(bytes::ByteView block, const EntryData& pointer, bool count_strictly_inside,
                            Parse&& parse) {
  const std::optional<uint32_t> offset = block.U32(pointer.position);
  if (!offset) return exif::Outcome::kAbsent;
  const uint64_t first_entry = uint64_t{*offset} + 2;
  if (count_strictly_inside ? first_entry >= block.size() : first_entry > block.size()) {
    return exif::Outcome::kAbsent;
  }
  const std::optional<uint16_t> count = block.U16(*offset);
  if (!count || first_entry + uint64_t{*count} * exif::kEntrySize > block.size()) {
    return exif::Outcome::kAbsent;
  }
  return parse(*count, first_entry);
}

// The walk of a sub-directory: every entry whose tag `fields` carries under
// `directory` is stored, then `other` sees it.
template <typename Other>
void StoreDirectory(void* record, const RecordSchema& schema, FieldDirectory directory, uint16_t count,
                    bytes::ByteView block, uint64_t first_entry, Other&& other) {
  ForEachEntry(block, first_entry, count, [&](const EntryData& entry) {
    if (const RecordField* field = FindField(schema, directory, entry.tag)) {
      StoreField(*field, entry, block, record);
    }
    other(entry);
  });
}

struct RecordDeleter {
  uint32_t type;
  void operator()(void* record) const { ImageInfoRecordDelete(type, record); }
};
using OwnedRecord = std::unique_ptr<void, RecordDeleter>;

OwnedRecord NewRecordIf(uint32_t flags, uint32_t type) {
  if ((flags & type) == 0) return OwnedRecord(nullptr, RecordDeleter{type});
  OwnedRecord record(ImageInfoRecordNew(type), RecordDeleter{type});
  if (record == nullptr) throw std::bad_alloc();
  return record;
}

}  // namespace

exif::Outcome ParseExifIfd(ExifInfo* record, uint16_t count, bytes::ByteView block, uint64_t first_entry) {
  if (record == nullptr) return exif::Outcome::kRefused;
  StoreDirectory(record, SchemaOf(INFO_EXIF), FieldDirectory::kExif, count, block, first_entry,
                 [&](const EntryData& entry) {
                   if (entry.tag != exif::kTagInteropIfdPointer) return;
                   const exif::Outcome read = FollowPointer(block, entry, false, [&](uint16_t m, uint64_t first) {
                     const bytes::ByteView cut = *block.Sub(0, block.size() & kInteropSizeMask);
                     return ParseInteropIfd(record, m, cut, first);
                   });
                   if (Done(read)) record->mask_h |= EXIF_H_INTEROP_IFD;
                 });
  return exif::Outcome::kDone;
}

exif::Outcome ParseInteropIfd(ExifInfo* record, uint16_t count, bytes::ByteView block, uint64_t first_entry) {
  if (record == nullptr) return exif::Outcome::kRefused;
  StoreDirectory(record, SchemaOf(INFO_EXIF), FieldDirectory::kInterop, count, block, first_entry,
                 [](const EntryData&) {});
  return exif::Outcome::kDone;
}

exif::Outcome ParseGpsIfd(GpsInfo* record, uint16_t count, bytes::ByteView block, uint64_t first_entry) {
  if (record == nullptr) return exif::Outcome::kRefused;
  StoreDirectory(record, SchemaOf(INFO_GPS), FieldDirectory::kGps, count, block, first_entry,
                 [](const EntryData&) {});
  return exif::Outcome::kDone;
}

int64_t ParseIfd(bytes::ByteView block, uint32_t ifd_offset, const ParseContext& context) {
  const uint64_t first_entry = uint64_t{ifd_offset} + 2;
  if (block.size() <= first_entry) return -1;
  const uint16_t count = block.U16(ifd_offset).value_or(0);
  const uint64_t link = first_entry + uint64_t{count} * exif::kEntrySize;
  if (block.size() <= link) return -1;
  const RecordSchema& tiff_schema = SchemaOf(INFO_TIFF_MAIN);
  ForEachEntry(block, first_entry, count, [&](const EntryData& entry) {
    if (context.tiff != nullptr) {
      if (const RecordField* field = FindField(tiff_schema, FieldDirectory::kTiff, entry.tag)) {
        StoreField(*field, entry, block, context.tiff);
      }
    }
    uint32_t read_bit = 0;
    exif::Outcome read = exif::Outcome::kAbsent;
    if (entry.tag == exif::kTagExifIfdPointer) {
      read_bit = TIFF_M1_EXIF_IFD_READ;
      read = FollowPointer(block, entry, true, [&](uint16_t m, uint64_t first) {
        return ParseExifIfd(context.exif, m, block, first);
      });
    } else if (entry.tag == exif::kTagGpsIfdPointer) {
      read_bit = TIFF_M1_GPS_IFD_READ;
      read = FollowPointer(block, entry, true, [&](uint16_t m, uint64_t first) {
        return ParseGpsIfd(context.gps, m, block, first);
      });
    }
    if (Done(read) && context.tiff != nullptr) context.tiff->mask1 |= read_bit;
  });
  return static_cast<int64_t>(link);
}

HRESULT ParseTiffBlock(const uint8_t* data, uint32_t size, ImageInfoList* list, uint32_t flags) {
  if (data == nullptr || list == nullptr || (flags & INFO_REQUEST_MASK) == 0) return E_INVALIDARG;
  const bytes::ByteView bytes(data, size, bytes::kLittleEndian);
  const std::optional<uint16_t> mark = bytes.U16(0);
  if (mark != kMarkLittleEndian && mark != kMarkBigEndian) return E_FAIL;
  const bytes::ByteView block = bytes.WithOrder(*mark == kMarkBigEndian ? bytes::kBigEndian : bytes::kLittleEndian);
  const std::optional<uint16_t> magic = block.U16(2);
  const std::optional<uint32_t> ifd0 = block.U32(4);
  if (!magic || *magic == kSwappedMagic || !ifd0 || *ifd0 < kMinIfd0Offset) return E_FAIL;

  OwnedRecord primary = NewRecordIf(flags, INFO_TIFF_MAIN);
  OwnedRecord exif = NewRecordIf(flags, INFO_EXIF);
  OwnedRecord gps = NewRecordIf(flags, INFO_GPS);
  const ParseContext context{static_cast<TiffInfo*>(primary.get()), static_cast<ExifInfo*>(exif.get()),
                             static_cast<GpsInfo*>(gps.get())};
  const int64_t link = ParseIfd(block, *ifd0, context);
  if (link < 0) return E_FAIL;

  OwnedRecord thumb = NewRecordIf(0, INFO_TIFF_THUMB);
  if ((flags & INFO_TIFF_THUMB) != 0) {
    // A link cut off by the block's end reads as "no IFD1".
    const uint32_t ifd1 = block.U32(static_cast<uint64_t>(link)).value_or(0);
    if (ifd1 != 0) {
      thumb = NewRecordIf(flags, INFO_TIFF_THUMB);
      if (ParseIfd(block, ifd1, ParseContext{static_cast<TiffInfo*>(thumb.get())}) < 0) return E_FAIL;
    }
  }

  RecordBatch batch;
  for (OwnedRecord* record : {&primary, &exif, &gps, &thumb}) {
    if (*record != nullptr) batch.push_back({record->get_deleter().type, record->get()});
  }
  if (!AppendRecords(list, batch)) throw std::bad_alloc();
  for (OwnedRecord* record : {&primary, &exif, &gps, &thumb}) (void)record->release();
  return S_OK;
}

}  // namespace veltora::info
