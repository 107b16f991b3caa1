#include "info/record_entries.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "exif/directory.h"

namespace veltora::info {
namespace {


// The largest data that still lies in the entry itself.
constexpr uint64_t kInlineSize = 4;
// Where in the 12-byte entry the value or offset field lies.
constexpr uint64_t kValueFieldOffset = 8;


uint16_t U16Or0(bytes::ByteView block, uint64_t at) { return block.U16(at).value_or(0); }
uint32_t U32Or0(bytes::ByteView block, uint64_t at) { return block.U32(at).value_or(0); }

// SHORT data gives its 16-bit value, any other type the 32-bit one.
uint32_t SizedValue(const EntryData& entry, bytes::ByteView block) {
  return entry.type == exif::kTypeShort ? U16Or0(block, entry.position) : U32Or0(block, entry.position);
}

template <typename Pair>
void ReadPairs(const EntryData& entry, bytes::ByteView block, uint32_t n, Pair* out) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t at = entry.position + uint64_t{i} * 8;
    out[i].numerator = static_cast<decltype(out[i].numerator)>(U32Or0(block, at));
    out[i].denominator = static_cast<decltype(out[i].denominator)>(U32Or0(block, at + 4));
  }
}

void StoreText(const EntryData& entry, bytes::ByteView block, bool cut_to_count, CString* text) {
  const std::optional<bytes::ByteView> rest = block.From(entry.position);
  if (!rest) return;
  uint64_t limit = rest->size();
  if (cut_to_count) limit = std::min<uint64_t>(limit, entry.count);
  const auto* first = rest->data();
  const auto* nul = std::find(first, first + limit, uint8_t{0});
  if (!CStringSetN(text, reinterpret_cast<const char*>(first), static_cast<size_t>(nul - first))) {
    throw std::bad_alloc();
  }
}

// The versions whose four bytes are taken as stored whatever the entry's
// size; the other 4-byte fields take the data's bytes, at most four.
bool TakesFourBytes(const RecordField& field) {
  return (field.directory == FieldDirectory::kExif && field.tag == exif::kTagFlashpixVersion) ||
         (field.directory == FieldDirectory::kGps && field.tag == exif::kTagGpsVersionId);
}

void StoreFourBytes(const RecordField& field, const EntryData& entry, bytes::ByteView block, void* out) {
  const uint64_t n = TakesFourBytes(field) ? 4 : std::min<uint64_t>(entry.size, 4);
  std::memset(out, 0, 4);
  for (uint64_t i = 0; i < n; ++i) {
    static_cast<uint8_t*>(out)[i] = block.U8(entry.position + i).value_or(0);
  }
}

// `count` elements of `width` bytes; false when they are not all in the block.
template <typename T>
bool StoreArray(const EntryData& entry, bytes::ByteView block, uint32_t width, HostArray<T>* array) {
  if (!block.Contains(entry.position, uint64_t{entry.count} * width)) return false;
  std::vector<T> elements(entry.count);
  for (uint32_t i = 0; i < entry.count; ++i) {
    const uint64_t at = entry.position + uint64_t{i} * width;
    elements[i] = static_cast<T>(width == 2 ? U16Or0(block, at) : U32Or0(block, at));
  }
  if (!ArraySetSize(array, 0) || !ArrayAppend(array, elements.data(), elements.size())) {
    throw std::bad_alloc();
  }
  return true;
}

bool StoreValue(const RecordField& field, const EntryData& entry, bytes::ByteView block, void* record) {
  const uint32_t at = field.offset;
  switch (field.kind) {
    case FieldKind::kU8:
      *FieldAt<uint8_t>(record, at) = block.U8(entry.position).value_or(0);
      return true;
    case FieldKind::kU16:
      *FieldAt<uint16_t>(record, at) = U16Or0(block, entry.position);
      return true;
    case FieldKind::kU32:
      // The Interoperability dimensions follow their type; the thumbnail's
      // place and length are 32-bit values.
      *FieldAt<uint32_t>(record, at) = field.directory == FieldDirectory::kInterop
                                           ? SizedValue(entry, block)
                                           : U32Or0(block, entry.position);
      return true;
    case FieldKind::kSized:
      *FieldAt<uint32_t>(record, at) = SizedValue(entry, block);
      *FieldAt<uint16_t>(record, field.type_offset) = entry.type;
      return true;
    case FieldKind::kU16Array:
      for (uint32_t i = 0; i < field.count; ++i) {
        FieldAt<uint16_t>(record, at)[i] = U16Or0(block, entry.position + uint64_t{i} * 2);
      }
      return true;
    case FieldKind::kRational:
      ReadPairs(entry, block, field.count, FieldAt<HostRational>(record, at));
      return true;
    case FieldKind::kSRational:
      ReadPairs(entry, block, field.count, FieldAt<HostSRational>(record, at));
      return true;
    case FieldKind::kText:
      // The Interoperability texts are read up to their NUL, not cut.
      StoreText(entry, block, field.directory != FieldDirectory::kInterop, FieldAt<CString>(record, at));
      return true;
    case FieldKind::kChars4:
    case FieldKind::kBytes4:
      StoreFourBytes(field, entry, block, FieldAt<uint8_t>(record, at));
      return true;
    case FieldKind::kBlob: {
      const std::optional<bytes::ByteView> bytes = block.Sub(entry.position, entry.count);
      if (!bytes) return false;
      // A view of the block in memory, so its size fits the size type.
      const auto size = static_cast<size_t>(bytes->size());
      if (!HostBlobSet(FieldAt<HostBlob>(record, at), bytes->data(), size)) throw std::bad_alloc();
      return true;
    }
    case FieldKind::kShortArray:
      return StoreArray(entry, block, 2, FieldAt<ShortArray>(record, at));
    case FieldKind::kLongArray:
      if (!StoreArray(entry, block, entry.type == exif::kTypeShort ? 2 : 4, FieldAt<LongArray>(record, at))) {
        return false;
      }
      *FieldAt<uint16_t>(record, field.type_offset) = entry.type;
      return true;
    case FieldKind::kFlag:
    case FieldKind::kName128:
      return false;  // no attribute of a file is stored into these
  }
  return false;
}

}  // namespace

std::optional<EntryData> ReadEntry(bytes::ByteView block, uint64_t at) {
  bytes::ByteCursor cursor(block, at);
  EntryData entry;
  entry.tag = cursor.U16();
  entry.type = cursor.U16();
  entry.count = cursor.U32();
  const uint32_t value_field = cursor.U32();
  if (!cursor.ok()) return std::nullopt;
  entry.size = uint64_t{entry.count} * exif::TypeSize(entry.type);
  entry.position = entry.size <= kInlineSize ? at + kValueFieldOffset : value_field;
  return entry;
}

const RecordField* FindField(const RecordSchema& schema, FieldDirectory directory, uint16_t tag) {
  for (const RecordField& field : schema.fields) {
    if (field.tag == tag && field.directory == directory && field.kind != FieldKind::kFlag) return &field;
  }
  return nullptr;
}

void StoreField(const RecordField& field, const EntryData& entry, bytes::ByteView block, void* record) {
  if (StoreValue(field, entry, block, record)) MarkFieldPresent(field, record);
}

}  // namespace veltora::info
