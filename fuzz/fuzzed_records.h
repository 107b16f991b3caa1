// Host records made from fuzz input, for the targets of the block builder and
// the merge. Every plain field takes the input's bytes as they come; texts,
// arrays and blobs are made valid (their lengths from the input, short
// enough to keep a run fast), so the records are what a careless but
// well-behaved host could pass.
#ifndef VELTORA_FUZZ_FUZZED_RECORDS_H_
#define VELTORA_FUZZ_FUZZED_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>

#include "interface/host_types.h"

namespace veltora::fuzzing {

// Hands out the input's bytes in order; zeros once they run out.
class InputBytes {
 public:
  explicit InputBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  void Fill(void* out, size_t n) {
    auto* p = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < n; ++i) p[i] = at_ < bytes_.size() ? bytes_[at_++] : 0;
  }
  uint8_t Byte() {
    uint8_t b = 0;
    Fill(&b, 1);
    return b;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

// Longest text, blob or array the input makes: enough for every placement
// rule (inline, value area, padding) without slow runs.
inline constexpr size_t kMaxFuzzedLength = 40;

inline void FuzzText(CString* s, InputBytes& in) {
  char text[kMaxFuzzedLength];
  const size_t n = in.Byte() % kMaxFuzzedLength;
  in.Fill(text, n);
  *s = CString{};
  CStringSetN(s, text, n);
}

inline void FuzzBlob(HostBlob* b, InputBytes& in) {
  uint8_t bytes[kMaxFuzzedLength];
  const size_t n = in.Byte() % kMaxFuzzedLength;
  in.Fill(bytes, n);
  *b = HostBlob{};
  HostBlobSet(b, bytes, n);
}

template <typename T>
void FuzzArray(HostArray<T>* a, InputBytes& in) {
  T values[kMaxFuzzedLength / 4];
  const size_t n = in.Byte() % (kMaxFuzzedLength / 4);
  in.Fill(values, n * sizeof(T));
  ArrayInit(a);
  ArrayAppend(a, values, n);
}

// A record of `type` whose bytes all come from the input, then its owned
// fields made valid. Released with ImageInfoRecordDelete.
inline void* FuzzRecord(uint32_t type, InputBytes& in) {
  void* record = ImageInfoRecordNew(type);
  if (record == nullptr) return nullptr;
  in.Fill(record, ImageInfoRecordSize(type));
  if (type == 0x00010000u || type == 0x00020000u) {
    auto* r = static_cast<TiffInfo*>(record);
    FuzzArray(&r->StripOffsets, in);
    FuzzArray(&r->StripByteCounts, in);
    for (CString* s : {&r->DateTime, &r->ImageDescription, &r->Make, &r->Model, &r->Software,
                       &r->Artist, &r->Copyright}) {
      FuzzText(s, in);
    }
    FuzzBlob(&r->PrintImageMatching, in);
  } else if (type == 0x00040000u) {
    auto* r = static_cast<ExifInfo*>(record);
    for (HostBlob* b : {&r->MakerNote, &r->OECF, &r->SpatialFrequencyResponse, &r->CFAPattern,
                        &r->UserComment, &r->DeviceSettingDescription}) {
      FuzzBlob(b, in);
    }
    for (CString* s : {&r->RelatedSoundFile, &r->DateTimeOriginal, &r->DateTimeDigitized,
                       &r->SubSecTime, &r->SubSecTimeOriginal, &r->SubSecTimeDigitized,
                       &r->SpectralSensitivity, &r->InteroperabilityIndex,
                       &r->RelatedImageFileFormat}) {
      FuzzText(s, in);
    }
    FuzzArray(&r->ISOSpeedRatings, in);
    FuzzArray(&r->SubjectArea, in);
  } else if (type == 0x00080000u) {
    auto* r = static_cast<GpsInfo*>(record);
    for (CString* s : {&r->GPSLatitudeRef, &r->GPSLongitudeRef, &r->GPSSatellites, &r->GPSStatus,
                       &r->GPSMeasureMode, &r->GPSSpeedRef, &r->GPSTrackRef,
                       &r->GPSImgDirectionRef, &r->GPSMapDatum, &r->GPSDestLatitudeRef,
                       &r->GPSDestLongitudeRef, &r->GPSDestBearingRef, &r->GPSDestDistanceRef,
                       &r->GPSDateStamp}) {
      FuzzText(s, in);
    }
    FuzzBlob(&r->GPSProcessingMethod, in);
    FuzzBlob(&r->GPSAreaInformation, in);
  }
  return record;
}

// A list holding the records whose bits `types` sets (bit 0 IFD0, 1 IFD1,
// 2 EXIF, 3 GPS), freed with its records.
class FuzzedList {
 public:
  FuzzedList(uint8_t types, InputBytes& in) {
    constexpr uint32_t kTypes[] = {0x00010000u, 0x00020000u, 0x00040000u, 0x00080000u};
    for (int i = 0; i < 4; ++i) {
      if ((types >> i & 1) != 0) ImageInfoListAppend(&list_, kTypes[i], FuzzRecord(kTypes[i], in));
    }
  }
  ~FuzzedList() {
    ImageInfoListDeleteRecords(&list_);
    ImageInfoListFree(&list_);
  }
  FuzzedList(const FuzzedList&) = delete;
  FuzzedList& operator=(const FuzzedList&) = delete;
  const ImageInfoList* get() const { return &list_; }
  template <typename T>
  const T* Find(uint32_t type) const {
    return static_cast<const T*>(ImageInfoListFind(&list_, type));
  }

 private:
  ImageInfoList list_{};
};

}  // namespace veltora::fuzzing

#endif  // VELTORA_FUZZ_FUZZED_RECORDS_H_
