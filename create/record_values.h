// A record field as the entry a directory stores for it: TIFF type, count and
// value bytes in a given byte order. The block builder writes every present
// field this way (little-endian); the merge of records into an existing block
// takes a few of them in the block's own order.
//
// Types follow the field's kind (interface/record_fields.h): one byte and
// four-byte fields are BYTE in the GPS directory and UNDEFINED elsewhere;
// sized values and strip arrays are SHORT when their type word is 3 (the low
// 16 bits of each element), else LONG; texts are ASCII with their NUL.
#ifndef VELTORA_CREATE_RECORD_VALUES_H_
#define VELTORA_CREATE_RECORD_VALUES_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "bytes/byte_order.h"
#include "interface/record_fields.h"

namespace veltora::create {

struct FieldValue {
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> bytes;
};

// The entry for `field` of `record`; nullopt when the field is no entry (a
// read flag, a summary name) or the record does not hold a value it can
// describe: a negative text length, or a text, blob or array whose count has
// no elements behind it.
std::optional<FieldValue> EncodeField(const void* record, const RecordField& field,
                                      bytes::ByteOrder order);

}  // namespace veltora::create

#endif  // VELTORA_CREATE_RECORD_VALUES_H_
