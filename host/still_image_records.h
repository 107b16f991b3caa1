// GetStillImageInfo's answer taken over as owned records, for the
// subcommands that show records (info) and those that pass them on
// (copy-exif).
#ifndef VELTORA_HOST_STILL_IMAGE_RECORDS_H_
#define VELTORA_HOST_STILL_IMAGE_RECORDS_H_

#include <cstdint>
#include <string>

#include "frame/veltora.h"
#include "host/record_json.h"

namespace veltora::host {

using GetStillImageInfoFn = decltype(&::GetStillImageInfo);

// Calls `get` for `flags` and appends what it returns to `into`. Returns the
// export's result; nothing is appended on failure.
HRESULT AppendStillImageRecords(GetStillImageInfoFn get, const std::string& path, uint32_t flags,
                                OwnedRecords* into);

}  // namespace veltora::host

#endif  // VELTORA_HOST_STILL_IMAGE_RECORDS_H_
