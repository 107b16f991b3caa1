#include "edit/directory_writer.h"

#include <cstring>

#include "edit/block_entries.h"

namespace veltora::edit {

uint64_t DirectoryTableSize(uint64_t entries) { return 2 + uint64_t{exif::kEntrySize} * entries + 4; }

uint64_t DirectorySize(std::span<const DirectoryItem> items) {
  uint64_t size = DirectoryTableSize(items.size());
  for (const DirectoryItem& item : items) size += PaddedSize(item.value.size());
  return size;
}

void WriteDirectory(std::span<uint8_t> dest, uint32_t at, std::span<DirectoryItem> items,
                    uint32_t link, exif::ByteOrder order) {
  uint8_t* table = dest.data();
  exif::Write16(table, static_cast<uint16_t>(items.size()), order);
  size_t value_at = static_cast<size_t>(DirectoryTableSize(items.size()));
  for (size_t i = 0; i < items.size(); ++i) {
    DirectoryItem& item = items[i];
    if (item.OutOfLine()) {
      std::memcpy(dest.data() + value_at, item.value.data(), item.value.size());
      if (item.value.size() % 2 == 1) dest[value_at + item.value.size()] = 0;
      exif::Write32(item.field, static_cast<uint32_t>(at + value_at), order);
      value_at += static_cast<size_t>(PaddedSize(item.value.size()));
    }
    uint8_t* raw = table + 2 + exif::kEntrySize * i;
    exif::Write16(raw, item.tag, order);
    exif::Write16(raw + 2, item.type, order);
    exif::Write32(raw + 4, item.count, order);
    std::memcpy(raw + 8, item.field, 4);
  }
  exif::Write32(table + 2 + exif::kEntrySize * items.size(), link, order);
}

std::vector<uint8_t> DirectoryBytes(std::span<DirectoryItem> items, uint32_t at, uint32_t link,
                                    exif::ByteOrder order) {
  std::vector<uint8_t> bytes(static_cast<size_t>(DirectorySize(items)));
  WriteDirectory(bytes, at, items, link, order);
  return bytes;
}

}  // namespace veltora::edit
