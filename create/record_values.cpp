#include "create/record_values.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "exif/tiff_value.h"

namespace veltora::create {
namespace {

constexpr uint16_t kTypeWordShort = 3;

// Numbers of 2 or 4 bytes each, in `order`.
FieldValue Numbers(uint16_t type, std::span<const uint32_t> values, bytes::ByteOrder order) {
  const size_t unit = type == exif::kTypeShort ? 2 : 4;
  FieldValue out{type, static_cast<uint32_t>(values.size()), std::vector<uint8_t>(values.size() * unit)};
  for (size_t i = 0; i < values.size(); ++i) {
    if (unit == 2) {
      bytes::Write16(&out.bytes[i * unit], static_cast<uint16_t>(values[i]), order);
    } else {
      bytes::Write32(&out.bytes[i * unit], values[i], order);
    }
  }
  return out;
}

template <typename T>
FieldValue Widened(uint16_t type, std::span<const T> values, bytes::ByteOrder order) {
  std::vector<uint32_t> wide(values.begin(), values.end());
  return Numbers(type, wide, order);
}

// Rationals as numerator then denominator, 32 bits each.
template <typename R>
FieldValue Rationals(uint16_t type, std::span<const R> values, bytes::ByteOrder order) {
  std::vector<uint32_t> words;
  for (const R& r : values) {
    words.push_back(static_cast<uint32_t>(r.numerator));
    words.push_back(static_cast<uint32_t>(r.denominator));
  }
  FieldValue out = Numbers(exif::kTypeLong, words, order);
  out.type = type;
  out.count = static_cast<uint32_t>(values.size());
  return out;
}

FieldValue Raw(uint16_t type, const void* data, size_t n) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  return {type, static_cast<uint32_t>(n), std::vector<uint8_t>(bytes, bytes + n)};
}

// No value larger than one APP1 segment can be stored. A host record that
// declares more (an array count of 0x7FFFFFFF over a few elements, a 1 GiB
// blob over 4 bytes) breaks its contract; its elements are never read.
constexpr uint64_t kMaxValueBytes = 0xFFFF;
bool FitsASegment(uint64_t count, uint64_t unit) { return count <= kMaxValueBytes / unit; }

uint16_t SizedType(const void* record, const RecordField& field) {
  return *FieldAt<uint16_t>(record, field.type_offset) == kTypeWordShort ? exif::kTypeShort
                                                                         : exif::kTypeLong;
}

}  // namespace

std::optional<FieldValue> EncodeField(const void* record, const RecordField& field,
                                      bytes::ByteOrder order) {
  const uint16_t byte_type = field.directory == FieldDirectory::kGps ? exif::kTypeByte : exif::kTypeUndefined;
  switch (field.kind) {
    case FieldKind::kU8:
      return Raw(byte_type, FieldAt<uint8_t>(record, field.offset), 1);
    case FieldKind::kChars4:
    case FieldKind::kBytes4:
      return Raw(byte_type, FieldAt<uint8_t>(record, field.offset), 4);
    case FieldKind::kU16:
      return Widened<uint16_t>(exif::kTypeShort, {FieldAt<uint16_t>(record, field.offset), 1}, order);
    case FieldKind::kU32:
      return Numbers(exif::kTypeLong, {FieldAt<uint32_t>(record, field.offset), 1}, order);
    case FieldKind::kSized:
      return Numbers(SizedType(record, field), {FieldAt<uint32_t>(record, field.offset), 1}, order);
    case FieldKind::kU16Array:
      return Widened<uint16_t>(exif::kTypeShort, {FieldAt<uint16_t>(record, field.offset), field.count},
                               order);
    case FieldKind::kRational:
      return Rationals<HostRational>(exif::kTypeRational,
                                     {FieldAt<HostRational>(record, field.offset), field.count}, order);
    case FieldKind::kSRational:
      return Rationals<HostSRational>(exif::kTypeSRational,
                                      {FieldAt<HostSRational>(record, field.offset), field.count}, order);
    case FieldKind::kText: {
      const CString& text = *FieldAt<CString>(record, field.offset);
      const int32_t length = CStringLength(&text);
      if (length < 0 || (length > 0 && text.chars == nullptr) ||
          !FitsASegment(static_cast<uint64_t>(length) + 1, 1)) {
        return std::nullopt;
      }
      FieldValue out = Raw(exif::kTypeAscii, text.chars, static_cast<size_t>(length));
      out.bytes.push_back(0);
      ++out.count;
      return out;
    }
    case FieldKind::kBlob: {
      const HostBlob& blob = *FieldAt<HostBlob>(record, field.offset);
      if ((blob.size != 0 && blob.data == nullptr) || !FitsASegment(blob.size, 1)) return std::nullopt;
      return Raw(exif::kTypeUndefined, blob.data, blob.size);
    }
    case FieldKind::kShortArray: {
      const ShortArray& array = *FieldAt<ShortArray>(record, field.offset);
      if ((array.count > 0 && array.elements == nullptr) ||
          !FitsASegment(static_cast<uint32_t>(std::max(array.count, 0)), 2)) {
        return std::nullopt;
      }
      return Widened<uint16_t>(exif::kTypeShort, ArrayView(&array), order);
    }
    case FieldKind::kLongArray: {
      const LongArray& array = *FieldAt<LongArray>(record, field.offset);
      const uint16_t type = SizedType(record, field);
      if ((array.count > 0 && array.elements == nullptr) ||
          !FitsASegment(static_cast<uint32_t>(std::max(array.count, 0)), type == exif::kTypeShort ? 2 : 4)) {
        return std::nullopt;
      }
      return Numbers(type, ArrayView(&array), order);
    }
    case FieldKind::kFlag:
    case FieldKind::kName128:
      break;
  }
  return std::nullopt;
}

}  // namespace veltora::create
