#include "exif/directory.h"

#include <algorithm>

#include "platform/hot_path.h"

namespace veltora::exif {

VELTORA_HOT bool FindInTable(bytes::ByteView table, IfdEntry* entry) {
  if (entry == nullptr) return false;
  for (uint64_t pos = 0; table.Contains(pos, kEntrySize); pos += kEntrySize) {
    // Only the entry asked for is decoded: the others are passed on their tag.
    const uint8_t* raw = table.data() + pos;
    if (bytes::Read16(raw, table.order()) != entry->tag) continue;
    IfdEntry decoded;
    DecodeEntry(raw, table.order(), &decoded);
    entry->type = decoded.type;
    entry->count = decoded.count;
    entry->value = decoded.value;
    return true;
  }
  return false;
}

uint32_t CollectFromTable(bytes::ByteView table, std::vector<IfdEntry>* list) {
  if (list == nullptr) return 0;
  std::vector<uint16_t> wanted;
  wanted.reserve(list->size());
  for (const IfdEntry& e : *list) wanted.push_back(e.tag);
  std::sort(wanted.begin(), wanted.end());
  list->clear();
  for (uint64_t pos = 0; table.Contains(pos, kEntrySize); pos += kEntrySize) {
    IfdEntry decoded;
    DecodeEntry(table.data() + pos, table.order(), &decoded);
    if (wanted.empty() || std::binary_search(wanted.begin(), wanted.end(), decoded.tag)) {
      list->push_back(decoded);
    }
  }
  return static_cast<uint32_t>(list->size());
}

}  // namespace veltora::exif
