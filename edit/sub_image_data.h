// The image data of the sub-images a TIFF's IFD0 lists in its SubIFDs entry
// (reduced-resolution copies, previews). The editor keeps their directories
// where they lie but does not follow their offsets; a rebuilt TIFF, which
// carries the main image's data behind the block, must carry theirs along
// and point their directories at it.
#ifndef VELTORA_EDIT_SUB_IMAGE_DATA_H_
#define VELTORA_EDIT_SUB_IMAGE_DATA_H_

#include <cstdint>
#include <span>
#include <vector>

#include "bytes/byte_order.h"

namespace veltora::edit {

// One strip, tile or JPEG stream of a sub-image: where it lies in the source
// (from the TIFF header) and where the block stores that offset.
struct SubImagePiece {
  uint32_t offset = 0;
  uint32_t length = 0;
  uint32_t field = 0;  // position of the stored offset in the block
  uint16_t type = 0;   // SHORT or LONG: how the offset is stored
};

// Every piece of every sub-image whose directory and offset and length
// arrays lie inside `block`, in directory order; a sub-image that cannot be
// read there has none.
std::vector<SubImagePiece> SubImagePieces(std::span<const uint8_t> block, bytes::ByteOrder order,
                                          uint32_t ifd0_offset);

// Stores `offset` as the piece's new position; false (nothing written) when
// its type cannot hold it.
bool RepointPiece(std::span<uint8_t> block, bytes::ByteOrder order, const SubImagePiece& piece,
                  uint64_t offset);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_SUB_IMAGE_DATA_H_
