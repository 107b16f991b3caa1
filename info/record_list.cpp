#include "info/record_list.h"

#include <cstdlib>

namespace veltora::info {

bool AppendRecords(ImageInfoList* list, std::span<const RecordEntry> entries) {
  size_t appended = 0;
  for (const RecordEntry& entry : entries) {
    if (!ImageInfoListAppend(list, entry.type, entry.record)) break;
    ++appended;
  }
  if (appended == entries.size()) return true;
  // Unlinks the nodes just appended, from the tail.
  for (; appended > 0; --appended) {
    ImageInfoNode* last = list->sentinel->prev;
    last->prev->next = list->sentinel;
    list->sentinel->prev = last->prev;
    --list->count;
    std::free(last);
  }
  return false;
}

}  // namespace veltora::info
