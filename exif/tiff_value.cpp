#include "exif/tiff_value.h"

#include <algorithm>
#include <cstring>

#include "platform/hot_path.h"

namespace veltora::exif {
namespace {

bool IsByteLike(uint16_t type) {
  return type == kTypeByte || type == kTypeAscii || type == kTypeUndefined;
}

// Inline bytes as a number with byte 0 least significant, whatever the machine.
uint32_t PackBytes(const uint8_t* bytes, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < n && i < 4; ++i) v |= uint32_t{bytes[i]} << (8 * i);
  return v;
}

void UnpackBytes(uint32_t value, uint32_t n, uint8_t* out) {
  for (uint32_t i = 0; i < n && i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Bytes and ASCII share one rule: ASCII gives up its last delivered byte to the NUL.
uint32_t DeliverBytes(const uint8_t* bytes, uint32_t available, uint16_t type, uint8_t* out,
                      uint32_t capacity) {
  const uint32_t n = std::min(available, capacity);
  const uint32_t copied = (type == kTypeAscii && n > 0) ? n - 1 : n;
  if (copied > 0) std::memcpy(out, bytes, copied);
  return n;
}

// The SHORTs the value field holds: counts 1 and 2 only. A count whose 32-bit
// value size wraps to 2 or 4 (0x80000001, 0x80000002) holds none.
uint32_t InlineShorts(const IfdEntry& entry) { return entry.count <= 2 ? entry.count : 0; }

}  // namespace

VELTORA_HOT uint16_t TypeSize(uint16_t type) {
  switch (type) {
    case kTypeByte:
    case kTypeAscii:
    case kTypeUndefined:
      return 1;
    case kTypeShort:
      return 2;
    case kTypeLong:
    case kTypeSLong:
      return 4;
    case kTypeRational:
    case kTypeSRational:
      return 8;
    default:
      return 0;
  }
}

VELTORA_HOT uint32_t EntryValueSize(const IfdEntry* entry) {
  if (entry == nullptr) return 0;
  return uint32_t{TypeSize(entry->type)} * entry->count;
}

VELTORA_HOT bool DecodeEntry(const uint8_t* raw12, bytes::ByteOrder order, IfdEntry* entry) {
  if (raw12 == nullptr || entry == nullptr) return false;
  *entry = IfdEntry{};
  entry->tag = bytes::Read16(raw12, order);
  entry->type = bytes::Read16(raw12 + 2, order);
  entry->count = bytes::Read32(raw12 + 4, order);
  const uint32_t size = EntryValueSize(entry);
  if (size == 0) return false;
  const uint8_t* v = raw12 + 8;
  if (size > 4) {
    entry->value = bytes::Read32(v, order);
  } else if (IsByteLike(entry->type)) {
    entry->value = PackBytes(v, size);
  } else if (entry->type == kTypeShort) {
    const uint32_t shorts = InlineShorts(*entry);
    entry->value = shorts == 1   ? bytes::Read16(v, order)
                   : shorts == 2 ? uint32_t{bytes::Read16(v, order)} << 16 | bytes::Read16(v + 2, order)
                                 : 0;
  } else {  // LONG or SLONG, count 1
    entry->value = bytes::Read32(v, order);
  }
  return true;
}

bool EncodeEntry(uint8_t* raw12, bytes::ByteOrder order, const IfdEntry& entry) {
  if (raw12 == nullptr) return false;
  bytes::Write16(raw12, entry.tag, order);
  bytes::Write16(raw12 + 2, entry.type, order);
  bytes::Write32(raw12 + 4, entry.count, order);
  bytes::Write32(raw12 + 8, 0, order);
  const uint32_t size = EntryValueSize(&entry);
  if (size == 0) {
    bytes::Write32(raw12 + 4, 0, order);
    return false;
  }
  uint8_t* v = raw12 + 8;
  if (size > 4) {
    bytes::Write32(v, entry.value, order);
  } else if (IsByteLike(entry.type)) {
    UnpackBytes(entry.value, size, v);
  } else if (entry.type == kTypeShort) {
    if (InlineShorts(entry) == 1) {
      bytes::Write16(v, static_cast<uint16_t>(entry.value), order);
    } else if (InlineShorts(entry) == 2) {
      bytes::Write16(v, static_cast<uint16_t>(entry.value >> 16), order);
      bytes::Write16(v + 2, static_cast<uint16_t>(entry.value), order);
    }
  } else {
    bytes::Write32(v, entry.value, order);
  }
  return true;
}

uint32_t CopyInlineValue(const IfdEntry& entry, uint32_t value_size, void* buffer,
                         uint32_t capacity) {
  if (buffer == nullptr) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  std::memset(out, 0, capacity);
  if (IsByteLike(entry.type)) {
    uint8_t bytes[4];
    UnpackBytes(entry.value, 4, bytes);
    return DeliverBytes(bytes, std::min<uint32_t>(value_size, 4), entry.type, out, capacity);
  }
  if (entry.type == kTypeShort) {
    uint16_t numbers[2];
    const uint32_t available = InlineShorts(entry);
    if (available == 1) {
      numbers[0] = static_cast<uint16_t>(entry.value);
    } else if (available == 2) {
      numbers[0] = static_cast<uint16_t>(entry.value >> 16);
      numbers[1] = static_cast<uint16_t>(entry.value);
    }
    const uint32_t k = std::min(available, capacity / 2);
    std::memcpy(out, numbers, k * 2);
    return k;
  }
  if (entry.type == kTypeLong || entry.type == kTypeSLong) {
    if (capacity < 4) return 0;
    std::memcpy(out, &entry.value, 4);
    return 1;
  }
  return 0;
}

VELTORA_HOT uint32_t DecodeValueBytes(const uint8_t* source, uint32_t value_size, uint16_t type,
                                      bytes::ByteOrder order, void* buffer, uint32_t capacity) {
  if (buffer == nullptr) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  std::memset(out, 0, capacity);
  if (source == nullptr || type == 0 || type > kTypeSRational) return 0;
  if (IsByteLike(type)) return DeliverBytes(source, value_size, type, out, capacity);
  const uint32_t element = TypeSize(type);
  if (element == 0 || capacity < element) return 0;
  const uint32_t k = std::min(value_size / element, capacity / element);
  for (uint32_t i = 0; i < k; ++i) {
    const uint8_t* in = source + uint64_t{i} * element;
    uint8_t* at = out + uint64_t{i} * element;
    if (element == 2) {
      const uint16_t v = bytes::Read16(in, order);
      std::memcpy(at, &v, 2);
    } else {
      for (uint32_t half = 0; half < element; half += 4) {
        const uint32_t v = bytes::Read32(in + half, order);
        std::memcpy(at + half, &v, 4);
      }
    }
  }
  return k;
}

}  // namespace veltora::exif
