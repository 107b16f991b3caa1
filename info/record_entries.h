// The entries of one directory of a TIFF block, as the record parser sees
// them, and the storing of one entry's value into a record field.
//
// An entry's data is count x the type's unit size bytes (TypeSize; types
// without a unit size carry 0 bytes). Up to 4 bytes lie in the entry's last
// field, more at the offset that field holds. The size is computed in 64
// bits: a count whose product would wrap the system's 32-bit size can never
// have all its data in the block, so such an entry is skipped rather than
// read as if it were small.
#ifndef VELTORA_INFO_RECORD_ENTRIES_H_
#define VELTORA_INFO_RECORD_ENTRIES_H_

#include <cstdint>
#include <optional>

#include "bytes/byte_view.h"
#include "exif/tiff_value.h"
#include "interface/record_fields.h"

namespace veltora::info {

struct EntryData {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t position = 0;  // of the data in the block
  uint64_t size = 0;      // bytes of data
};

// The entry whose 12 bytes start at `at`; nullopt when they are not all in
// the block.
std::optional<EntryData> ReadEntry(bytes::ByteView block, uint64_t at);

// Hands every entry of a directory of `count` entries starting at `first`
// to `handle`, in order. An entry whose 12 bytes or whose data would pass
// the end of the block is skipped and the walk goes on. A directory is
// walked once and never followed into another, so it always ends.
template <typename Handle>
void ForEachEntry(bytes::ByteView block, uint64_t first, uint32_t count, Handle&& handle) {
  for (uint32_t i = 0; i < count; ++i) {
    const std::optional<EntryData> entry = ReadEntry(block, first + uint64_t{i} * exif::kEntrySize);
    if (entry && block.Contains(entry->position, entry->size)) handle(*entry);
  }
}

// The attribute field of `fields` stored under `tag` in `directory`; null
// for a tag the record does not carry (and for the flag rows, which stand for
// sub-directories, not values).
const RecordField* FindField(const RecordSchema& schema, FieldDirectory directory, uint16_t tag);

// Stores the entry's value into the field of `record` by the field's kind
// and sets its presence bit. Fixed-length fields take their length whatever
// the count; where the block holds fewer bytes than they take, the missing
// values are 0; a text ends at the block's end when no NUL comes first. A
// blob or array whose bytes are not all in the block is not stored and its
// bit stays clear. Throws std::bad_alloc when memory for a text, blob or
// array is short.
void StoreField(const RecordField& field, const EntryData& entry, bytes::ByteView block, void* record);

}  // namespace veltora::info

#endif  // VELTORA_INFO_RECORD_ENTRIES_H_
