#include "bytes/byte_order.h"

namespace veltora::bytes {

void Write16(uint8_t* bytes, uint16_t value, ByteOrder order) {
  const auto hi = static_cast<uint8_t>(value >> 8);
  const auto lo = static_cast<uint8_t>(value);
  bytes[0] = order != kLittleEndian ? hi : lo;
  bytes[1] = order != kLittleEndian ? lo : hi;
}

void Write32(uint8_t* bytes, uint32_t value, ByteOrder order) {
  for (int i = 0; i < 4; ++i) {
    const int shift = order != kLittleEndian ? 24 - 8 * i : 8 * i;
    bytes[i] = static_cast<uint8_t>(value >> shift);
  }
}

uint16_t Swap16(uint16_t value) { return static_cast<uint16_t>(value << 8 | value >> 8); }

uint32_t Swap32(uint32_t value) {
  return (value << 24) | ((value << 8) & 0x00FF0000u) | ((value >> 8) & 0x0000FF00u) |
         (value >> 24);
}

}  // namespace veltora::bytes
