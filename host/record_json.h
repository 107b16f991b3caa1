// The records of an ImageInfoList as JSON, in both directions: what
// `veltora info --json` prints and what the subcommands that hand records to
// the plug-in read back (AppendExif's and Encode's records).
//
// The document is an object with one member per record, named by its schema
// (interface/record_fields.h): "Image", "Thumbnail", "TiffMain", "Exif", "Gps",
// "TiffThumb". Each record is an object holding the fields whose presence bit
// is set, by their names in the chief header; a field that is missing is
// absent from the record (its bit clear). Values:
//   u8, u16, u32 fields                 numbers
//   sized values, StripOffsets,         the value (or array), and "<name>Type"
//   StripByteCounts                     for the type word: 3 SHORT, else LONG
//                                       (4 when not given)
//   rational, signed rational           [numerator, denominator]
//   rational arrays                     [[n, d], ...], exactly the field's count
//   fixed u16 arrays                    exactly the field's count of numbers
//   ShortArray, LongArray               arrays of numbers
//   texts, 4-character versions         strings; bytes that are not UTF-8 (or,
//                                       for a version, not printable ASCII) as
//                                       {"hex": "..."}, so that nothing is lost
//   blobs, 4-byte fields                hex digits, "0102ff" (spaces allowed
//                                       when reading; a 4-byte field may give
//                                       fewer bytes, the rest being 0)
//   ExifIfdRead, GpsIfdRead,            true: what the parser read; writers
//   InteroperabilityIfd                 ignore the first two
// ImageSummary ("Image", "Thumbnail") has no presence bits: width, height,
// bits_per_pixel and format_name are always written and default to 0 / "".
//
// Example: {"Exif": {"ExposureTime": [1, 250], "FNumber": [56, 10],
//                    "ISOSpeedRatings": [200], "ExifVersion": "0230"},
//           "Gps": {"GPSLatitudeRef": "N", "GPSLatitude": [[48,1],[51,1],[3024,100]]}}
#ifndef VELTORA_HOST_RECORD_JSON_H_
#define VELTORA_HOST_RECORD_JSON_H_

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "frame/veltora.h"
#include "host/host_error.h"

namespace veltora::host {

// A document that is not a valid record list. The message names the field
// ("Exif.FNumber: ...") and says what was expected. A HostError, so a
// subcommand that lets it pass exits with status 2 having written nothing.
class RecordJsonError : public HostError {
 public:
  using HostError::HostError;
};

// One record as a JSON object; a type without a record gives null.
nlohmann::ordered_json RecordToJson(uint32_t type, const void* record);
// The records of the list (types without a schema are left out). A second
// record of a type already shown is left out too: readers use the first.
nlohmann::ordered_json RecordsToJson(const ImageInfoList& list);

// Records made from a document, owned until destroyed: the list is what
// AppendExif and Encode take, the records are freed with it.
class OwnedRecords {
 public:
  OwnedRecords();
  ~OwnedRecords();
  OwnedRecords(OwnedRecords&& other) noexcept;
  OwnedRecords& operator=(OwnedRecords&&) = delete;
  OwnedRecords(const OwnedRecords&) = delete;
  OwnedRecords& operator=(const OwnedRecords&) = delete;

  ImageInfoList* list() { return &list_; }
  const ImageInfoList* list() const { return &list_; }
  // Takes ownership of `record` (made with ImageInfoRecordNew) and appends it.
  // Throws std::bad_alloc (after freeing the record) when memory is short.
  void Append(uint32_t type, void* record);

 private:
  ImageInfoList list_;
};

// Reads a document. Accepted: the record object described above; the object
// `info --json` prints for one file (its "SourceFile" member is ignored, an
// "Error" member refused); an array holding exactly one of those. The
// records come out in the list order of GetStillImageInfo. Throws
// RecordJsonError for anything else: an unknown record or field, a value of
// the wrong JSON type, a number out of the field's range, an array of the
// wrong length, a text with a NUL, bad hex.
OwnedRecords RecordsFromJson(const nlohmann::ordered_json& document);

// Reads and parses the JSON file at `path` ("-" reads stdin), then as
// RecordsFromJson. Throws RecordJsonError, prefixed with the path, when the
// file cannot be read, is not JSON, or is refused.
// With `keep_layout` false the document goes through DropFileLayout first.
OwnedRecords ReadRecordsFile(const std::string& path, bool keep_layout = true);

// Removes from a document (as RecordsFromJson takes it) what describes its
// own file's layout rather than the picture's metadata: the thumbnail record
// and summaries, where the main picture's data lies and how large it is.
// Written into another file, these would point into the wrong bytes.
void DropFileLayout(nlohmann::ordered_json& document);

}  // namespace veltora::host

#endif  // VELTORA_HOST_RECORD_JSON_H_
