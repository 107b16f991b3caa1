// The sub-images a TIFF's IFD0 lists in its SubIFDs entry (reduced-resolution
// copies, previews, the raw data of some cameras), with the sub-images those
// list in turn and the directories chained behind them. The editor keeps the
// directories that lie in its block where they lie but does not follow their
// offsets; a rebuilt TIFF, which carries the main image's data behind the
// block, must carry along what lies outside the block (directories, their
// values, their image data) and point every offset at its new place.
#ifndef VELTORA_EDIT_SUB_IMAGE_DATA_H_
#define VELTORA_EDIT_SUB_IMAGE_DATA_H_

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "bytes/byte_order.h"

namespace veltora::edit {

// Where the rebuilt file puts things; offsets count from the TIFF header,
// which the output has at 0.
struct SubImagePlacement {
  uint64_t pinned_end = 0;   // block bytes below this lie where they lay in the source
  uint64_t source_size = 0;  // of the source from its TIFF header on
  uint64_t tail = 0;         // the first output offset free behind the main image
  // The main image's data run in the source and its place in the output;
  // image_moves is false when that data comes from another file.
  bool image_moves = false;
  uint64_t image_from = 0;
  uint64_t image_length = 0;
  uint64_t image_to = 0;
};

// What goes behind the main image: directory tables and offset arrays with
// their offsets already repointed, and runs copied from the source as they are.
struct SubImageTail {
  struct Bytes {
    uint64_t to = 0;
    std::vector<uint8_t> bytes;
  };
  struct Copy {
    uint64_t from = 0;  // in the source
    uint32_t length = 0;
    uint64_t to = 0;
  };
  std::vector<Bytes> written;
  std::vector<Copy> copied;
};

// Reads source bytes at a TIFF offset; false when the source ends first or a
// read fails.
using SourceBytes = std::function<bool(uint64_t offset, std::span<uint8_t> bytes)>;

// Whether IFD0 at `ifd0_offset` in `block` has a SubIFDs entry.
bool HasSubImages(std::span<const uint8_t> block, bytes::ByteOrder order, uint32_t ifd0_offset);

// Follows IFD0's SubIFDs through `block` (the copy of the work block that is
// written, repointed here) and `source`, and lays out behind the main image
// what lies neither in the pinned part of the block nor (when it moves) in
// the main image data. A SHORT offset array whose new offsets pass 0xFFFF
// becomes LONG. A directory, value or piece of data that cannot be read or
// whose new offset its field cannot hold stays as it was.
SubImageTail CarrySubImages(std::span<uint8_t> block, bytes::ByteOrder order,
                            uint32_t ifd0_offset, const SubImagePlacement& placement,
                            const SourceBytes& source);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_SUB_IMAGE_DATA_H_
