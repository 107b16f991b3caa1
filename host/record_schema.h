// The fields of the records of an ImageInfoList as the host names them: one
// table per record type, in the order in which the block builder writes the
// tags. The JSON form (record_json.h) and the tables of `veltora info` are
// both driven by these tables, so a field is named and read the same way
// everywhere.
#ifndef VELTORA_HOST_RECORD_SCHEMA_H_
#define VELTORA_HOST_RECORD_SCHEMA_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "plugin/veltora.h"

namespace veltora::host {

enum class FieldKind {
  kU8,
  kU16,
  kU32,
  kSized,       // u32 value and a u16 type word at type_offset (3: SHORT, else LONG)
  kU16Array,    // `count` u16 values
  kRational,    // `count` HostRational
  kSRational,   // `count` HostSRational
  kText,        // CString
  kChars4,      // char[4]: a version's four characters, as stored
  kBytes4,      // uint8_t[4]
  kBlob,        // HostBlob
  kShortArray,  // ShortArray
  kLongArray,   // LongArray and a u16 type word at type_offset
  kFlag,        // no value: only its presence bit (a sub-directory was read)
  kName128,     // char[128], NUL-terminated (ImageSummary::format_name)
};

// Where an attribute lives in a file; the info tables group by it.
enum class FieldDirectory { kNone, kTiff, kExif, kInterop, kGps };

inline constexpr uint32_t kNoMask = UINT32_MAX;

struct RecordField {
  const char* name;  // as in the chief header
  int32_t tag;       // the EXIF tag, -1 for fields that have none
  FieldKind kind;
  uint32_t offset;       // of the value in the record
  uint32_t count;        // elements of kU16Array, kRational, kSRational; else 1
  uint32_t type_offset;  // of the type word of kSized and kLongArray
  uint32_t mask_offset;  // of the u32 mask holding `bit`; kNoMask: always present
  uint32_t bit;
  FieldDirectory directory;
};

struct RecordSchema {
  uint32_t type;  // INFO_*
  const char* name;  // the record's member name in the JSON document
  std::span<const RecordField> fields;
};

// Every record type, in the order GetStillImageInfo lists them: Image,
// Thumbnail, TiffMain, Exif, Gps, TiffThumb.
std::span<const RecordSchema> RecordSchemas();
// The schema of a type code; null for a type that has no record.
const RecordSchema* FindRecordSchema(uint32_t type);

// The field's presence bit is set in `record` (always true without a mask).
bool FieldPresent(const RecordField& field, const void* record);
// Sets the field's presence bit (nothing without a mask).
void MarkFieldPresent(const RecordField& field, void* record);

// The field's storage inside a record, typed by the caller after its kind.
template <typename T>
const T* FieldAt(const void* record, uint32_t offset) {
  return reinterpret_cast<const T*>(static_cast<const std::byte*>(record) + offset);
}
template <typename T>
T* FieldAt(void* record, uint32_t offset) {
  return reinterpret_cast<T*>(static_cast<std::byte*>(record) + offset);
}

}  // namespace veltora::host

#endif  // VELTORA_HOST_RECORD_SCHEMA_H_
