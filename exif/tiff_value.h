// TIFF field types, the 12-byte directory entry and the conversion of a
// stored value into a caller's buffer. Every reader and writer of EXIF data
// uses these and defines no variants of its own.
#ifndef VELTORA_EXIF_TIFF_VALUE_H_
#define VELTORA_EXIF_TIFF_VALUE_H_

#include <cstdint>

#include "bytes/byte_order.h"

namespace veltora::exif {

inline constexpr uint16_t kTypeByte = 1;
inline constexpr uint16_t kTypeAscii = 2;
inline constexpr uint16_t kTypeShort = 3;
inline constexpr uint16_t kTypeLong = 4;
inline constexpr uint16_t kTypeRational = 5;
inline constexpr uint16_t kTypeSByte = 6;
inline constexpr uint16_t kTypeUndefined = 7;
inline constexpr uint16_t kTypeSShort = 8;
inline constexpr uint16_t kTypeSLong = 9;
inline constexpr uint16_t kTypeSRational = 10;
inline constexpr uint16_t kTypeFloat = 11;
inline constexpr uint16_t kTypeDouble = 12;

inline constexpr uint32_t kEntrySize = 12;

// Bytes per value of a field type. SBYTE, SSHORT, FLOAT and DOUBLE are 0 on
// purpose, as is every unknown code: entries of those types carry no value
// anywhere in this system.
uint16_t TypeSize(uint16_t type);

// One decoded directory entry. `value` holds the value itself when it takes
// 4 bytes or less, else its offset from the TIFF header. Inline bytes (BYTE,
// ASCII, UNDEFINED) sit in stored order with byte 0 least significant; one
// SHORT sits in the low half; a SHORT pair holds the first in the high half.
// Only counts 1 and 2 put SHORTs there: a count whose value size wraps to 4
// bytes or less (0x80000001) holds none, and its `value` is 0.
struct IfdEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;
};

// TypeSize(type) * count as an unsigned 32-bit product (it may wrap: the
// system's size rule; every read still checks the bytes it takes). 0 for null.
uint32_t EntryValueSize(const IfdEntry* entry);

// Decodes the 12 bytes at `raw12` (the caller guarantees all 12). True when
// the entry carries a value, false when its value size is 0 (tag, type and
// count are still filled, `value` is 0) or a pointer is null.
bool DecodeEntry(const uint8_t* raw12, bytes::ByteOrder order, IfdEntry* entry);
// The inverse; writes all 12 bytes. A value size of 0 stores count 0 and
// gives false.
bool EncodeEntry(uint8_t* raw12, bytes::ByteOrder order, const IfdEntry& entry);

// Both conversions clear the whole buffer (`capacity` bytes) first and return
// the number of items delivered: bytes for BYTE, ASCII and UNDEFINED (ASCII is
// NUL-terminated within them), numbers for SHORT, LONG and SLONG, numerator/
// denominator pairs for RATIONAL and SRATIONAL, in the machine's order.
//
// For values of 4 bytes or less, taken from `entry.value`.
uint32_t CopyInlineValue(const IfdEntry& entry, uint32_t value_size, void* buffer,
                         uint32_t capacity);
// For larger values: `source` holds the `value_size` stored bytes (checked
// by the caller).
uint32_t DecodeValueBytes(const uint8_t* source, uint32_t value_size, uint16_t type,
                          bytes::ByteOrder order, void* buffer, uint32_t capacity);

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_TIFF_VALUE_H_
