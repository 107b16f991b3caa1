// Fuzzes the merge of records into an EXIF segment (BuildMergedApp1). The
// whole input is the file whose first APP1 is merged into; the records are
// made from its last bytes (the very last chooses which records the list
// holds), so every stored JPEG is a useful seed. When a segment comes out:
// its length field matches it and stays within the bound, it parses with the
// EXIF reader in the source's byte order, every IFD0 and EXIF value the
// merge had to replace (a record value of at most 4 bytes whose tag the
// source held once, with the same size) reads back as the record holds it,
// and a maker note keeps its offset and its bytes. Any crash, sanitizer
// report or broken property is a bug.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "create/exif_block_builder.h"
#include "create/exif_merge.h"
#include "create/whole_file.h"
#include "edit/block_entries.h"
#include "exif/exif_reader.h"
#include "fuzz/fuzzed_records.h"

namespace {

using veltora::edit::BlockDirectory;
using veltora::edit::BlockEntry;

// Bytes at the input's end that make the records.
constexpr size_t kRecordBytes = 1024;
constexpr uint16_t kTagExifPointer = 34665;
constexpr uint16_t kTagMakerNote = 37500;

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Tiff {
  std::span<const uint8_t> bytes;
  veltora::bytes::ByteOrder order;
};

std::optional<BlockDirectory> Ifd0(const Tiff& t) {
  return veltora::edit::ReadBlockDirectory(t.bytes, t.order, veltora::bytes::Read32(&t.bytes[4], t.order));
}

std::optional<BlockDirectory> ExifIfd(const Tiff& t) {
  const auto ifd0 = Ifd0(t);
  if (!ifd0) return std::nullopt;
  // As the editor finds it: the last pointer entry stored as one LONG.
  std::optional<uint32_t> offset;
  for (const BlockEntry& e : ifd0->entries) {
    if (e.entry.tag == kTagExifPointer && e.entry.type == 4 && e.entry.count == 1) offset = e.entry.value;
  }
  if (!offset) return std::nullopt;
  return veltora::edit::ReadBlockDirectory(t.bytes, t.order, *offset);
}

// The entry with `tag` when the directory holds exactly one.
std::optional<BlockEntry> Only(const std::optional<BlockDirectory>& dir, uint16_t tag) {
  if (!dir) return std::nullopt;
  std::optional<BlockEntry> found;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag != tag) continue;
    if (found) return std::nullopt;
    found = e;
  }
  return found;
}

void CheckReplaced(const ImageInfoList* list, uint32_t kind, const std::optional<BlockDirectory>& before,
                   const std::optional<BlockDirectory>& after, veltora::bytes::ByteOrder order) {
  for (const auto& r : veltora::create::RecordEntries(list, kind, order)) {
    if (r.bytes.size() > 4) continue;
    const auto old_entry = Only(before, r.tag);
    // Sized as the merge sizes it: types the value primitives do not
    // convert (FLOAT, say) count as 0 bytes and are never replaced.
    if (!old_entry || veltora::exif::EntryValueSize(&old_entry->entry) != r.bytes.size()) continue;
    const auto new_entry = Only(after, r.tag);
    Check(new_entry.has_value() && new_entry->entry.type == r.type && new_entry->entry.count == r.count);
    Check(std::equal(r.bytes.begin(), r.bytes.end(), new_entry->field));
  }
}

// The segment as the one APP1 of a file of its own.
std::vector<uint8_t> AsFile(std::span<const uint8_t> segment) {
  std::vector<uint8_t> file(segment.size() + 4);
  file[0] = 0xFF;
  file[1] = 0xD8;
  std::copy(segment.begin(), segment.end(), file.begin() + 2);
  file[file.size() - 2] = 0xFF;
  file[file.size() - 1] = 0xD9;
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t record_bytes = std::min(size - 1, kRecordBytes);
  veltora::fuzzing::InputBytes in({data + size - 1 - record_bytes, record_bytes});
  veltora::fuzzing::FuzzedList list(data[size - 1], in);

  const std::span<const uint8_t> file(data, size);
  const int64_t at = veltora::create::FindJpegMarker(0xFFE1, file);
  if (at < 0) return 0;
  const auto app1 = file.subspan(static_cast<size_t>(at));
  const auto merged = veltora::create::BuildMergedApp1(app1, list.get());
  if (!merged) return 0;

  const std::vector<uint8_t>& segment = merged->bytes;
  Check(segment.size() >= 18 && segment.size() <= veltora::create::kSegmentBufferSize);
  Check(segment.size() == 2u + (uint32_t{segment[2]} << 8 | segment[3]));
  Check(merged->growth == static_cast<int32_t>(segment.size()) - 2 - merged->old_length);
  const veltora::bytes::ByteOrder order = segment[10] == 'I' ? veltora::bytes::kLittleEndian : veltora::bytes::kBigEndian;
  // What the reader made of the source segment it still makes of the new one.
  const std::vector<uint8_t> old_file = AsFile(app1.first(size_t{2} + merged->old_length));
  const std::vector<uint8_t> new_file = AsFile(segment);
  veltora::exif::ExifReader old_reader(old_file, 1, 0), reader(new_file, 1, 0);
  Check(reader.Valid() >= old_reader.Valid() && reader.Order() == order && reader.TiffHeaderOffset() == 12);

  const Tiff before{app1.subspan(10, size_t{merged->old_length} - 8), order};
  const Tiff after{std::span<const uint8_t>(segment).subspan(10), order};
  CheckReplaced(list.get(), veltora::create::kMergeIfd0, Ifd0(before), Ifd0(after), order);
  CheckReplaced(list.get(), veltora::create::kMergeExif, ExifIfd(before), ExifIfd(after), order);

  const auto old_note = Only(ExifIfd(before), kTagMakerNote);
  if (old_note && old_note->OutOfLine()) {
    const auto old_bytes = veltora::edit::ValueBytes(before.bytes, *old_note);
    const auto new_note = Only(ExifIfd(after), kTagMakerNote);
    Check(new_note.has_value());
    if (old_bytes) {
      Check(new_note->entry.value == old_note->entry.value);
      const auto new_bytes = veltora::edit::ValueBytes(after.bytes, *new_note);
      Check(new_bytes && std::equal(old_bytes->begin(), old_bytes->end(), new_bytes->begin(), new_bytes->end()));
    }
  }
  return 0;
}
