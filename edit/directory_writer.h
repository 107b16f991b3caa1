// The one writer of TIFF directories: every rebuild, every appended
// directory, every reattached IFD1 and every block built from host records
// is laid out here. A directory is its entry count, the entries in the order
// given, the next-IFD link, and then its value area: every out-of-line value
// back to back, each followed by the zero bytes its padding rule asks for.
#ifndef VELTORA_EDIT_DIRECTORY_WRITER_H_
#define VELTORA_EDIT_DIRECTORY_WRITER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "bytes/byte_order.h"
#include "exif/tiff_value.h"

namespace veltora::edit {

// One entry to write. A value of at most 4 bytes lives in `field`; a longer
// one is `value` (stored bytes, in the block's byte order), and the writer
// puts its offset into `field`.
struct DirectoryItem {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t field[4] = {};
  std::vector<uint8_t> value;
  bool OutOfLine() const { return !value.empty(); }
};

// The zero bytes that follow an out-of-line value.
enum class ValuePadding {
  // One after a value of odd length: edits keep every offset even.
  kEven,
  // Blocks built from host records: an ASCII or UNDEFINED value of n bytes
  // is followed by n mod 4 zero bytes, any other value by none (its size is
  // even already), so every offset stays even there too.
  kBuiltBlock,
};

// Bytes of the table alone: count, entries and link.
uint64_t DirectoryTableSize(uint64_t entries);
// Bytes the directory takes with its value area.
uint64_t DirectorySize(std::span<const DirectoryItem> items,
                       ValuePadding padding = ValuePadding::kEven);

// Writes the directory into `dest` (at least DirectorySize bytes), which
// lies at offset `at` from the TIFF header, with `link` as its next-IFD link.
// The items' fields receive the offsets of their out-of-line values.
void WriteDirectory(std::span<uint8_t> dest, uint32_t at, std::span<DirectoryItem> items,
                    uint32_t link, bytes::ByteOrder order,
                    ValuePadding padding = ValuePadding::kEven);

// The directory as bytes of its own, to be placed at `at` in the block.
std::vector<uint8_t> DirectoryBytes(std::span<DirectoryItem> items, uint32_t at, uint32_t link,
                                    bytes::ByteOrder order,
                                    ValuePadding padding = ValuePadding::kEven);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_DIRECTORY_WRITER_H_
