// Appending records to an ImageInfoList all at once: either every record of
// a batch is in the list or none is, so a caller that fails half-way never
// leaves the host a list that holds part of its records.
#ifndef VELTORA_INFO_RECORD_LIST_H_
#define VELTORA_INFO_RECORD_LIST_H_

#include <cstdint>
#include <span>
#include <vector>

#include "interface/host_types.h"

namespace veltora::info {

struct RecordEntry {
  uint32_t type;  // INFO_*
  void* record;
};
using RecordBatch = std::vector<RecordEntry>;

// Appends the entries in order; false when memory is short, the list then
// being as it was. The records are not owned by the list either way.
[[nodiscard]] bool AppendRecords(ImageInfoList* list, std::span<const RecordEntry> entries);

}  // namespace veltora::info

#endif  // VELTORA_INFO_RECORD_LIST_H_
