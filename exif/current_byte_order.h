// The module-wide current byte order: one TIFF byte-order mark shared by the
// record parser, the merge of host records and the block builder, which set it
// from the TIFF header they work on and read it back within the same call.
// Unguarded: calls into the plug-in must not overlap.
#ifndef VELTORA_EXIF_CURRENT_BYTE_ORDER_H_
#define VELTORA_EXIF_CURRENT_BYTE_ORDER_H_

#include <cstdint>

namespace veltora::exif {

// The two mark bytes as read in the machine's order. Only kMarkBigEndian makes
// the routines below swap; every other value means little-endian.
inline constexpr uint16_t kMarkLittleEndian = 0x4949;  // "II"
inline constexpr uint16_t kMarkBigEndian = 0x4D4D;     // "MM"

// 0 at load.
extern uint16_t CurrentByteOrder;

uint16_t CurrentRead16(const uint8_t* bytes);
uint32_t CurrentRead32(const uint8_t* bytes);
// Between the machine's little-endian order and the current order; the same
// operation in both directions.
uint16_t CurrentOrder16(uint16_t value);
uint32_t CurrentOrder32(uint32_t value);
// TypeSize(type) * count as a 32-bit product.
uint32_t CurrentValueSize(uint16_t type, uint32_t count);

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_CURRENT_BYTE_ORDER_H_
