// Record lists for the creation tests: owned, freed with their records.
#ifndef VELTORA_TESTS_CREATE_RECORDS_H_
#define VELTORA_TESTS_CREATE_RECORDS_H_

#include <cstdint>
#include <string_view>

#include "interface/host_types.h"

namespace veltora::testing {

class RecordList {
 public:
  RecordList() = default;
  ~RecordList() { ImageInfoListDestroy(&list_); }
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  // A new zero-filled record of `type`, appended at the end.
  template <typename T>
  T* Add(uint32_t type) {
    auto* record = static_cast<T*>(ImageInfoRecordNew(type));
    ImageInfoListAppend(&list_, type, record);
    return record;
  }
  ImageInfoList* get() { return &list_; }

 private:
  ImageInfoList list_{};
};

// The records of a JSON document in the host's schema (host/record_json.h),
// appended to `list`.
void AddRecords(RecordList& list, std::string_view json);

// Every attribute of IFD0, the EXIF and Interoperability IFDs, GPS and IFD1
// set to a distinct value (texts of several lengths, arrays, blobs, signed
// rationals, numbers above 65535 where the type allows), read from JSON by
// the host's record reader.
void AddFullRecords(RecordList& list);

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_CREATE_RECORDS_H_
