// Byte order of TIFF data and the fixed-width number reads and writes every
// reader and writer of that structure uses. The routines take raw pointers:
// callers have already checked (through ByteView) that the 2 or 4 bytes exist.
#ifndef VELTORA_BYTES_BYTE_ORDER_H_
#define VELTORA_BYTES_BYTE_ORDER_H_

#include <cstdint>

namespace veltora::bytes {

// 0 is little-endian (the TIFF header's "II"); every other value is
// big-endian ("MM"), so a flag read from anywhere can be passed straight in.
using ByteOrder = uint32_t;
inline constexpr ByteOrder kLittleEndian = 0;
inline constexpr ByteOrder kBigEndian = 1;

// Defined here so that the many small reads of a directory walk compile to
// a few instructions each instead of a call.
inline uint16_t Read16(const uint8_t* bytes, ByteOrder order) {
  if (order != kLittleEndian) return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
  return static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

inline uint32_t Read32(const uint8_t* bytes, ByteOrder order) {
  if (order != kLittleEndian) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
           uint32_t{bytes[3]};
  }
  return uint32_t{bytes[3]} << 24 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[1]} << 8 |
         uint32_t{bytes[0]};
}

void Write16(uint8_t* bytes, uint16_t value, ByteOrder order);
void Write32(uint8_t* bytes, uint32_t value, ByteOrder order);

uint16_t Swap16(uint16_t value);
uint32_t Swap32(uint32_t value);

}  // namespace veltora::bytes

#endif  // VELTORA_BYTES_BYTE_ORDER_H_
