#include "host/record_json.h"

#include <nlohmann/json.hpp>
#include <fmt/format.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <span>
#include <sstream>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "interface/record_fields.h"

namespace veltora::host {
namespace {

using Json = nlohmann::ordered_json;
using Bytes = std::span<const uint8_t>;

// Type word given to a sized value or strip array whose JSON names none.
constexpr uint16_t kDefaultTypeWord = 4;  // LONG: holds every value
constexpr uint16_t kTypeShort = 3;

// ---- Records to JSON ------------------------------------------------------------

std::string Hex(Bytes bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

Json HexObject(Bytes bytes) { return Json{{"hex", Hex(bytes)}}; }

bool IsUtf8(const std::string& text) {
  try {
    (void)Json(text).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

Json TextJson(std::string text) {
  if (IsUtf8(text)) return Json(std::move(text));
  return HexObject(Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// A version's four bytes as the string they spell when they are printable
// characters followed only by NULs ("0230", "02"); otherwise as hex.
Json Chars4Json(const char* chars) {
  const size_t n = strnlen(chars, 4);
  bool clean = true;
  for (size_t i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(chars[i]);
    clean = clean && (i < n ? (c >= 0x20 && c < 0x7F) : c == 0);
  }
  if (clean) return std::string(chars, n);
  return HexObject(Bytes(reinterpret_cast<const uint8_t*>(chars), 4));
}

template <typename R>
Json RationalJson(const R& r) {
  return Json::array({r.numerator, r.denominator});
}

template <typename R>
Json RationalsJson(const R* values, uint32_t count) {
  if (count == 1) return RationalJson(values[0]);
  Json array = Json::array();
  for (uint32_t i = 0; i < count; ++i) array.push_back(RationalJson(values[i]));
  return array;
}

template <typename T>
Json ArrayJson(std::span<const T> values) {
  Json array = Json::array();
  for (T v : values) array.push_back(v);
  return array;
}

Json FieldToJson(const RecordField& f, const void* r) {
  switch (f.kind) {
    case FieldKind::kU8:
      return *FieldAt<uint8_t>(r, f.offset);
    case FieldKind::kU16:
      return *FieldAt<uint16_t>(r, f.offset);
    case FieldKind::kU32:
    case FieldKind::kSized:
      return *FieldAt<uint32_t>(r, f.offset);
    case FieldKind::kU16Array:
      return ArrayJson(std::span<const uint16_t>(FieldAt<uint16_t>(r, f.offset), f.count));
    case FieldKind::kRational:
      return RationalsJson(FieldAt<HostRational>(r, f.offset), f.count);
    case FieldKind::kSRational:
      return RationalsJson(FieldAt<HostSRational>(r, f.offset), f.count);
    case FieldKind::kText: {
      const CString* text = FieldAt<CString>(r, f.offset);
      const int32_t length = CStringLength(text);
      return TextJson(std::string(CStringGet(text), length > 0 ? static_cast<size_t>(length) : 0));
    }
    case FieldKind::kChars4:
      return Chars4Json(FieldAt<char>(r, f.offset));
    case FieldKind::kBytes4:
      return Hex(Bytes(FieldAt<uint8_t>(r, f.offset), 4));
    case FieldKind::kBlob: {
      const HostBlob* blob = FieldAt<HostBlob>(r, f.offset);
      return Hex(blob->data == nullptr ? Bytes() : Bytes(blob->data, blob->size));
    }
    case FieldKind::kShortArray:
      return ArrayJson(ArrayView(FieldAt<ShortArray>(r, f.offset)));
    case FieldKind::kLongArray:
      return ArrayJson(ArrayView(FieldAt<LongArray>(r, f.offset)));
    case FieldKind::kFlag:
      return true;
    case FieldKind::kName128: {
      const char* name = FieldAt<char>(r, f.offset);
      return TextJson(std::string(name, strnlen(name, sizeof ImageSummary::format_name)));
    }
  }
  return nullptr;
}

bool HasTypeWord(const RecordField& f) {
  return f.kind == FieldKind::kSized || f.kind == FieldKind::kLongArray;
}

std::string TypeKey(const RecordField& f) { return std::string(f.name) + "Type"; }

// ---- JSON to records --------------------------------------------------------------

[[noreturn]] void Refuse(const std::string& where, const std::string& what) {
  throw RecordJsonError(fmt::format("{}: {}", where, what));
}

// What was found instead, for messages; long values are cut.
std::string Got(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return "got " + text;
}

uint64_t ReadUnsigned(const Json& value, uint64_t max, const std::string& where) {
  if (value.is_number_unsigned() && value.get<uint64_t>() <= max) return value.get<uint64_t>();
  Refuse(where, fmt::format("expected a whole number from 0 to {}, {}", max, Got(value)));
}

int64_t ReadSigned(const Json& value, int64_t min, int64_t max, const std::string& where) {
  if (value.is_number_integer() && !(value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(max))) {
    const int64_t v = value.get<int64_t>();
    if (v >= min && v <= max) return v;
  }
  Refuse(where, fmt::format("expected a whole number from {} to {}, {}", min, max, Got(value)));
}

template <typename T>
T ReadNumber(const Json& value, const std::string& where) {
  return static_cast<T>(ReadUnsigned(value, std::numeric_limits<T>::max(), where));
}

const Json& ExpectArray(const Json& value, size_t length, const std::string& where,
                        std::string_view shape) {
  if (!value.is_array() || value.size() != length) {
    Refuse(where, fmt::format("expected {}, {}", shape, Got(value)));
  }
  return value;
}

template <typename R>
R ReadRational(const Json& value, const std::string& where) {
  const Json& pair = ExpectArray(value, 2, where, "[numerator, denominator]");
  using Word = decltype(R::numerator);
  R r;
  if constexpr (std::is_signed_v<Word>) {
    r.numerator = static_cast<Word>(ReadSigned(pair[0], INT32_MIN, INT32_MAX, where + " numerator"));
    r.denominator = static_cast<Word>(ReadSigned(pair[1], INT32_MIN, INT32_MAX, where + " denominator"));
  } else {
    r.numerator = ReadNumber<Word>(pair[0], where + " numerator");
    r.denominator = ReadNumber<Word>(pair[1], where + " denominator");
  }
  return r;
}

template <typename R>
void ReadRationals(const Json& value, uint32_t count, R* out, const std::string& where) {
  if (count == 1) {
    out[0] = ReadRational<R>(value, where);
    return;
  }
  const Json& array =
      ExpectArray(value, count, where, fmt::format("{} [numerator, denominator] pairs", count));
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = ReadRational<R>(array[i], fmt::format("{}[{}]", where, i));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<uint8_t> ReadHex(const Json& value, const std::string& where) {
  if (!value.is_string()) Refuse(where, fmt::format("expected a string of hex digits, {}", Got(value)));
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : value.get_ref<const std::string&>()) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    const int digit = HexDigit(c);
    if (digit < 0) Refuse(where, fmt::format("'{}' is not a hex digit", c));
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) Refuse(where, "an odd number of hex digits");
  return bytes;
}

// A string, or {"hex": "..."} for bytes that are not UTF-8. Texts end at
// their first NUL in a file, so a NUL inside one cannot be written.
std::string ReadText(const Json& value, const std::string& where) {
  std::string text;
  if (value.is_string()) {
    text = value.get<std::string>();
  } else if (value.is_object() && value.size() == 1 && value.contains("hex")) {
    const std::vector<uint8_t> bytes = ReadHex(value["hex"], where + ".hex");
    text.assign(bytes.begin(), bytes.end());
  } else {
    Refuse(where, fmt::format("expected a string or {{\"hex\": \"...\"}}, {}", Got(value)));
  }
  if (text.find('\0') != std::string::npos) Refuse(where, "a text cannot hold a NUL character");
  return text;
}

void ReadFixedBytes(const std::string& bytes, size_t capacity, void* out, const std::string& where) {
  if (bytes.size() > capacity) {
    Refuse(where, fmt::format("at most {} bytes, got {}", capacity, bytes.size()));
  }
  std::memset(out, 0, capacity);
  std::memcpy(out, bytes.data(), bytes.size());
}

template <typename T>
void ReadArray(const Json& value, HostArray<T>* array, uint16_t type_word, const std::string& where) {
  if (!value.is_array()) Refuse(where, fmt::format("expected an array of numbers, {}", Got(value)));
  const uint64_t max = type_word == kTypeShort ? UINT16_MAX : std::numeric_limits<T>::max();
  std::vector<T> elements;
  for (size_t i = 0; i < value.size(); ++i) {
    elements.push_back(static_cast<T>(ReadUnsigned(value[i], max, fmt::format("{}[{}]", where, i))));
  }
  if (!ArraySetSize(array, 0) || !ArrayAppend(array, elements.data(), elements.size())) {
    throw std::bad_alloc();
  }
}

void ReadField(const RecordField& f, const Json& value, uint16_t type_word, void* r,
               const std::string& where) {
  switch (f.kind) {
    case FieldKind::kU8:
      *FieldAt<uint8_t>(r, f.offset) = ReadNumber<uint8_t>(value, where);
      return;
    case FieldKind::kU16:
      *FieldAt<uint16_t>(r, f.offset) = ReadNumber<uint16_t>(value, where);
      return;
    case FieldKind::kU32:
      *FieldAt<uint32_t>(r, f.offset) = ReadNumber<uint32_t>(value, where);
      return;
    case FieldKind::kSized:
      *FieldAt<uint32_t>(r, f.offset) = static_cast<uint32_t>(
          ReadUnsigned(value, type_word == kTypeShort ? UINT16_MAX : UINT32_MAX, where));
      *FieldAt<uint16_t>(r, f.type_offset) = type_word;
      return;
    case FieldKind::kU16Array: {
      const Json& array = ExpectArray(value, f.count, where, fmt::format("{} numbers", f.count));
      for (uint32_t i = 0; i < f.count; ++i) {
        FieldAt<uint16_t>(r, f.offset)[i] = ReadNumber<uint16_t>(array[i], fmt::format("{}[{}]", where, i));
      }
      return;
    }
    case FieldKind::kRational:
      ReadRationals(value, f.count, FieldAt<HostRational>(r, f.offset), where);
      return;
    case FieldKind::kSRational:
      ReadRationals(value, f.count, FieldAt<HostSRational>(r, f.offset), where);
      return;
    case FieldKind::kText: {
      const std::string text = ReadText(value, where);
      if (!CStringSetN(FieldAt<CString>(r, f.offset), text.data(), text.size())) throw std::bad_alloc();
      return;
    }
    case FieldKind::kChars4:
      ReadFixedBytes(ReadText(value, where), 4, FieldAt<char>(r, f.offset), where);
      return;
    case FieldKind::kBytes4: {
      const std::vector<uint8_t> bytes = ReadHex(value, where);
      ReadFixedBytes(std::string(bytes.begin(), bytes.end()), 4, FieldAt<uint8_t>(r, f.offset), where);
      return;
    }
    case FieldKind::kBlob: {
      const std::vector<uint8_t> bytes = ReadHex(value, where);
      if (bytes.size() > UINT32_MAX) Refuse(where, "more bytes than a 32-bit count can hold");
      if (!HostBlobSet(FieldAt<HostBlob>(r, f.offset), bytes.data(), bytes.size())) throw std::bad_alloc();
      return;
    }
    case FieldKind::kShortArray:
      ReadArray(value, FieldAt<ShortArray>(r, f.offset), 0, where);
      return;
    case FieldKind::kLongArray:
      ReadArray(value, FieldAt<LongArray>(r, f.offset), type_word, where);
      *FieldAt<uint16_t>(r, f.type_offset) = type_word;
      return;
    case FieldKind::kFlag:
      return;  // only the presence bit, set by the caller
    case FieldKind::kName128:
      ReadFixedBytes(ReadText(value, where), sizeof ImageSummary::format_name - 1,
                     FieldAt<char>(r, f.offset), where);
      return;
  }
}

struct RecordDeleter {
  uint32_t type;
  void operator()(void* record) const { ImageInfoRecordDelete(type, record); }
};
using RecordPtr = std::unique_ptr<void, RecordDeleter>;

RecordPtr ReadRecord(const RecordSchema& schema, const Json& object) {
  const std::string where = schema.name;
  if (!object.is_object()) Refuse(where, fmt::format("expected an object of fields, {}", Got(object)));
  std::set<std::string, std::less<>> known;
  for (const RecordField& f : schema.fields) {
    known.insert(f.name);
    if (HasTypeWord(f)) known.insert(TypeKey(f));
  }
  for (const auto& item : object.items()) {
    if (known.count(item.key()) == 0) Refuse(where + "." + item.key(), "unknown field");
  }

  RecordPtr record(ImageInfoRecordNew(schema.type), RecordDeleter{schema.type});
  if (record == nullptr) throw std::bad_alloc();
  for (const RecordField& f : schema.fields) {
    const std::string field_where = where + "." + f.name;
    const auto value = object.find(f.name);
    uint16_t type_word = kDefaultTypeWord;
    if (HasTypeWord(f)) {
      const auto type = object.find(TypeKey(f));
      if (type != object.end()) {
        if (value == object.end()) Refuse(where + "." + TypeKey(f), fmt::format("given without {}", f.name));
        type_word = ReadNumber<uint16_t>(*type, where + "." + TypeKey(f));
      }
    }
    if (value == object.end()) continue;
    if (f.kind == FieldKind::kFlag) {
      if (!value->is_boolean()) Refuse(field_where, fmt::format("expected true or false, {}", Got(*value)));
      if (!value->get<bool>()) continue;
    }
    ReadField(f, *value, type_word, record.get(), field_where);
    MarkFieldPresent(f, record.get());
  }
  return record;
}

std::string RecordNames() {
  std::string names;
  for (const RecordSchema& schema : RecordSchemas()) {
    names += (names.empty() ? "" : ", ") + std::string(schema.name);
  }
  return names;
}

}  // namespace

Json RecordToJson(uint32_t type, const void* record) {
  const RecordSchema* schema = FindRecordSchema(type);
  if (schema == nullptr || record == nullptr) return nullptr;
  Json object = Json::object();
  for (const RecordField& f : schema->fields) {
    if (!FieldPresent(f, record)) continue;
    object[f.name] = FieldToJson(f, record);
    if (HasTypeWord(f)) object[TypeKey(f)] = *FieldAt<uint16_t>(record, f.type_offset);
  }
  return object;
}

Json RecordsToJson(const ImageInfoList& list) {
  Json document = Json::object();
  ImageInfoListVisit(&list, [&](uint32_t type, void* record) {
    const RecordSchema* schema = FindRecordSchema(type);
    if (schema == nullptr || record == nullptr || document.contains(schema->name)) return;
    document[schema->name] = RecordToJson(type, record);
  });
  return document;
}

OwnedRecords::OwnedRecords() : list_{} {}

OwnedRecords::~OwnedRecords() {
  ImageInfoListDeleteRecords(&list_);
  ImageInfoListFree(&list_);
}

OwnedRecords::OwnedRecords(OwnedRecords&& other) noexcept : list_(other.list_) { other.list_ = {}; }

void OwnedRecords::Append(uint32_t type, void* record) {
  if (!ImageInfoListAppend(&list_, type, record)) {
    ImageInfoRecordDelete(type, record);
    throw std::bad_alloc();
  }
}

OwnedRecords RecordsFromJson(const Json& document) {
  const Json* object = &document;
  if (document.is_array()) {
    if (document.size() != 1) {
      Refuse("document", fmt::format("an array must hold the records of exactly one file, this one "
                                     "holds {} entries",
                                     document.size()));
    }
    object = &document[0];
  }
  if (!object->is_object()) Refuse("document", fmt::format("expected an object of records, {}", Got(*object)));
  if (object->contains("Error")) {
    Refuse("document", fmt::format("it reports a file that failed ({})", Got((*object)["Error"])));
  }
  for (const auto& item : object->items()) {
    // What `info --json` says besides the records.
    if (item.key() == "SourceFile" || item.key() == "Hint" || item.key() == "Unread") continue;
    bool known = false;
    for (const RecordSchema& schema : RecordSchemas()) known = known || item.key() == schema.name;
    if (!known) Refuse(item.key(), fmt::format("unknown record; records are {}", RecordNames()));
  }
  OwnedRecords records;
  for (const RecordSchema& schema : RecordSchemas()) {
    const auto member = object->find(schema.name);
    if (member == object->end()) continue;
    RecordPtr record = ReadRecord(schema, *member);
    records.Append(schema.type, record.release());
  }
  return records;
}

namespace {

Json ReadRecordsDocument(const std::string& path) {
  std::string text;
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw RecordJsonError(fmt::format("{}: cannot be read", path));
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) throw RecordJsonError(fmt::format("{}: cannot be read", path));
    text = content.str();
  }
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& error) {
    throw RecordJsonError(fmt::format("{}: not JSON: {}", path, error.what()));
  }
}

}  // namespace

void DropFileLayout(Json& document) {
  Json* object = document.is_array() && document.size() == 1 ? &document[0] : &document;
  if (!object->is_object()) return;
  object->erase("TiffThumb");
  object->erase("Thumbnail");
  object->erase("Image");
  for (const char* field : {"ImageWidth", "ImageLength", "StripOffsets", "StripOffsetsType",
                            "StripByteCounts", "StripByteCountsType", "RowsPerStrip",
                            "RowsPerStripType", "ImageWidthType", "ImageLengthType",
                            "JPEGInterchangeFormat", "JPEGInterchangeFormatLength"}) {
    if (object->contains("TiffMain") && (*object)["TiffMain"].is_object()) (*object)["TiffMain"].erase(field);
  }
  for (const char* field : {"PixelXDimension", "PixelYDimension", "PixelXDimensionType",
                            "PixelYDimensionType"}) {
    if (object->contains("Exif") && (*object)["Exif"].is_object()) (*object)["Exif"].erase(field);
  }
}

OwnedRecords ReadRecordsFile(const std::string& path, bool keep_layout) {
  Json document = ReadRecordsDocument(path);
  if (!keep_layout) DropFileLayout(document);
  try {
    return RecordsFromJson(document);
  } catch (const RecordJsonError& error) {
    throw RecordJsonError(fmt::format("{}: {}", path, error.what()));
  }
}

}  // namespace veltora::host
