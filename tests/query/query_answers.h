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

// Appends the bytes of each value. The values are taken by reference, so an
// out-parameter passed beside the call that fills it is read after the call.
template <typename... T>
void Append(std::string& answer, const T&... values) {
  ((answer += BytesOf(values)), ...);
}

inline std::string QueryAnswers(const std::string& path) {
  const char* in = path.c_str();
  std::string answer;
  uint32_t a = 0, b = 0, c = 0, d = 0;
  SYSTEMTIME when{};
  Append(answer, IsExifFile(in, &a), a);
  Append(answer, IsExifEx(in, &a, &b, &c), a, b, c);
  Append(answer, GetOrientation(in, &a, &d, 1), a, d);
  Append(answer, GetDateTimeOriginal(in, &when), when);
  uint8_t buffer[64] = {};
  uint32_t size = sizeof buffer, count = 0;
  uint16_t type = 0;
  Append(answer, GetExifValue(in, 1, 271, buffer, &size, &type, &count), buffer, size, type, count);
  size = sizeof buffer;
  Append(answer, GetExifMakerValue(in, "Quorvanta", 1, buffer, &size, &type, &count));
  CString signature{};
  CWordArray tags{};
  CDWordArray values{};
  Append(answer, GetMakerNoteValue(in, &signature, &tags, &values), tags.count, values.count);
  for (uint16_t tag : ArrayView(&tags)) Append(answer, tag);
  CStringFree(&signature);
  ArrayFree(&tags);
  ArrayFree(&values);
  GetExifRecords r;
  Append(answer, GetExif(in, &r.exif, &r.gps, &r.maker), r.exif.Orientation,
         r.exif.DateTimeOriginal, r.exif.FNumber, r.gps.GPSLatitude, r.exif.tags.count,
         r.gps.tags.count);
  return answer + CStringGet(&r.exif.Make) + CStringGet(&r.exif.Model);
}

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_QUERY_QUERY_ANSWERS_H_
