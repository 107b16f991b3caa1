// The records of a file as a table for people: the picture and preview
// summaries, then every attribute grouped by the directory it comes from
// (IFD0, EXIF, Interoperability, GPS, IFD1), with the values a photographer
// recognises (1/250 s, f/5.6, 48.8584 N) or, raw, the stored numbers
// (1/250, 56/10, 48/1 51/1 3024/100).
#ifndef VELTORA_HOST_RECORD_TABLE_H_
#define VELTORA_HOST_RECORD_TABLE_H_

#include <cstdio>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "interface/record_fields.h"

namespace veltora::host {

// One field's value (in the JSON form of record_json.h) as table text.
// `record` is the field's whole record, for fields read with another (a
// latitude with its reference letter, an altitude with its reference).
std::string FieldTableText(const RecordField& field, const nlohmann::ordered_json& value,
                           const nlohmann::ordered_json& record, bool raw);

// Prints the records document (record_json.h) as the table.
void PrintRecordTable(std::FILE* out, const nlohmann::ordered_json& records, bool raw);

}  // namespace veltora::host

#endif  // VELTORA_HOST_RECORD_TABLE_H_
