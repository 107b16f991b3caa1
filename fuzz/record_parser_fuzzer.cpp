// Fuzzes the record parser: ParseTiffBlock over the input (or, for a JPEG,
// ParseExifSegment over its first APP1 segment), for every record and for a
// subset chosen by the input's size. Aborts when a record disagrees with its
// presence bits: a field whose bit is clear must be untouched (all zero), a
// mask may hold only the bits of its table, a text must end at its length,
// and the list must hold exactly the records asked for, in list order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "exif/jpeg_segments.h"
#include "frame/veltora.h"
#include "info/exif_records.h"
#include "info/record_parser.h"
#include "interface/record_fields.h"

namespace {

using namespace veltora;

void Check(bool ok) {
  if (!ok) std::abort();
}

size_t StorageSize(const RecordField& f) {
  switch (f.kind) {
    case FieldKind::kU8: return 1;
    case FieldKind::kU16: return 2;
    case FieldKind::kU32:
    case FieldKind::kSized:
    case FieldKind::kChars4:
    case FieldKind::kBytes4: return 4;
    case FieldKind::kU16Array: return 2 * f.count;
    case FieldKind::kRational:
    case FieldKind::kSRational: return 8 * f.count;
    case FieldKind::kText: return sizeof(CString);
    case FieldKind::kBlob: return sizeof(HostBlob);
    case FieldKind::kShortArray: return sizeof(ShortArray);
    case FieldKind::kLongArray: return sizeof(LongArray);
    case FieldKind::kFlag: return 0;
    case FieldKind::kName128: return 128;
  }
  return 0;
}

bool AllZero(const void* record, uint32_t offset, size_t n) {
  const auto* bytes = FieldAt<uint8_t>(record, offset);
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

void CheckRecord(const RecordSchema& schema, const void* record, uint64_t block_size) {
  // Every mask word holds only the bits its table gives out.
  std::vector<std::pair<uint32_t, uint32_t>> masks;  // offset, bits known
  for (const RecordField& f : schema.fields) {
    bool found = false;
    for (auto& [offset, bits] : masks) {
      if (offset == f.mask_offset) bits |= f.bit, found = true;
    }
    if (!found) masks.emplace_back(f.mask_offset, f.bit);
  }
  for (const auto& [offset, bits] : masks) Check((*FieldAt<uint32_t>(record, offset) & ~bits) == 0);

  for (const RecordField& f : schema.fields) {
    if (!FieldPresent(f, record)) {
      Check(AllZero(record, f.offset, StorageSize(f)));
      if (f.kind == FieldKind::kSized || f.kind == FieldKind::kLongArray) Check(AllZero(record, f.type_offset, 2));
      continue;
    }
    if (f.kind == FieldKind::kText) {
      const CString* text = FieldAt<CString>(record, f.offset);
      const auto length = static_cast<size_t>(CStringLength(text));
      Check(std::strlen(CStringGet(text)) == length && length <= block_size);
    } else if (f.kind == FieldKind::kBlob) {
      const HostBlob* blob = FieldAt<HostBlob>(record, f.offset);
      Check(blob->size <= block_size && (blob->size == 0) == (blob->data == nullptr));
    } else if (f.kind == FieldKind::kShortArray || f.kind == FieldKind::kLongArray) {
      const auto* array = FieldAt<ShortArray>(record, f.offset);
      Check(array->count >= 0 && static_cast<uint64_t>(array->count) <= block_size / 2);
    }
  }
}

void ParseAndCheck(std::span<const uint8_t> input, uint32_t flags) {
  ImageInfoList list{};
  HRESULT result;
  uint64_t block_size = input.size();
  if (input.size() >= 2 && input[0] == 0xFF && input[1] == 0xD8) {
    exif::JpegSegmentWalker walk(0, exif::SoiRule::kStandalone);
    std::span<const uint8_t> segment;
    while (const auto s = walk.Next(input)) {
      if (s->marker == exif::kJpegApp1) {
        segment = input.subspan(static_cast<size_t>(s->position));
        break;
      }
    }
    if (segment.empty()) return;
    block_size = 0xFFFF;
    result = info::ParseExifSegment(segment, &list, flags);
  } else {
    result = info::ParseTiffBlock(input.data(), static_cast<uint32_t>(input.size()), &list, flags);
  }
  if (result != S_OK) {
    Check(result == E_FAIL && list.count == 0);
    return;
  }
  // Exactly the records asked for, in list order (an IFD1 may be missing).
  size_t next = 0;
  constexpr uint32_t kOrder[] = {INFO_TIFF_MAIN, INFO_EXIF, INFO_GPS, INFO_TIFF_THUMB};
  ImageInfoListVisit(&list, [&](uint32_t type, void* record) {
    while (next < 4 && kOrder[next] != type) {
      Check(kOrder[next] == INFO_TIFF_THUMB || (flags & kOrder[next]) == 0);
      ++next;
    }
    Check(next < 4 && (flags & type) != 0 && record != nullptr);
    ++next;
    CheckRecord(*FindRecordSchema(type), record, block_size);
    if (type == INFO_TIFF_MAIN || type == INFO_TIFF_THUMB) {
      const uint32_t read = static_cast<const TiffInfo*>(record)->mask1;
      // A sub-directory counts as read only into a record that was asked for.
      Check((read & TIFF_M1_EXIF_IFD_READ) == 0 || (type == INFO_TIFF_MAIN && (flags & INFO_EXIF) != 0));
      Check((read & TIFF_M1_GPS_IFD_READ) == 0 || (type == INFO_TIFF_MAIN && (flags & INFO_GPS) != 0));
    }
  });
  for (; next < 4; ++next) Check(kOrder[next] == INFO_TIFF_THUMB || (flags & kOrder[next]) == 0);
  ImageInfoListDeleteRecords(&list);
  ImageInfoListFree(&list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  ParseAndCheck(input, INFO_EXIF_RECORDS);
  // A subset that changes with the input: never the empty one.
  const uint32_t subset = static_cast<uint32_t>((size % 15) + 1) << 16;
  ParseAndCheck(input, subset);
  return 0;
}
