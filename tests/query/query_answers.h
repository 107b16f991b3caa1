// Every query export's answer for one file as text, in one fixed order: its
// result and what it wrote into its out-parameters. The same file gives the
// same text, whenever and wherever it is asked.
#ifndef VELTORA_TESTS_QUERY_QUERY_ANSWERS_H_
#define VELTORA_TESTS_QUERY_QUERY_ANSWERS_H_

#include <string>

#include "frame/veltora.h"
#include "interface/host_records.h"

namespace veltora::testing {

// The bytes of `value`.
template <typename T>
std::string BytesOf(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

inline std::string QueryAnswers(const std::string& path) {
  const char* in = path.c_str();
  uint32_t a = 0, b = 0, c = 0, d = 0;
  SYSTEMTIME when{};
  std::string answer = BytesOf(IsExifFile(in, &a)) + BytesOf(a) +
                       BytesOf(IsExifEx(in, &a, &b, &c)) + BytesOf(a) + BytesOf(b) + BytesOf(c) +
                       BytesOf(GetOrientation(in, &a, &d, 1)) + BytesOf(a) + BytesOf(d) +
                       BytesOf(GetDateTimeOriginal(in, &when)) + BytesOf(when);
  uint8_t buffer[64] = {};
  uint32_t size = sizeof buffer, count = 0;
  uint16_t type = 0;
  answer += BytesOf(GetExifValue(in, 1, 271, buffer, &size, &type, &count)) + BytesOf(buffer) +
            BytesOf(size) + BytesOf(type) + BytesOf(count);
  size = sizeof buffer;
  answer += BytesOf(GetExifMakerValue(in, "Quorvanta", 1, buffer, &size, &type, &count));
  CString signature{};
  CWordArray tags{};
  CDWordArray values{};
  answer += BytesOf(GetMakerNoteValue(in, &signature, &tags, &values)) + BytesOf(tags.count) +
            BytesOf(values.count);
  for (uint16_t tag : ArrayView(&tags)) answer += BytesOf(tag);
  CStringFree(&signature);
  ArrayFree(&tags);
  ArrayFree(&values);
  GetExifRecords r;
  return answer + BytesOf(GetExif(in, &r.exif, &r.gps, &r.maker)) + BytesOf(r.exif.Orientation) +
         CStringGet(&r.exif.Make) + CStringGet(&r.exif.Model) + BytesOf(r.exif.DateTimeOriginal) +
         BytesOf(r.exif.FNumber) + BytesOf(r.gps.GPSLatitude) + BytesOf(r.exif.tags.count) +
         BytesOf(r.gps.tags.count);
}

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_QUERY_QUERY_ANSWERS_H_
