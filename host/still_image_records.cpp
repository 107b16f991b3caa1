#include "host/still_image_records.h"

namespace veltora::host {

HRESULT AppendStillImageRecords(GetStillImageInfoFn get, const std::string& path, uint32_t flags,
                                OwnedRecords* into) {
  StillImageInfoOut out{};
  const HRESULT result = get(path.c_str(), &out, flags);
  if (result < 0) return result;
  if (out.single.type != 0) {
    into->Append(out.single.type, out.single.record);
    return result;
  }
  // More than one record: the list's nodes go, the records move over.
  ImageInfoListVisit(&out.list, [&](uint32_t type, void* record) { into->Append(type, record); });
  ImageInfoListFree(&out.list);
  return result;
}

}  // namespace veltora::host
