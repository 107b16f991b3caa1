// Reading and writing directory entries inside a mutable TIFF block. Shared
// by the editor and the in-place writers; every access is bounds-checked
// against the block.
#ifndef VELTORA_EDIT_BLOCK_ENTRIES_H_
#define VELTORA_EDIT_BLOCK_ENTRIES_H_

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bytes/byte_order.h"
#include "edit/directory_writer.h"
#include "exif/tiff_value.h"

namespace veltora::edit {

// Bytes one element of a TIFF type takes in a block; 0 for a type TIFF does
// not define. The value primitives count the signed and floating types as
// sizeless because they never convert them, but an editor that moves values
// must know where every value lies: an SSHORT array in a maker note or a
// DOUBLE in IFD0 is out of line like any other and has to move with its entry.
uint32_t StoredUnitSize(uint16_t type);

// One 12-byte entry as found in a block.
struct BlockEntry {
  exif::IfdEntry entry;  // IfdEntry form; for values over 4 bytes `value` is the offset
  uint8_t field[4] = {};  // the stored value field, byte for byte
  uint64_t size = 0;      // count * StoredUnitSize in 64 bits (0 for an unknown type)
  uint32_t position = 0;  // of the 12 bytes in the block
  bool OutOfLine() const { return size > 4; }
};

// A directory table that lies wholly inside the block.
struct BlockDirectory {
  uint32_t offset = 0;
  uint16_t count = 0;
  std::vector<BlockEntry> entries;
  std::optional<uint32_t> link;  // next-IFD link, when its 4 bytes are inside the block
  uint32_t LinkPosition() const { return offset + 2 + 12u * count; }
};

// Offsets below this would overlap the TIFF header.
inline constexpr uint32_t kMinDirectoryOffset = 8;

// The directory at `offset`; nullopt when its count or entry table is not
// wholly inside the block (the table may be followed by a missing link).
std::optional<BlockDirectory> ReadBlockDirectory(std::span<const uint8_t> block,
                                                 bytes::ByteOrder order, uint32_t offset);

// Decodes the 12 bytes at `position` (the caller checked they exist).
BlockEntry DecodeBlockEntry(std::span<const uint8_t> block, bytes::ByteOrder order,
                            uint32_t position);

// Writes tag, type, count and the raw value field.
void WriteRawEntry(std::span<uint8_t> block, bytes::ByteOrder order, uint32_t position,
                   const BlockEntry& entry);

// The stored value bytes of an out-of-line entry, when inside the block.
std::optional<std::span<const uint8_t>> ValueBytes(std::span<const uint8_t> block,
                                                   const BlockEntry& entry);

// The elements of a SHORT or LONG array entry, inline or out of line;
// nullopt for another type or a value that does not lie inside the block.
std::optional<std::vector<uint32_t>> ReadNumbers(std::span<const uint8_t> block,
                                                 bytes::ByteOrder order, const BlockEntry& e);

// Where the maker note lies: the MakerNote value (UNDEFINED, out of line,
// inside the block) of the Exif directory that IFD0 at `ifd0_offset` points
// to. Empty when there is none.
struct NoteBytes {
  uint64_t start = 0;
  uint64_t end = 0;
  bool Meets(uint64_t at, uint64_t n) const { return at < end && start < at + n; }
};
NoteBytes MakerNoteBytes(std::span<const uint8_t> block, bytes::ByteOrder order,
                         uint32_t ifd0_offset);

// Overwrites one SHORT of count 1 of `tag` in the directory at `offset`
// (Orientation in place). False when absent or of another form, or when the
// value lies in `note` (only a damaged block puts a table there; the note is
// never written).
bool PatchShortEntry(std::span<uint8_t> block, bytes::ByteOrder order, uint32_t offset,
                     uint16_t tag, uint16_t value, const NoteBytes& note);

// Converts stored value bytes from one byte order to another, unit by unit.
void ConvertValueOrder(std::span<uint8_t> bytes, uint16_t type, bytes::ByteOrder from,
                       bytes::ByteOrder to);

// The entry as an item for the directory writer, in `to` order: the inline
// field and the out-of-line value bytes of `block` (in `from` order) turned
// unit by unit. A value that does not lie inside the block leaves the item
// with count and field 0, as a value that cannot be produced does.
DirectoryItem ItemFromBlock(std::span<const uint8_t> block, const BlockEntry& entry,
                            bytes::ByteOrder from, bytes::ByteOrder to);

// The element of `list` that an edit of `wanted` replaces: the first with its
// tag and type, else the first with its tag, else list.end(). Damaged
// directories hold a tag twice (an all-zero entry beside GPSVersionID, whose
// tag is 0): the entry of the same type is the one readers take for it.
template <typename List, typename TagAndType>
auto FindSameEntry(List& list, uint16_t tag, uint16_t type, TagAndType tag_and_type) {
  auto first = list.end();
  for (auto it = list.begin(); it != list.end(); ++it) {
    const auto [t, ty] = tag_and_type(*it);
    if (t != tag) continue;
    if (ty == type) return it;
    if (first == list.end()) first = it;
  }
  return first;
}

// Rounds up to even, staying inside 32 bits.
inline uint64_t PaddedSize(uint64_t n) { return n + (n & 1); }

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_BLOCK_ENTRIES_H_
