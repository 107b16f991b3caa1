#include "exif/current_byte_order.h"

#include "bytes/byte_order.h"
#include "exif/tiff_value.h"

namespace veltora::exif {

uint16_t CurrentByteOrder = 0;

namespace {
ByteOrder Current() { return CurrentByteOrder == kMarkBigEndian ? kBigEndian : kLittleEndian; }
}  // namespace

uint16_t CurrentRead16(const uint8_t* bytes) { return Read16(bytes, Current()); }
uint32_t CurrentRead32(const uint8_t* bytes) { return Read32(bytes, Current()); }

uint16_t CurrentOrder16(uint16_t value) {
  return CurrentByteOrder == kMarkBigEndian ? Swap16(value) : value;
}

uint32_t CurrentOrder32(uint32_t value) {
  return CurrentByteOrder == kMarkBigEndian ? Swap32(value) : value;
}

uint32_t CurrentValueSize(uint16_t type, uint32_t count) { return uint32_t{TypeSize(type)} * count; }

}  // namespace veltora::exif
