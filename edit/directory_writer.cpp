#include "edit/directory_writer.h"

#include <cstring>

#include "edit/block_entries.h"

namespace veltora::edit {
namespace {

uint64_t StoredSize(const DirectoryItem& item, ValuePadding padding) {
  const uint64_t n = item.value.size();
  if (padding == ValuePadding::kEven) return PaddedSize(n);
  const bool text_or_bytes = item.type == exif::kTypeAscii || item.type == exif::kTypeUndefined;
  return text_or_bytes ? n + n % 4 : n;
}

}  // namespace

uint64_t DirectoryTableSize(uint64_t entries) { return 2 + uint64_t{exif::kEntrySize} * entries + 4; }

uint64_t DirectorySize(std::span<const DirectoryItem> items, ValuePadding padding) {
  uint64_t size = DirectoryTableSize(items.size());
  for (const DirectoryItem& item : items) size += StoredSize(item, padding);
  return size;
}

void WriteDirectory(std::span<uint8_t> dest, uint32_t at, std::span<DirectoryItem> items,
                    uint32_t link, bytes::ByteOrder order, ValuePadding padding) {
  uint8_t* table = dest.data();
  bytes::Write16(table, static_cast<uint16_t>(items.size()), order);
  size_t value_at = static_cast<size_t>(DirectoryTableSize(items.size()));
  for (size_t i = 0; i < items.size(); ++i) {
    DirectoryItem& item = items[i];
    if (item.OutOfLine()) {
      const auto stored = static_cast<size_t>(StoredSize(item, padding));
      std::memcpy(dest.data() + value_at, item.value.data(), item.value.size());
      std::memset(dest.data() + value_at + item.value.size(), 0, stored - item.value.size());
      bytes::Write32(item.field, static_cast<uint32_t>(at + value_at), order);
      value_at += stored;
    }
    uint8_t* raw = table + 2 + exif::kEntrySize * i;
    bytes::Write16(raw, item.tag, order);
    bytes::Write16(raw + 2, item.type, order);
    bytes::Write32(raw + 4, item.count, order);
    std::memcpy(raw + 8, item.field, 4);
  }
  bytes::Write32(table + 2 + exif::kEntrySize * items.size(), link, order);
}

std::vector<uint8_t> DirectoryBytes(std::span<DirectoryItem> items, uint32_t at, uint32_t link,
                                    bytes::ByteOrder order, ValuePadding padding) {
  std::vector<uint8_t> bytes(static_cast<size_t>(DirectorySize(items, padding)));
  WriteDirectory(bytes, at, items, link, order, padding);
  return bytes;
}

}  // namespace veltora::edit
