#include "edit/block_entries.h"

#include <algorithm>
#include <cstring>

#include "bytes/byte_view.h"
#include "exif/directory.h"

namespace veltora::edit {

using exif::kEntrySize;

uint32_t StoredUnitSize(uint16_t type) {
  // BYTE ASCII SHORT LONG RATIONAL SBYTE UNDEFINED SSHORT SLONG SRATIONAL FLOAT DOUBLE IFD
  static constexpr uint8_t kUnit[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < std::size(kUnit) ? kUnit[type] : 0;
}

BlockEntry DecodeBlockEntry(std::span<const uint8_t> block, bytes::ByteOrder order,
                            uint32_t position) {
  BlockEntry e;
  e.position = position;
  const uint8_t* raw = block.data() + position;
  exif::DecodeEntry(raw, order, &e.entry);
  e.entry.tag = bytes::Read16(raw, order);
  e.entry.type = bytes::Read16(raw + 2, order);
  e.entry.count = bytes::Read32(raw + 4, order);
  std::memcpy(e.field, raw + 8, 4);
  e.size = uint64_t{StoredUnitSize(e.entry.type)} * e.entry.count;
  // The 64-bit size decides: a count whose 32-bit product wraps below 5 is
  // still an offset, never inline bytes.
  if (e.OutOfLine()) e.entry.value = bytes::Read32(e.field, order);
  return e;
}

std::optional<BlockDirectory> ReadBlockDirectory(std::span<const uint8_t> block,
                                                 bytes::ByteOrder order, uint32_t offset) {
  const bytes::ByteView view(block, order);
  if (offset < kMinDirectoryOffset) return std::nullopt;
  const auto count = view.U16(offset);
  if (!count || !view.Contains(uint64_t{offset} + 2, uint64_t{kEntrySize} * *count)) {
    return std::nullopt;
  }
  BlockDirectory dir;
  dir.offset = offset;
  dir.count = *count;
  dir.entries.reserve(*count);
  for (uint32_t i = 0; i < *count; ++i) {
    dir.entries.push_back(DecodeBlockEntry(block, order, offset + 2 + kEntrySize * i));
  }
  dir.link = view.U32(uint64_t{offset} + 2 + uint64_t{kEntrySize} * *count);
  return dir;
}

void WriteRawEntry(std::span<uint8_t> block, bytes::ByteOrder order, uint32_t position,
                   const BlockEntry& entry) {
  uint8_t* raw = block.data() + position;
  bytes::Write16(raw, entry.entry.tag, order);
  bytes::Write16(raw + 2, entry.entry.type, order);
  bytes::Write32(raw + 4, entry.entry.count, order);
  std::memcpy(raw + 8, entry.field, 4);
}

std::optional<std::span<const uint8_t>> ValueBytes(std::span<const uint8_t> block,
                                                   const BlockEntry& entry) {
  const uint64_t at = entry.entry.value;
  // A value inside the TIFF header is malformed; treating it as readable
  // would let a stamp or a rewrite overwrite the header itself.
  if (!entry.OutOfLine() || at < kMinDirectoryOffset || at > block.size() ||
      entry.size > block.size() - at) {
    return std::nullopt;
  }
  return block.subspan(static_cast<size_t>(at), static_cast<size_t>(entry.size));
}

std::optional<std::vector<uint32_t>> ReadNumbers(std::span<const uint8_t> block,
                                                 bytes::ByteOrder order, const BlockEntry& e) {
  if (e.entry.type != exif::kTypeShort && e.entry.type != exif::kTypeLong) return std::nullopt;
  const uint32_t unit = exif::TypeSize(e.entry.type);
  std::span<const uint8_t> bytes;
  if (e.OutOfLine()) {
    auto value = ValueBytes(block, e);
    if (!value) return std::nullopt;
    bytes = *value;
  } else {
    bytes = std::span<const uint8_t>(e.field, static_cast<size_t>(e.size));
  }
  std::vector<uint32_t> out;
  out.reserve(bytes.size() / unit);
  for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
    out.push_back(unit == 2 ? bytes::Read16(bytes.data() + i, order)
                            : bytes::Read32(bytes.data() + i, order));
  }
  return out;
}

NoteBytes MakerNoteBytes(std::span<const uint8_t> block, bytes::ByteOrder order,
                         uint32_t ifd0_offset) {
  const auto ifd0 = ReadBlockDirectory(block, order, ifd0_offset);
  if (!ifd0) return {};
  const auto pointer = std::find_if(ifd0->entries.begin(), ifd0->entries.end(), [](const auto& e) {
    return e.entry.tag == exif::kTagExifIfdPointer && e.entry.count == 1;
  });
  if (pointer == ifd0->entries.end()) return {};
  const auto exif_dir = ReadBlockDirectory(block, order, pointer->entry.value);
  if (!exif_dir) return {};
  for (const BlockEntry& e : exif_dir->entries) {
    if (e.entry.tag == exif::kTagMakerNote && e.entry.type == exif::kTypeUndefined &&
        ValueBytes(block, e)) {
      return {e.entry.value, e.entry.value + e.size};
    }
  }
  return {};
}

bool PatchShortEntry(std::span<uint8_t> block, bytes::ByteOrder order, uint32_t offset,
                     uint16_t tag, uint16_t value, const NoteBytes& note) {
  const auto dir = ReadBlockDirectory(block, order, offset);
  if (!dir) return false;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag != tag) continue;
    if (e.entry.type != exif::kTypeShort || e.entry.count != 1) return false;
    if (note.Meets(e.position + 8, 2)) return false;
    bytes::Write16(block.data() + e.position + 8, value, order);
    return true;
  }
  return false;
}

void ConvertValueOrder(std::span<uint8_t> bytes, uint16_t type, bytes::ByteOrder from,
                       bytes::ByteOrder to) {
  if ((from == bytes::kLittleEndian) == (to == bytes::kLittleEndian)) return;
  // Bytes, ASCII and UNDEFINED have no order; rationals turn as two words.
  size_t unit = StoredUnitSize(type);
  if (type == exif::kTypeRational || type == exif::kTypeSRational) unit = 4;
  if (unit < 2) return;
  for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
    std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                 bytes.begin() + static_cast<std::ptrdiff_t>(i + unit));
  }
}

DirectoryItem ItemFromBlock(std::span<const uint8_t> block, const BlockEntry& entry,
                            bytes::ByteOrder from, bytes::ByteOrder to) {
  DirectoryItem item{entry.entry.tag, entry.entry.type, entry.entry.count, {}, {}};
  if (!entry.OutOfLine()) {
    std::memcpy(item.field, entry.field, 4);
    ConvertValueOrder(std::span<uint8_t>(item.field, static_cast<size_t>(entry.size)), item.type,
                      from, to);
    return item;
  }
  if (const auto value = ValueBytes(block, entry)) {
    item.value.assign(value->begin(), value->end());
    ConvertValueOrder(item.value, item.type, from, to);
  } else {
    item.count = 0;
  }
  return item;
}

}  // namespace veltora::edit
